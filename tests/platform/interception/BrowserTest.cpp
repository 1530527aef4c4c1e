// A real browser through the real proxy: headless Chromium, trusting the program's root alone,
// on inspected HTTPS. A listed address shows the block page and its server is never reached; a
// page of 100 images from a server that speaks HTTP/2 loads whole, every image over HTTP/2.
// Skipped, saying why, where Chromium is not installed.
#include <gtest/gtest.h>

#include "platform/interception/Http2TestOrigin.h"
#include "platform/interception/ProxyTestSupport.h"
#include "platform/interception/TlsTestOrigin.h"
#include "platform/tls/RootAuthority.h"
#include "platform/tls/TrustMarker.h"
#include "support/HeadlessBrowser.h"

namespace gx::test {
namespace {

constexpr char kSubject[] = "Gardalix browser test root";

class BrowserTest : public ProxyTest {
  protected:
    void SetUp() override {
        if (const std::string missing = gx::testing::BrowserMissing(); !missing.empty()) {
            GTEST_SKIP() << missing;
        }
        ProxyTest::SetUp();
        rootSubject_ = kSubject;
        authority_ = std::make_unique<TestAuthority>(dataHome_ + "/test-authority.pem");
        ::setenv("SSL_CERT_FILE", authority_->PemPath().c_str(), 1);
        Program().onPart = [](ENDPOINT_ID id, PFObject* object) {
            if (StreamText(object, 0).find("/listed") != std::string::npos) {
                PostAnswer(id, "HTTP/1.1 404 Not OK", "<html><body>bloqu\xE9</body></html>", true);
                return int{DPCR_BLOCK};
            }
            return int{DPCR_BYPASS};
        };
        ASSERT_TRUE(StartLibrary());
        auto root = tls::LoadRoot(interception::DataFolder(), kSubject);
        ASSERT_TRUE(root && tls::WriteTrustMarker(interception::DataFolder(), root->fingerprint));
        browser_ = std::make_unique<gx::testing::HeadlessBrowser>(root->certificatePath);
    }

    std::unique_ptr<TestAuthority> authority_;
    std::unique_ptr<gx::testing::HeadlessBrowser> browser_;
};

TEST_F(BrowserTest, AListedHttpsAddressShowsTheBlockPageAndItsServerIsNeverReached) {
    TlsFront front(*authority_);
    std::optional<std::string> dom = browser_->Load(front.Url("/listed"), ProxyPort());
    ASSERT_TRUE(dom) << "the browser did not run";
    EXPECT_NE(dom->find("bloqu"), std::string::npos) << *dom;
    for (const std::string& head : front.Origin().Heads()) {
        const std::string line = head.substr(0, head.find("\r\n"));
        EXPECT_EQ(line.find("/listed"), std::string::npos) << line;  // its icon may be asked
    }
    std::optional<std::string> passing = browser_->Load(front.Url("/fine"), ProxyPort());
    ASSERT_TRUE(passing);
    EXPECT_NE(passing->find("origin saw GET /fine"), std::string::npos) << *passing;
}

TEST_F(BrowserTest, APageOfAHundredImagesLoadsWholeOverHttp2) {
    Http2OnlyOrigin origin(*authority_);
    std::optional<std::string> dom = browser_->Load(origin.Url("/page"), ProxyPort());
    ASSERT_TRUE(dom) << "the browser did not run";
    EXPECT_NE(dom->find("data-resources=\"100\""), std::string::npos) << *dom;
    EXPECT_NE(dom->find("data-h2=\"100\""), std::string::npos) << *dom;
    EXPECT_GE(origin.Requests(), 101);  // the page, its images, perhaps its icon
    EXPECT_EQ(origin.Connections(), 1);
}

}  // namespace
}  // namespace gx::test
