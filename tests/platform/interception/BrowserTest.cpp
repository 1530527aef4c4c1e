// A real browser through the real proxy: headless Chromium, trusting the program's root alone,
// on inspected HTTPS. A listed address shows the block page and its server is never reached; a
// page of 100 images from a server that speaks HTTP/2 loads whole, every image over HTTP/2.
// Skipped, saying why, where Chromium is not installed.
#include <gtest/gtest.h>

#include "platform/interception/Http2TestOrigin.h"
#include "platform/interception/HttpsTestFixture.h"
#include "platform/interception/TlsTestOrigin.h"
#include "platform/tls/RootAuthority.h"
#include "platform/tls/TrustMarker.h"
#include "support/HeadlessBrowser.h"

namespace gx::test {
namespace {

constexpr char kSubject[] = "Gardalix browser test root";

class BrowserTest : public InspectedHttpsTest {
  protected:
    void SetUp() override {
        if (const std::string missing = gx::testing::BrowserMissing(); !missing.empty()) {
            GTEST_SKIP() << missing;
        }
        ProxyTest::SetUp();
        SetUpHttps(kSubject, "<html><body>bloqu\xE9</body></html>");
        ASSERT_TRUE(StartHttps());
        browser_ = std::make_unique<gx::testing::HeadlessBrowser>(RootPem());
    }

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
