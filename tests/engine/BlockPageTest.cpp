// The block response byte for byte: status line, the three header fields, the page text in
// Windows-1252 and the 2048-byte body; escaping of the address and the cut of a long one.
#include <algorithm>

#include "engine/BlockPage.h"
#include "engine/ChildProtection.h"
#include "engine/RequestVerdict.h"
#include "platform/codepage/Cp1252.h"
#include "tests/engine/FakeEngineFixture.h"

namespace gx::test {
namespace {

constexpr ENDPOINT_ID kConnection = 5;

// The page as the user must see it, written independently of the engine's pieces.
std::string ExpectedPage(const std::string& shownUrl, const std::string& shownReason) {
    return Cp1252(
               "<html><body bgcolor=\"#f0f0f0\"><center><h1>Gardalix: contenu bloqué</h1>"
               "<br>Pour votre sécurité Gardalix a bloqué l'accès à l'adresse "
               "<font color=\"#FF0000\">") +
           shownUrl + "</font><br><br><b>Motif : " + shownReason + "</b></center></body></html>";
}

class EngineBlockPageTest : public EngineTest {
  protected:
    // Sends the page and returns the one posted response after checking its frame.
    fake::PostedObject Send(const std::string& url, const std::string& reason) {
        fake::Reset();
        EXPECT_TRUE(SendBlockPage(url, reason, kConnection));
        auto posted = fake::Posted();
        EXPECT_EQ(posted.size(), 1u);
        if (posted.empty())
            return {};
        EXPECT_EQ(posted[0].id, kConnection);
        EXPECT_EQ(posted[0].type, OT_HTTP_RESPONSE);
        EXPECT_EQ(posted[0].streams.size(), 3u);
        return posted[0];
    }

    static std::string PageOf(const fake::PostedObject& response) {
        const std::string& body = response.streams[2];
        return body.substr(0, body.find('\0'));
    }

