// Builds the two kinds of certificate the program makes: its own root authority, and the leaf
// certificates that root signs for the sites whose HTTPS traffic is inspected.
#pragma once

#include <chrono>
#include <string>

#include "platform/program/OpenSslHandles.h"

namespace gx::tls {

struct CertificateFields {
    std::string commonName;
    std::string organization;        // O, when not empty
    std::string organizationalUnit;  // OU, when not empty
    EVP_PKEY* publicKey = nullptr;   // the key the certificate is for
    EVP_PKEY* signingKey = nullptr;
    X509* issuer = nullptr;             // nullptr: self-signed (a root)
    bool authority = false;             // a root: CA, may sign certificates, not servers
    std::string subjectAltName;         // for a leaf: "DNS:name" or "IP:address" (none: empty)
    std::chrono::seconds validFrom{0};  // from now (negative: in the past)
    std::chrono::seconds validFor{0};
};

// The signed certificate (SHA-256), or an empty handle when OpenSSL refuses any step.
X509Handle BuildCertificate(const CertificateFields& fields);

// A fresh ECDSA P-256 key pair.
PkeyHandle NewEcKey();

// SHA-256 of the certificate's DER form, in lower-case hex.
std::string Fingerprint(X509* certificate);

// PEM forms.
std::string CertificatePem(X509* certificate);
std::string PrivateKeyPem(EVP_PKEY* key);
X509Handle CertificateFromPem(const std::string& pem);
PkeyHandle PrivateKeyFromPem(const std::string& pem);

}  // namespace gx::tls
