// Request inspection: the address rebuilt from a request, the verdict and its order, what each
// callback posts and answers.
#include "engine/ChildProtection.h"
#include "engine/RequestVerdict.h"
#include "lists/ProductSite.h"
#include "tests/engine/FakeEngineFixture.h"

namespace gx::test {
namespace {

constexpr ENDPOINT_ID kConnection = 77;

class EngineInspectionTest : public EngineTest {
  protected:
    static std::string RequestUrl(const std::string& firstLine, const std::string& headers) {
        TPFObject request(fake::MakeRequest(firstLine, headers));
        return GetRequestUrl(request);
    }

    // A GET of target on host, as the HTTP filter hands it in.
    static PFObject* Get(const std::string& host, const std::string& target) {
        return fake::MakeRequest("GET " + target + " HTTP/1.1\r\n",
                                 "Host: " + host + "\r\nCookie: session=secret\r\n\r\n");
    }
};

struct UrlCase {
    const char* what;
    std::string firstLine;
    std::string headers;
    std::string expected;
};

TEST_F(EngineInspectionTest, RebuildsTheAddressFromHostAndTarget) {
    const std::string host = "Host: a.example\r\n\r\n";
    const UrlCase cases[] = {
        {"target with a slash", "GET /path/page.html?x=1 HTTP/1.1\r\n", host,
         "a.example/path/page.html?x=1"},
        {"absolute target", "GET http://b.example/x HTTP/1.1\r\n", host, "http://b.example/x"},
        {"scheme in capitals", "GET HTTP://b.example/x HTTP/1.1\r\n", host,
         "a.exampleHTTP://b.example/x"},
        {"one space only", "GET /only\r\n", host, "a.example/only"},
        {"no space", "GET\r\n", host, "a.example"},
        {"empty first line", "", host, "a.example"},
        {"no Host field", "GET /path HTTP/1.1\r\n", "Accept: */*\r\n\r\n", "/path"},
        {"field name in capitals", "GET / HTTP/1.1\r\n", "HOST: c.example\r\n\r\n", "c.example/"},
        {"first of two Host fields", "GET / HTTP/1.1\r\n",
         "Host: first.example\r\nHost: second.example\r\n\r\n", "first.example/"},
        {"host with a port", "GET /p HTTP/1.1\r\n", "Host: a.example:8080\r\n\r\n",
         "a.example:8080/p"},
        {"zero byte in the first line", std::string("GET /a\0b HTTP/1.1\r\n", 19), host,
         "a.example/a"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(RequestUrl(c.firstLine, c.headers), c.expected);
    }
}

TEST_F(EngineInspectionTest, UnreadableHeaderLeavesTheTargetAlone) {
    fake::SetReadHeaderFails(true);
    EXPECT_EQ(RequestUrl("GET /path HTTP/1.1\r\n", "Host: a.example\r\n\r\n"), "/path");
}

TEST_F(EngineInspectionTest, OnlyRequestsHaveAnAddress) {
    TPFObject response(fake::MakeObject(OT_HTTP_RESPONSE, {"GET /x HTTP/1.1\r\n", "Host: a\r\n"}));
    EXPECT_EQ(GetRequestUrl(response), "");
    TPFObject noStreams(fake::MakeObject(OT_HTTP_REQUEST, {}));
    EXPECT_EQ(ReadFirstLine(noStreams), "");
    EXPECT_EQ(GetRequestUrl(noStreams), "");
}

struct VerdictCase {
    const char* what;
    std::vector<std::string> malware;
    std::vector<std::string> adult;
    bool childProtection;
    std::string host;
    std::string target;
    const char* reason;  // nullptr: passes
};

TEST_F(EngineInspectionTest, MaliciousListFirstThenAdultListWhileChildProtectionIsOn) {
    const std::string testHost = kProductSiteHost;
    const VerdictCase cases[] = {
        {"unlisted", {"bad.example/"}, {"xxx"}, true, "good.example", "/", nullptr},
        {"malicious, letter case ignored",
         {"BAD.example/Page"},
         {},
         false,
         "bad.EXAMPLE",
         "/page",
         kReasonMalware},
        {"whole address only", {"bad.example/"}, {}, false, "bad.example", "/page", nullptr},
        {"in both lists",
         {"both.example/xxx"},
         {"xxx"},
         true,
         "both.example",
         "/xxx",
         kReasonMalware},
        {"adult with child protection on", {}, {"xxx"}, true, "a.example", "/?q=xxx", kReasonAdult},
        {"adult with child protection off", {}, {"xxx"}, false, "a.example", "/?q=xxx", nullptr},
        {"test page listed",
         {kTestPageAddress},
         {},
         false,
         testHost,
         "/test_malware/",
         kReasonTestPage},
        {"test page not listed", {"bad.example/"}, {}, false, testHost, "/test_malware/", nullptr},
        {"test page in other letter case",
         {kTestPageAddress},
         {},
         false,
         "WWW.gardalix.example",
         "/test_malware/",
         kReasonMalware},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fake::Reset();
        LoadLists(c.malware, c.adult);
        PornFilterOn = c.childProtection;
        armHookCalls = 0;
        BlockEvent before = LastBlockEvent();

        auto result = dataPartAvailable(kConnection, Get(c.host, c.target));

        auto posted = fake::Posted();
        if (c.reason) {
            EXPECT_EQ(result, DPCR_BLOCK);
            ASSERT_EQ(posted.size(), 1u);
            EXPECT_EQ(posted[0].id, kConnection);
            EXPECT_EQ(posted[0].type, OT_HTTP_RESPONSE);
            EXPECT_NE(posted[0].streams[2].find("<b>Motif : " + std::string(c.reason) + "</b>"),
                      std::string::npos);
            BlockEvent event = LastBlockEvent();
            EXPECT_EQ(event.url, c.host + c.target);
            EXPECT_EQ(event.reason, c.reason);
            EXPECT_EQ(armHookCalls.load(), 1);
        } else {
            EXPECT_EQ(result, DPCR_BYPASS);
            EXPECT_TRUE(posted.empty());
            EXPECT_EQ(LastBlockEvent().url, before.url);
            EXPECT_EQ(armHookCalls.load(), 0);
        }
    }
}

struct SpellingCase {
    const char* what;
    std::string host;
    std::string target;
    std::string server;  // stream 3, the server the connection goes to; empty: no such stream
    const char* reason;  // nullptr: passes
};

// Another spelling of a listed address is blocked with the reason of its list, and the address
// recorded is the one the request spelt.
TEST_F(EngineInspectionTest, OtherSpellingsOfAListedAddressAreBlocked) {
    const SpellingCase cases[] = {
        {"escaped letters", "bad.example", "/%6Cogin", "", kReasonMalware},
        {"dot segments", "bad.example", "/x/../login", "", kReasonMalware},
        {"default port and trailing dot", "BAD.example.:80", "/login", "", kReasonMalware},
        {"a fragment", "bad.example", "/login#top", "", kReasonMalware},
        {"decimal IP host", "3232235777", "/admin", "", kReasonMalware},
        {"IPv4-mapped host", "[::ffff:192.168.1.1]", "/admin", "", kReasonMalware},
        {"entry written with a port", "listed.example", "/", "", kReasonMalware},
        {"escaped adult word", "a.example", "/?q=x%78x", "", kReasonAdult},
        {"an escaped slash is not a slash", "bad.example", "%2Flogin", "", nullptr},
        {"another page", "bad.example", "/login/x", "", nullptr},
        {"another port", "bad.example:8080", "/login", "", nullptr},
        // The Host names a harmless site, the connection goes to the listed one.
        {"server of the connection", "good.example", "/login", "bad.example:80", kReasonMalware},
        {"server of the connection, adult", "good.example", "/xxx", "adult.example", kReasonAdult},
        {"server by its IP address", "good.example", "/admin", "192.168.1.1", kReasonMalware},
        {"server and Host agree", "good.example", "/login", "good.example", nullptr},
        {"server harmless, Host listed", "bad.example", "/login", "good.example", kReasonMalware},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fake::Reset();
        LoadLists({"bad.example/login", "192.168.1.1/admin", "LISTED.example:443/"}, {"xxx"});
        PornFilterOn = true;
        armHookCalls = 0;
        std::vector<std::string> streams = {"GET " + c.target + " HTTP/1.1\r\n",
                                            "Host: " + c.host + "\r\n\r\n", ""};
        if (!c.server.empty()) {
            streams.push_back(c.server);
        }

        auto result = dataPartAvailable(kConnection, fake::MakeObject(OT_HTTP_REQUEST, streams));

        if (c.reason) {
            EXPECT_EQ(result, DPCR_BLOCK);
            EXPECT_EQ(fake::Posted().size(), 1u);
            EXPECT_EQ(LastBlockEvent().url, c.host + c.target);
            EXPECT_EQ(LastBlockEvent().reason, c.reason);
        } else {
            EXPECT_EQ(result, DPCR_BYPASS);
            EXPECT_TRUE(fake::Posted().empty());
            EXPECT_EQ(armHookCalls.load(), 0);
        }
    }
}

TEST_F(EngineInspectionTest, ServerAddressTakesTheConnectionsServerAndTheTargetsPath) {
    const auto serverUrl = [](const std::string& line, std::vector<std::string> extra) {
        std::vector<std::string> streams = {line, "Host: good.example\r\n\r\n", ""};
        streams.insert(streams.end(), extra.begin(), extra.end());
        TPFObject request(fake::MakeObject(OT_HTTP_REQUEST, streams));
        return GetServerUrl(request);
    };
    EXPECT_EQ(serverUrl("GET /p?q HTTP/1.1\r\n", {"bad.example:8080"}), "bad.example:8080/p?q");
    EXPECT_EQ(serverUrl("GET http://good.example/p HTTP/1.1\r\n", {"bad.example"}),
              "bad.example/p");
    EXPECT_EQ(serverUrl("GET /p HTTP/1.1\r\n", {}), "");
    EXPECT_EQ(serverUrl("GET /p HTTP/1.1\r\n", {""}), "");
}

// The test page keeps its own reason only when it is requested exactly as listed.
TEST_F(EngineInspectionTest, TheTestPageInAnotherSpellingIsAMaliciousHit) {
    LoadLists({kTestPageAddress}, {});
    EXPECT_EQ(dataPartAvailable(kConnection, Get(kProductSiteHost, "/test_%6Dalware/")),
              DPCR_BLOCK);
    EXPECT_EQ(LastBlockEvent().url, std::string(kProductSiteHost) + "/test_%6Dalware/");
    EXPECT_EQ(LastBlockEvent().reason, kReasonMalware);
}

TEST_F(EngineInspectionTest, ObjectPartsThatAreNotRequestsAreNotInspected) {
    LoadLists({"bad.example/"}, {});
    PFObject* response =
        fake::MakeObject(OT_HTTP_RESPONSE, {"GET / HTTP/1.1\r\n", "Host: bad.example\r\n\r\n", ""});
    EXPECT_EQ(dataPartAvailable(kConnection, response), DPCR_FILTER_READ_ONLY);
    EXPECT_TRUE(fake::Posted().empty());
    EXPECT_EQ(armHookCalls.load(), 0);
}

TEST_F(EngineInspectionTest, WholeRequestThatPassesIsPostedOnceUnchanged) {
    LoadLists({"bad.example/"}, {});
    dataAvailable(kConnection, Get("good.example", "/"));
    auto posted = fake::Posted();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].id, kConnection);
    EXPECT_EQ(posted[0].type, OT_HTTP_REQUEST);
    EXPECT_EQ(posted[0].streams[0], "GET / HTTP/1.1\r\n");
    EXPECT_EQ(posted[0].streams[1], "Host: good.example\r\nCookie: session=secret\r\n\r\n");
}

// The blocked request carries the user's cookies: it must never travel on to the blocked site,
// only the block page goes back to the client.
TEST_F(EngineInspectionTest, WholeRequestThatIsBlockedIsAnsweredAndNeverPosted) {
    LoadLists({"bad.example/login"}, {});
    dataAvailable(kConnection, Get("bad.example", "/login"));
    auto posted = fake::Posted();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].type, OT_HTTP_RESPONSE);
    for (const auto& object : posted)
        EXPECT_NE(object.type, OT_HTTP_REQUEST);
    EXPECT_EQ(LastBlockEvent().url, "bad.example/login");
}

