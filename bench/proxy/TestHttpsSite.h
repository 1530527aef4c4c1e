// An nginx site over TLS for the benchmarks, signed by an authority made for the run: the
// authority's certificate, the site's certificate and key for localhost written into `folder`,
// and SSL_CERT_FILE pointed at the authority so that the proxy verifies nginx with it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/proxy/NginxOrigin.h"
#include "platform/tls/CertificateBuilder.h"
#include "tests/support/TestCertificates.h"

namespace gx::bench {

struct TestHttpsSite {
    NginxSite site;            // its certificate and key; files to add as needed
    std::string authorityPem;  // what a direct client must trust
};

inline TestHttpsSite MakeTestHttpsSite(const std::filesystem::path& folder,
                                       const std::string& authorityName) {
    const gx::testing::TestPair authority = gx::testing::MakeAuthority(authorityName);
    const gx::testing::TestPair server = gx::testing::MakeLocalhost(authority);
    TestHttpsSite made;
    made.authorityPem = (folder / "authority.pem").string();
    std::ofstream(made.authorityPem) << tls::CertificatePem(authority.certificate.get());
    std::ofstream(folder / "server.pem") << tls::CertificatePem(server.certificate.get());
    std::ofstream(folder / "server.key") << tls::PrivateKeyPem(server.key.get());
    ::setenv("SSL_CERT_FILE", made.authorityPem.c_str(), 1);
    made.site.certificatePath = (folder / "server.pem").string();
    made.site.keyPath = (folder / "server.key").string();
    return made;
}

}  // namespace gx::bench
