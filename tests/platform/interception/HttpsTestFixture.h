// The common ground of the proxy tests on inspected HTTPS: a test authority that signs the
// servers' certificates (the library verifies servers against it instead of the system's
// store), the library started with its root made and trusted as `gx-driver trust` does, and a
// program that blocks every request whose head names "/listed", with its own page.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>

#include "platform/interception/ProxyTestSupport.h"
#include "platform/interception/TlsTestOrigin.h"
#include "platform/tls/RootAuthority.h"
#include "platform/tls/TrustMarker.h"

namespace gx::test {

class InspectedHttpsTest : public ProxyTest {
  protected:
    // After ProxyTest::SetUp: the root's subject and the block page's body.
    void SetUpHttps(const std::string& subject, const std::string& blockedBody) {
        rootSubject_ = subject;
        authority_ = std::make_unique<TestAuthority>(dataHome_ + "/test-authority.pem");
        ::setenv("SSL_CERT_FILE", authority_->PemPath().c_str(), 1);
        Program().onPart = [blockedBody](ENDPOINT_ID id, PFObject* object) {
            if (StreamText(object, 0).find("/listed") != std::string::npos) {
                PostAnswer(id, "HTTP/1.1 404 Not OK", blockedBody, true);
                return int{DPCR_BLOCK};
            }
            return int{DPCR_BYPASS};
        };
    }

    // Starts the library and, unless told otherwise, trusts its root.
    bool StartHttps(bool trusted = true) {
        if (!StartLibrary()) {
            return false;
        }
        if (!trusted) {
            return true;
        }
        auto root = tls::LoadRoot(interception::DataFolder(), rootSubject_);
        return root && tls::WriteTrustMarker(interception::DataFolder(), root->fingerprint);
    }

    std::string RootPem() const {
        return interception::DataFolder() + "/" + tls::kRootCertificateFile;
    }

    std::unique_ptr<TestAuthority> authority_;
};

}  // namespace gx::test
