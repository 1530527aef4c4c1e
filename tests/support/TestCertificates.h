// Certificates made at run time for the tests and benchmarks' own HTTPS servers (never
// committed): an authority, and what it signs for "localhost" (the name and 127.0.0.1).
#pragma once

#include <chrono>
#include <string>

#include "platform/program/OpenSslHandles.h"
#include "platform/tls/CertificateBuilder.h"

namespace gx::testing {

struct TestPair {
    PkeyHandle key;
    X509Handle certificate;
};

// A self-signed authority valid from an hour ago for a day.
inline TestPair MakeAuthority(const std::string& name) {
    using namespace std::chrono_literals;
    TestPair made{tls::NewEcKey(), {}};
    tls::CertificateFields fields;
    fields.commonName = name;
    fields.publicKey = made.key.get();
    fields.signingKey = made.key.get();
    fields.authority = true;
    fields.validFrom = -1h;
    fields.validFor = 24h;
    made.certificate = tls::BuildCertificate(fields);
    return made;
}

// The fields of a certificate for localhost signed by `authority`, to be changed before
// building it where a test needs a bad one.
inline tls::CertificateFields LocalhostFields(EVP_PKEY* key, const TestPair& authority) {
    using namespace std::chrono_literals;
    tls::CertificateFields fields;
    fields.commonName = "localhost";
    fields.publicKey = key;
    fields.signingKey = authority.key.get();
    fields.issuer = authority.certificate.get();
    fields.subjectAltName = "DNS:localhost,IP:127.0.0.1";
    fields.validFrom = -1h;
    fields.validFor = 24h;
    return fields;
}

inline TestPair MakeLocalhost(const TestPair& authority) {
    TestPair made{tls::NewEcKey(), {}};
    made.certificate = tls::BuildCertificate(LocalhostFields(made.key.get(), authority));
    return made;
}

}  // namespace gx::testing
