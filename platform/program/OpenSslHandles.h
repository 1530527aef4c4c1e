// Owning handles for the OpenSSL objects the program keeps, freed by their own functions. Shared
// by the TLS units and by the maker's signatures (builds, list bundles).
#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>

namespace gx {

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct PkeyContextFree {
    void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};
struct MdContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct X509Free {
    void operator()(X509* cert) const { X509_free(cert); }
};
struct BioFree {
    void operator()(BIO* bio) const { BIO_free_all(bio); }
};

using PkeyHandle = std::unique_ptr<EVP_PKEY, PkeyFree>;
using PkeyContextHandle = std::unique_ptr<EVP_PKEY_CTX, PkeyContextFree>;
using MdContextHandle = std::unique_ptr<EVP_MD_CTX, MdContextFree>;
using X509Handle = std::unique_ptr<X509, X509Free>;
using BioHandle = std::unique_ptr<BIO, BioFree>;

// Shared ownership of a certificate or key (the leaf cache hands the same leaf to several
// connections at once); the count is OpenSSL's own.
inline std::shared_ptr<X509> ShareCertificate(X509Handle cert) {
    return std::shared_ptr<X509>(cert.release(), X509Free{});
}
inline std::shared_ptr<EVP_PKEY> ShareKey(PkeyHandle key) {
    return std::shared_ptr<EVP_PKEY>(key.release(), PkeyFree{});
}

}  // namespace gx
