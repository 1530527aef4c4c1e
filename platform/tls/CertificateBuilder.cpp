#include "platform/tls/CertificateBuilder.h"

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include "platform/text/Hex.h"

namespace gx::tls {
namespace {

bool AddExtension(X509* cert, X509V3_CTX* context, int nid, const std::string& value) {
    X509_EXTENSION* extension = X509V3_EXT_nconf_nid(nullptr, context, nid, value.c_str());
    if (!extension) {
        return false;
    }
    bool added = X509_add_ext(cert, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

// A random positive 127-bit serial: unique enough that two leaves never share one.
bool SetRandomSerial(X509* cert) {
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1) {
        return false;
    }
    bytes[0] &= 0x7F;
    BIGNUM* number = BN_bin2bn(bytes, sizeof bytes, nullptr);
    bool set = number && BN_to_ASN1_INTEGER(number, X509_get_serialNumber(cert)) != nullptr;
    BN_free(number);
    return set;
}

bool AddNamePart(X509_NAME* name, const char* field, const std::string& text) {
    return text.empty() ||
           X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                                      reinterpret_cast<const unsigned char*>(text.c_str()), -1, -1,
                                      0) == 1;
}

// The subject, in the usual order: organisation, unit, then the common name.
bool SetName(X509* cert, const CertificateFields& fields) {
    X509_NAME* name = X509_get_subject_name(cert);
    return AddNamePart(name, "O", fields.organization) &&
           AddNamePart(name, "OU", fields.organizationalUnit) && !fields.commonName.empty() &&
           AddNamePart(name, "CN", fields.commonName);
}

std::string ReadBio(BIO* bio) {
    char* data = nullptr;
    long size = BIO_get_mem_data(bio, &data);
    return size > 0 ? std::string(data, static_cast<size_t>(size)) : std::string();
}

}  // namespace

X509Handle BuildCertificate(const CertificateFields& fields) {
    X509Handle cert(X509_new());
    if (!cert || X509_set_version(cert.get(), 2) != 1 || !SetRandomSerial(cert.get()) ||
        !SetName(cert.get(), fields)) {
        return {};
    }
    X509* issuer = fields.issuer ? fields.issuer : cert.get();
    if (X509_set_issuer_name(cert.get(), X509_get_subject_name(issuer)) != 1 ||
        !X509_gmtime_adj(X509_getm_notBefore(cert.get()), fields.validFrom.count()) ||
        !X509_gmtime_adj(X509_getm_notAfter(cert.get()),
                         (fields.validFrom + fields.validFor).count()) ||
        X509_set_pubkey(cert.get(), fields.publicKey) != 1) {
        return {};
    }
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, cert.get(), nullptr, nullptr, 0);
    bool extended =
        fields.authority
            ? AddExtension(cert.get(), &context, NID_basic_constraints,
                           "critical,CA:TRUE,pathlen:0") &&
                  AddExtension(cert.get(), &context, NID_key_usage,
                               "critical,keyCertSign,cRLSign") &&
                  AddExtension(cert.get(), &context, NID_subject_key_identifier, "hash")
            : AddExtension(cert.get(), &context, NID_basic_constraints, "critical,CA:FALSE") &&
                  AddExtension(cert.get(), &context, NID_key_usage, "critical,digitalSignature") &&
                  AddExtension(cert.get(), &context, NID_ext_key_usage, "serverAuth") &&
                  (fields.subjectAltName.empty() ||
                   AddExtension(cert.get(), &context, NID_subject_alt_name,
                                fields.subjectAltName)) &&
                  AddExtension(cert.get(), &context, NID_subject_key_identifier, "hash") &&
                  AddExtension(cert.get(), &context, NID_authority_key_identifier, "keyid:always");
    if (!extended || X509_sign(cert.get(), fields.signingKey, EVP_sha256()) <= 0) {
        return {};
    }
    return cert;
}

PkeyHandle NewEcKey() {
    return PkeyHandle(EVP_EC_gen("P-256"));
}

std::string Fingerprint(X509* certificate) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest, &length) != 1) {
        return {};
    }
    return LowerHex(digest, length);
}

std::string CertificatePem(X509* certificate) {
    BioHandle bio(BIO_new(BIO_s_mem()));
    return bio && PEM_write_bio_X509(bio.get(), certificate) == 1 ? ReadBio(bio.get()) : "";
}

std::string PrivateKeyPem(EVP_PKEY* key) {
    BioHandle bio(BIO_new(BIO_s_mem()));
    return bio && PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) ==
                       1
               ? ReadBio(bio.get())
               : "";
}

X509Handle CertificateFromPem(const std::string& pem) {
    BioHandle bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    return X509Handle(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
}

PkeyHandle PrivateKeyFromPem(const std::string& pem) {
    BioHandle bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    return PkeyHandle(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr)
                          : nullptr);
}

}  // namespace gx::tls