// A request that cannot be judged (an allocation failed) never travels, and nothing answers it:
// the head's result tells the library to end the connection now, not after a time-out.
TEST_F(EngineInspectionTest, ARequestThatCannotBeJudgedNeverTravelsAndEndsTheConnection) {
    LoadLists({"bad.example/"}, {});
    fake::SetReadHeaderThrows(true);
    EXPECT_EQ(dataPartAvailable(kConnection, Get("good.example", "/")), DPCR_BLOCK);
    dataAvailable(kConnection, Get("good.example", "/"));
    EXPECT_TRUE(fake::Posted().empty());
    EXPECT_EQ(armHookCalls.load(), 0);
}

TEST_F(EngineInspectionTest, WholeObjectsOtherThanRequestsArePostedUnchecked) {
    LoadLists({"bad.example/"}, {});
    dataAvailable(kConnection,
                  fake::MakeObject(OT_HTTP_RESPONSE,
                                   {"HTTP/1.1 200 OK\r\n", "Host: bad.example\r\n\r\n", "body"}));
    auto posted = fake::Posted();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].type, OT_HTTP_RESPONSE);
    EXPECT_EQ(posted[0].streams[2], "body");
    EXPECT_EQ(armHookCalls.load(), 0);
}

TEST_F(EngineInspectionTest, ReadOnlyObjectsAreNeitherInspectedNorPosted) {
    LoadLists({"bad.example/"}, {});
    dataAvailable(kConnection,
                  fake::MakeObject(OT_HTTP_REQUEST,
                                   {"GET / HTTP/1.1\r\n", "Host: bad.example\r\n\r\n", ""}, true));
    EXPECT_TRUE(fake::Posted().empty());
    EXPECT_EQ(armHookCalls.load(), 0);
}

TEST_F(EngineInspectionTest, ChildProtectionChangeTakesEffectAtTheNextRequest) {
    LoadLists({}, {"xxx"});
    EXPECT_EQ(dataPartAvailable(kConnection, Get("xxx.example", "/")), DPCR_BYPASS);
    PornFilterOn = true;
    EXPECT_EQ(dataPartAvailable(kConnection, Get("xxx.example", "/")), DPCR_BLOCK);
    PornFilterOn = false;
    EXPECT_EQ(dataPartAvailable(kConnection, Get("xxx.example", "/")), DPCR_BYPASS);
}

}  // namespace
}  // namespace gx::test