    static std::string HeaderFor(size_t contentLength) {
        return "Content-Type: text/html\r\nContent-Length: " + std::to_string(contentLength) +
               "\r\nConnection: Close\r\n\r\n";
    }
};

TEST_F(EngineBlockPageTest, ResponseIsA404WithThreeFieldsAndThePagePaddedTo2048Bytes) {
    auto response = Send("bad.example/phish/login.php?id=12", kReasonMalware);
    const std::string page = ExpectedPage("bad.example/phish/login.php?id=12", "Site malveillant");

    EXPECT_EQ(response.streams[0], "HTTP/1.1 404 Not OK\r\n");
    EXPECT_EQ(response.streams[0].size(), 21u);
    EXPECT_EQ(response.streams[1], HeaderFor(page.size()));
    ASSERT_EQ(response.streams[2].size(), 2048u);
    EXPECT_EQ(PageOf(response), page);
    EXPECT_TRUE(std::all_of(response.streams[2].begin() + page.size(), response.streams[2].end(),
                            [](char c) { return c == '\0'; }));
}

TEST_F(EngineBlockPageTest, PageNamesTheProductTwiceAndKeepsTheSpaceBeforeTheColon) {
    std::string page = BlockPageText("www.gardalix.example/test_malware/", kReasonTestPage);
    EXPECT_NE(page.find("<b>Motif : URL de test (sans danger)</b>"), std::string::npos);
    size_t first = page.find("Gardalix");
    size_t second = page.find("Gardalix", first + 1);
    EXPECT_EQ(first, page.find("<h1>Gardalix: contenu") + 4);
    EXPECT_EQ(second, page.find("Gardalix a bloqu"));
    EXPECT_EQ(page.find("Gardalix", second + 1), std::string::npos) << "the address is lower case";
    EXPECT_NE(page.find("\xE9"), std::string::npos) << "one byte per accented letter";
    EXPECT_EQ(page.find("\xC3"), std::string::npos) << "no UTF-8 on the wire";
}

// A crafted link that hits a list must not run its markup in the page that the browser
// attributes to the requested site.
TEST_F(EngineBlockPageTest, AddressMarkupIsEscaped) {
    const std::string url = "a.example/?q=<script>alert(\"xxx\")</script>&x=1";
    auto response = Send(url, kReasonAdult);
    const std::string page = ExpectedPage(
        "a.example/?q=&lt;script&gt;alert(&quot;xxx&quot;)&lt;/script&gt;&amp;x=1", "Site adulte");
    EXPECT_EQ(PageOf(response), page);
    EXPECT_EQ(response.streams[1], HeaderFor(page.size()));
    EXPECT_EQ(page.find("<script>"), std::string::npos);
}

TEST_F(EngineBlockPageTest, BlockThroughTheCallbackEscapesThePageButRecordsTheAddressAsRequested) {
    LoadLists({}, {"xxx"});
    PornFilterOn = true;
    dataPartAvailable(kConnection, fake::MakeRequest("GET /?q=<b>xxx</b> HTTP/1.1\r\n",
                                                     "Host: a.example\r\n\r\n"));
    auto posted = fake::Posted();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_NE(PageOf(posted[0]).find("a.example/?q=&lt;b&gt;xxx&lt;/b&gt;</font>"),
              std::string::npos);
    EXPECT_EQ(LastBlockEvent().url, "a.example/?q=<b>xxx</b>");
}

struct LengthCase {
    const char* what;
    std::string url;
    bool cut;
};

// The fixed pieces take 208 bytes; with "Site malveillant" (16) the address has 1824 bytes.
TEST_F(EngineBlockPageTest, LongAddressesAreCutSoThePageAlwaysFits) {
    constexpr size_t kRoom = 2048 - 208 - 16;
    const LengthCase cases[] = {
        {"exactly fits", "a.example/" + std::string(kRoom - 10, 'p'), false},
        {"one byte too long", "a.example/" + std::string(kRoom - 9, 'p'), true},
        {"escaped form exactly fits", std::string(kRoom / 5, '&') + "pppp", false},
        {"escaped form one byte too long", std::string(kRoom / 5, '&') + "ppppp", true},
        {"cut falls inside an entity", "a.example/" + std::string(kRoom - 14, 'p') + "&&", true},
        {"far too long", "a.example/" + std::string(100000, 'q'), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto response = Send(c.url, kReasonMalware);
        const std::string& body = response.streams[2];
        ASSERT_EQ(body.size(), 2048u);
        std::string page = PageOf(response);
        EXPECT_LE(page.size(), 2048u);
        EXPECT_EQ(response.streams[1], HeaderFor(page.size()));
        EXPECT_TRUE(
            page.ends_with("</font><br><br><b>Motif : Site malveillant</b>"
                           "</center></body></html>"));
        size_t start = page.find("#FF0000\">") + 9;
        std::string shown = page.substr(start, page.find("</font>") - start);
        std::string escaped = EscapeHtml(c.url);
        if (c.cut) {
            ASSERT_TRUE(shown.ends_with("..."));
            std::string kept = shown.substr(0, shown.size() - 3);
            EXPECT_TRUE(escaped.starts_with(kept));
            // The cut ends on a whole entity: what is kept is the escape of a prefix.
            size_t amp = kept.rfind('&');
            EXPECT_TRUE(amp == std::string::npos || kept.find(';', amp) != std::string::npos);
            EXPECT_GE(shown.size(), kRoom - 5) << "at most one entity is left out";
        } else {
            EXPECT_EQ(shown, escaped);
            EXPECT_EQ(page.size(), 2048u);
        }
    }
}

TEST_F(EngineBlockPageTest, FirstLineIsReplacedAndEndsInCrLf) {
    TPFObject response(fake::MakeObject(OT_HTTP_RESPONSE, {"old line that is longer\r\n", ""}));
    EXPECT_TRUE(WriteFirstLine(response, "HTTP/1.1 404 Not OK"));
    EXPECT_EQ(ReadFirstLine(response), "HTTP/1.1 404 Not OK\r\n");
    TPFObject noStream(fake::MakeObject(OT_HTTP_RESPONSE, {}));
    EXPECT_FALSE(WriteFirstLine(noStream, "HTTP/1.1 404 Not OK"));
}

}  // namespace
}  // namespace gx::test
