#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <optional>
#include <string>
#include <vector>

#include "ScriptedServer.h"
#include "http/HttpProt.h"

namespace gx {
namespace {

using test::Exchange;
using test::ScriptedServer;
using test::WaitUntil;

const char kAccept[] = "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n";
const char kAgent[] = "User-Agent: Mozilla/4.0 (compatible; ICS)\r\n";

// One exchange that answers with the given pieces and closes.
Exchange Answer(std::vector<std::string> pieces) {
    return Exchange{std::move(pieces)};
}

std::string Redirect(const std::string& location, const std::string& body = "") {
    return "HTTP/1.0 302 Found\r\nLocation: " + location +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// What a Get ended with.
struct Outcome {
    bool raised = false;
    std::string message;
    std::uint16_t errorCode = 0;
};

class HttpCliTest : public ::testing::Test {
  protected:
    HttpCliTest() {
        http.ReceiveStream = &body;
        http.OnRequestDone = [this](THttpCli&, THttpRequest, std::uint16_t error) {
            requestDone = error;
        };
    }

    Outcome Get(const std::string& url) {
        http.URL = url;
        Outcome outcome;
        try {
            http.Get();
        } catch (const EHttpException& error) {
            outcome = {true, error.what(), error.ErrorCode()};
        }
        return outcome;
    }

    THttpCli http{"HTTP"};
    MemoryStream body;
    std::optional<std::uint16_t> requestDone;
};

TEST_F(HttpCliTest, SendsTheFourHeaderLinesWithTheTargetOfTheAddress) {
    const struct {
        const char* path;
        const char* target;
    } cases[] = {
        {"/update/connect.php?id=12&w=6.1", "/update/connect.php?id=12&w=6.1"},
        {"", "/"},
        {"?q=1", "?q=1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        ScriptedServer server({Answer({"HTTP/1.0 200 OK\r\n\r\n"})});
        const Outcome outcome = Get(server.Url("") + c.path);
        EXPECT_FALSE(outcome.raised);
        EXPECT_EQ(server.Requests().at(0),
                  std::string("GET ") + c.target + " HTTP/1.0\r\n" + kAccept + kAgent +
                      "Host: 127.0.0.1:" + std::to_string(server.Port()) + "\r\n\r\n");
    }
}

TEST_F(HttpCliTest, HostLineLeavesPort80Out) {
    ScriptedServer server({Answer({"HTTP/1.0 200 OK\r\n\r\n"})}, "127.80.0.1", 80);
    if (!server.Listening()) {
        GTEST_SKIP() << "port 80 of 127.80.0.1 is not available here";
    }
    for (const char* url : {"http://127.80.0.1/x", "http://127.80.0.1:80/x"}) {
        SCOPED_TRACE(url);
        EXPECT_FALSE(Get(url).raised);
        EXPECT_EQ(server.Requests().back(), std::string("GET /x HTTP/1.0\r\n") + kAccept + kAgent +
                                                "Host: 127.80.0.1\r\n\r\n");
    }
}

TEST_F(HttpCliTest, OptionalHeaderLinesComeInTheirPlace) {
    ScriptedServer server({Answer({"HTTP/1.0 200 OK\r\n\r\n"})});
    http.Sender = "a@b.example";
    http.Reference = "http://ref.example/";
    http.Connection = "Keep-Alive";
    http.AcceptLanguage = "fr";
    http.NoCache = true;
    http.ProxyConnection = "close";
    http.ModifiedSince = 784111777;  // Sun, 06 Nov 1994 08:49:37
    http.Cookie = "k=v";
    http.ContentRangeBegin = "10";
    http.Agent.clear();
    std::vector<std::string> seenByHandler;
    http.OnBeforeHeaderSend = [&](THttpCli&, const std::string& method,
                                  std::vector<std::string>& lines) {
        EXPECT_EQ(method, "GET");
        seenByHandler = lines;
    };
    http.OnCommand = [](THttpCli&, std::string& line) {
        if (line.starts_with("Cookie:")) {
            line.clear();  // written as an empty line
        }
    };
    EXPECT_FALSE(Get(server.Url("/x")).raised);
    const std::string port = std::to_string(server.Port());
    EXPECT_EQ(server.Requests().at(0), std::string("GET /x HTTP/1.0\r\n") +
                                           "From: a@b.example\r\n" + kAccept +
                                           "Referer: http://ref.example/\r\n"
                                           "Connection: Keep-Alive\r\n"
                                           "Accept-Language: fr\r\n"
                                           "Host: 127.0.0.1:" +
                                           port +
                                           "\r\n"
                                           "Pragma: no-cache\r\n"
                                           "Proxy-Connection: close\r\n"
                                           "If-Modified-Since: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
                                           "\r\n"
                                           "Range: bytes=10-\r\n"
                                           "\r\n");
    EXPECT_EQ(seenByHandler.size(), 12u);
    EXPECT_TRUE(http.ContentRangeBegin.empty()) << "the range is asked for once";
}

TEST_F(HttpCliTest, EventsFollowTheRequestInOrder) {
    ScriptedServer server({Answer({"HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello"})});
    std::vector<std::string> events;
    auto note = [&events](const char* name) {
        return [&events, name](THttpCli&) { events.push_back(name); };
    };
    http.OnStateChange = [&events](THttpCli& client) {
        events.push_back("state " + std::to_string(client.State()));
    };
    http.OnSessionConnected = note("connected");
    http.OnRequestHeaderBegin = note("requestBegin");
    http.OnRequestHeaderEnd = note("requestEnd");
    http.OnHeaderBegin = note("headerBegin");
    http.OnHeaderData = note("headerData");
    http.OnHeaderEnd = note("headerEnd");
    http.OnDocBegin = note("docBegin");
    http.OnDocData = [&events](THttpCli&, const char* data, int length) {
        events.push_back("data " + std::string(data, static_cast<std::size_t>(length)));
    };
    http.OnDocEnd = note("docEnd");
    http.OnSessionClosed = note("closed");
    http.OnRequestDone = [&events](THttpCli&, THttpRequest request, std::uint16_t error) {
        events.push_back("done " + std::to_string(request) + " " + std::to_string(error));
    };

    EXPECT_FALSE(Get(server.Url("/")).raised);
    events.push_back("Get returned");
    ASSERT_TRUE(WaitUntil([&] { return events.back().starts_with("done"); }));
    const std::vector<std::string> expected = {
        "state 1",      "state 3",      "state 4",     "state 2",    "connected",  "state 5",
        "requestBegin", "requestEnd",   "headerBegin", "headerData", "headerData", "headerEnd",
        "state 6",      "docBegin",     "data hello",  "state 7",    "docEnd",     "closed",
        "state 0",      "Get returned", "done 1 0"};
    EXPECT_EQ(events, expected);
    EXPECT_EQ(http.StatusCode(), 200);
    EXPECT_EQ(http.ReasonPhrase(), "OK");
    EXPECT_EQ(http.ContentLength(), 5);
    EXPECT_EQ(http.Location(), server.Url("/"));
    EXPECT_EQ(http.RcvdHeader(),
              (std::vector<std::string>{"HTTP/1.0 200 OK", "Content-Length: 5"}));
    EXPECT_EQ(body.Data(), "hello");
}

TEST_F(HttpCliTest, StatusDecidesWhetherGetRaises) {
    const struct {
        const char* response;
        int status;
        const char* reason;
        bool raises;
    } cases[] = {
        {"HTTP/1.0 404 Not Found\r\n\r\n", 404, "Not Found", true},
        {"HTTP/1.1 500 Erreur interne\r\nContent-Length: 0\r\n\r\n", 500, "Erreur interne", true},
        {"HTTP/1.0 400 Bad Request\r\n\r\n", 400, "Bad Request", true},
        {"HTTP/1.0 401 Unauthorized\r\n\r\n", 401, "Unauthorized", false},
        {"HTTP/1.0 407 Proxy Authentication Required\r\n\r\n", 407, "Proxy Authentication Required",
         false},
        {"HTTP/1.0 399 Odd\r\n\r\n", 399, "Odd", false},
        {"HTTP/1.0 204 No Content\r\n\r\n", 204, "No Content", false},
        // Not a status line: nothing is interpreted.
        {"HTTP/2 404 Not Found\r\n\r\n", 0, "", false},
        {"FOO 404\r\n\r\n", 0, "", false},
        // A status that is not a number ends the response as a dropped connection.
        {"HTTP/1.0 4x4 Broken\r\n\r\n", 0, "", false},
        // The connection closes before any line.
        {"", 0, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.response);
        ScriptedServer server({Answer({c.response})});
        const Outcome outcome = Get(server.Url("/"));
        EXPECT_EQ(http.StatusCode(), c.status);
        EXPECT_EQ(http.ReasonPhrase(), c.reason);
        EXPECT_EQ(outcome.raised, c.raises);
        if (c.raises) {
            EXPECT_EQ(outcome.message, c.reason);
            EXPECT_EQ(outcome.errorCode, c.status);
        }
    }
}

TEST_F(HttpCliTest, BodyEndsAtItsLengthAtTheCloseOrAtTheLastChunk) {
    const struct {
        const char* name;
        std::vector<std::string> pieces;
        const char* stored;
        std::vector<std::string> blocks;  // as OnDocData saw them
        bool docEvents;
    } cases[] = {
        {"no body before the close", {"HTTP/1.0 200 OK\r\nServer: t\r\n\r\n"}, "", {}, false},
        {"length zero", {"HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n"}, "", {}, false},
        {"short body",
         {"HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nabcd"},
         "abcd",
         {"abcd"},
         true},
        {"bytes beyond the length",
         {"HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nabcdef"},
         "abc",
         {"abc"},
         true},
        {"until the close", {"HTTP/1.0 200 OK\r\n\r\nab", "cd"}, "abcd", {"ab", "cd"}, true},
        {"header and body split anywhere",
         {"HTTP/1.0 200 O", "K\r\nContent-Len", "gth: 4\r", "\n\r", "\nab", "cd"},
         "abcd",
         {"ab", "cd"},
         true},
        {"chunked in one piece",
         {"HTTP/1.0 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n"},
         "abcde",
         {"abc", "de"},
         true},
        {"chunked with extensions and upper-case hex",
         {"HTTP/1.0 200 OK\r\nTransfer-Encoding: "
          "chunked\r\n\r\n3;x=1\r\nabc\r\nA\r\n0123456789\r\n0\r\n\r\n"},
         "abc0123456789",
         {"abc", "0123456789"},
         true},
        {"chunked split inside sizes and data",
         {"HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", "3", "\r\na", "bc\r", "\n2\r\nd",
          "e\r\n0", "\r\n\r\n"},
         "abcde",
         {"a", "bc", "d", "e"},
         true},
        {"first line is html",
         {"<HtMl><body>hi</body>\r\n", "</html>"},
         "<HtMl><body>hi</body></html>",
         {"<HtMl><body>hi</body>", "</html>"},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server({Answer(c.pieces)});
        body.Clear();
        body.Write("keep", 4);
        std::vector<std::string> blocks;
        int docBegins = 0, docEnds = 0;
        http.OnDocBegin = [&](THttpCli&) { ++docBegins; };
        http.OnDocEnd = [&](THttpCli&) { ++docEnds; };
        http.OnDocData = [&](THttpCli&, const char* data, int length) {
            blocks.emplace_back(data, static_cast<std::size_t>(length));
        };
        EXPECT_FALSE(Get(server.Url("/")).raised);
        EXPECT_EQ(body.Data(), std::string("keep") + c.stored);
        EXPECT_EQ(blocks, c.blocks);
        EXPECT_EQ(docBegins, c.docEvents ? 1 : 0);
        EXPECT_EQ(docEnds, c.docEvents ? 1 : 0);
    }
}

TEST_F(HttpCliTest, FirstLineInHtmlMeansNoHeader) {
    ScriptedServer server({Answer({"<html>page</html>\r\nrest"})});
    EXPECT_FALSE(Get(server.Url("/")).raised);
    EXPECT_EQ(http.StatusCode(), 0);
    EXPECT_EQ(http.ContentType(), "text/html");
    EXPECT_EQ(body.Data(), "<html>page</html>rest");
}

TEST_F(HttpCliTest, InterimContinueIsDiscarded) {
    ScriptedServer server({Answer(
        {"HTTP/1.1 100 Continue\r\n\r\n", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"})});
    EXPECT_FALSE(Get(server.Url("/")).raised);
    EXPECT_EQ(http.StatusCode(), 200);
    EXPECT_EQ(http.RcvdHeader(),
              (std::vector<std::string>{"HTTP/1.1 200 OK", "Content-Length: 2"}));
    EXPECT_EQ(body.Data(), "ok");
}

TEST_F(HttpCliTest, HeaderFieldsAreReadIntoTheResults) {
    ScriptedServer server(
        {Answer({"HTTP/1.0 206 Partial\r\n"
                 "CONTENT-TYPE: Text/Plain; Charset=UTF-8\r\n"
                 "Content-Range: bytes 10-19/200\r\n"
                 "Accept-Ranges: bytes\r\n"
                 "Set-Cookie: a=1\r\n"
                 "Content-Length:  3 \r\n\r\nxyz"})});
    std::vector<std::string> cookies;
    http.OnCookie = [&](THttpCli&, const std::string& data, bool& accept) {
        EXPECT_TRUE(accept);
        cookies.push_back(data);
    };
    EXPECT_FALSE(Get(server.Url("/")).raised);
    EXPECT_EQ(http.StatusCode(), 206);
    EXPECT_EQ(http.ContentType(), "text/plain; charset=utf-8");
    EXPECT_EQ(http.ContentRangeBegin, "10");
    EXPECT_EQ(http.ContentRangeEnd, "19");
    EXPECT_EQ(http.AcceptRanges(), "bytes");
    EXPECT_EQ(http.ContentLength(), 3);
    EXPECT_EQ(cookies, std::vector<std::string>{"a=1"});
    EXPECT_EQ(body.Data(), "xyz");
}

TEST_F(HttpCliTest, RelocationKeepsOnlyTheFinalBody) {
    ScriptedServer other({Answer({"HTTP/1.0 200 OK\r\n\r\nelsewhere"})});
    const struct {
        const char* name;
        const char* firstPath;
        std::string location;
        const char* secondTarget;
        bool toOtherServer;
        std::string expectedLocation;
    } cases[] = {
        {"path from the root", "/start", "/final?x=1", "/final?x=1", false,
         "http://127.0.0.1/final?x=1"},
        {"relative to the folder", "/dir/page?a/b", "next", "/dir/next", false,
         "http://127.0.0.1/dir/next"},
        {"absolute address", "/start", other.Url("/abs"), "/abs", true, "http://127.0.0.1/abs"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server({Answer({Redirect(c.location, "moved away")}),
                               Answer({"HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\n", "final"})});
        const int otherBefore = other.Connections();
        body.Clear();
        body.Write("pre-", 4);
        int relocations = 0;
        http.OnLocationChange = [&](THttpCli&) { ++relocations; };
        const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + c.firstPath;
        EXPECT_FALSE(Get(url).raised);
        EXPECT_EQ(relocations, 1);
        EXPECT_EQ(http.LocationChangeCurCount(), 1);
        EXPECT_EQ(http.StatusCode(), 200);
        EXPECT_EQ(http.Location(), c.expectedLocation);
        if (c.toOtherServer) {
            EXPECT_EQ(other.Connections(), otherBefore + 1);
            EXPECT_TRUE(
                other.Requests().back().starts_with(std::string("GET ") + c.secondTarget + " "));
            EXPECT_EQ(body.Data(), "pre-elsewhere");
        } else {
            ASSERT_EQ(server.Connections(), 2);
            EXPECT_TRUE(
                server.Requests()[1].starts_with(std::string("GET ") + c.secondTarget + " "));
            EXPECT_EQ(body.Data(), "pre-final");
        }
    }
}

TEST_F(HttpCliTest, SixthRedirectEndsTheRequestWithItsOwnStatus) {
    std::vector<Exchange> script;
    for (int hop = 1; hop <= 7; ++hop) {
        script.push_back(Answer({Redirect("/hop" + std::to_string(hop), "r")}));
    }
    ScriptedServer server(script);
    EXPECT_FALSE(Get(server.Url("/")).raised);
    EXPECT_EQ(server.Connections(), 6);
    EXPECT_EQ(http.StatusCode(), 302);
    EXPECT_EQ(http.ReasonPhrase(), "Found");
    EXPECT_EQ(http.LocationChangeCurCount(), 6);
    EXPECT_EQ(body.Data(), "r") << "the last redirect's body is the result";

    int exceeded = 0;
    http.OnLocationChangeExceeded = [&](THttpCli&, int count, bool& allowMore) {
        EXPECT_FALSE(allowMore);
        EXPECT_EQ(count, 6);
        ++exceeded;
        allowMore = true;
    };
    http.LocationChangeMaxCount = 5;
    std::vector<Exchange> longer(script.begin(), script.begin() + 6);
    longer.push_back(Answer({"HTTP/1.0 200 OK\r\n\r\nat last"}));
    ScriptedServer patient(longer);
    body.Clear();
    EXPECT_FALSE(Get(patient.Url("/")).raised);
    EXPECT_EQ(exceeded, 1);
    EXPECT_EQ(patient.Connections(), 7) << "the handler allowed one more";
    EXPECT_EQ(http.StatusCode(), 200);
    EXPECT_EQ(body.Data(), "at last");
}

TEST_F(HttpCliTest, FailuresBeforeAnyResponseRaise404Or501) {
    ScriptedServer toHttps({Answer({Redirect("https://127.0.0.1:1/secure")})});
    const struct {
        std::string url;
        int status;
        std::string reason;
        std::uint16_t requestError;
    } cases[] = {
        {"http://bad..name/", 404, "can't resolve hostname to IP address", 11001},
        {"http:///nohost", 404, "can't resolve hostname to IP address", 11001},
        {"http://127.0.0.1:" + std::to_string(test::UnusedPort()) + "/", 404,
         "Connection refused (Error #10061)", 10061},
        {"http://127.0.0.1:no-such-service/", 404, "can't connect: No Data (Error #11004)", 11004},
        {"ftp://127.0.0.1/file", 501, "Protocol \"ftp\" not implemented", 501},
        {toHttps.Url("/"), 501, "Protocol \"https\" not implemented", 501},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        requestDone.reset();
        const Outcome outcome = Get(c.url);
        EXPECT_TRUE(outcome.raised);
        EXPECT_EQ(outcome.message, c.reason);
        EXPECT_EQ(outcome.errorCode, c.status);
        EXPECT_EQ(http.StatusCode(), c.status);
        EXPECT_FALSE(requestDone.has_value()) << "OnRequestDone comes after Get has returned";
        ASSERT_TRUE(WaitUntil([&] { return requestDone.has_value(); }));
        EXPECT_EQ(*requestDone, c.requestError);
    }
}

TEST_F(HttpCliTest, SilentServerTimesOut) {
    const struct {
        const char* name;
        std::vector<std::string> pieces;
    } cases[] = {
        {"no answer at all", {}},
        {"silence inside the body", {"HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nabc"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server({Exchange{c.pieces, true, false}});
        http.TimeoutMs = 300;
        requestDone.reset();
        const Outcome outcome = Get(server.Url("/"));
        EXPECT_TRUE(outcome.raised);
        EXPECT_EQ(outcome.message, "Connection timed out (Error #10060)");
        EXPECT_EQ(outcome.errorCode, 404);
        ASSERT_TRUE(WaitUntil([&] { return requestDone.has_value(); }));
        EXPECT_EQ(*requestDone, 10060);
        EXPECT_TRUE(WaitUntil([&] { return server.AllClosed(); })) << "the connection is dropped";
    }
}

TEST_F(HttpCliTest, ConnectionThatNeverCompletesTimesOut) {
    // A listener whose queue of pending connections is full: further attempts get no answer.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const int filler = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(::connect(filler, reinterpret_cast<sockaddr*>(&address), length), 0);

    http.TimeoutMs = 300;
    int connected = 0;
    http.OnSessionConnected = [&](THttpCli&) { ++connected; };
    const Outcome outcome =
        Get("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/");
    EXPECT_EQ(connected, 0) << "the attempt itself must have been cut off";
    EXPECT_TRUE(outcome.raised);
    EXPECT_EQ(outcome.message, "Connection timed out (Error #10060)");
    EXPECT_EQ(outcome.errorCode, 404);
    ::close(filler);
    ::close(listener);
}

TEST_F(HttpCliTest, Version11KeepsTheConnectionUnlessTheAnswerCloses) {
    const struct {
        const char* response;
        int connections;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", 1},
        {"HTTP/1.1 200 OK\r\nConnection: Close\r\nContent-Length: 2\r\n\r\nok", 2},
        {"HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok", 2},
    };
    http.SetRequestVer("1.1");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.response);
        ScriptedServer server({Exchange{{c.response}, true, false}});
        EXPECT_FALSE(Get(server.Url("/one")).raised);
        body.Clear();
        EXPECT_FALSE(Get(server.Url("/two")).raised);
        EXPECT_EQ(body.Data(), "ok");
        EXPECT_EQ(server.Connections(), c.connections);
        EXPECT_NE(server.Requests().back().find("GET /two HTTP/1.1\r\n"), std::string::npos);
        http.Abort();  // idle: drops a connection kept open
    }
}

TEST_F(HttpCliTest, EndlessHeaderIsCutOff) {
    std::string filler;
    while (filler.size() < 70 * 1024) {
        filler += "X-Filler: " + std::string(90, 'f') + "\r\n";
    }
    ScriptedServer server({Exchange{{"HTTP/1.0 200 OK\r\n", filler}, true, false}});
    http.TimeoutMs = 120000;  // only the header bound can end this request early
    requestDone.reset();
    EXPECT_FALSE(Get(server.Url("/")).raised);
    EXPECT_EQ(http.StatusCode(), 200);
    EXPECT_LT(http.RcvdHeader().size(), 700u);
    EXPECT_TRUE(body.Data().empty());
    ASSERT_TRUE(WaitUntil([&] { return requestDone.has_value(); }));
    EXPECT_EQ(*requestDone, 10053);
}

TEST_F(HttpCliTest, OverlongHeaderLineIsTruncated) {
    const std::string longLine = "X-Long: " + std::string(10000, 'a');
    ScriptedServer server(
        {Answer({"HTTP/1.0 200 OK\r\n" + longLine + "\r\nContent-Length: 2\r\n\r\nok"})});
    EXPECT_FALSE(Get(server.Url("/")).raised);
    ASSERT_EQ(http.RcvdHeader().size(), 3u);
    EXPECT_EQ(http.RcvdHeader()[1], longLine.substr(0, 8190));
    EXPECT_EQ(body.Data(), "ok");
}

TEST_F(HttpCliTest, GetKeepsTheApplicationsEventsFlowing) {
    ScriptedServer server({Exchange{{"HTTP/1.0 200 OK\r\n\r\n", "a", "b", "c"}, true, true, 100}});
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(10);
    EXPECT_FALSE(Get(server.Url("/")).raised);
    EXPECT_GE(ticks, 5);
    EXPECT_EQ(body.Data(), "abc");
}

TEST_F(HttpCliTest, SecondGetOnTheSameInstanceIsBusy) {
    ScriptedServer server({Answer({"HTTP/1.0 200 OK\r\n\r\n", "done"})});
    std::optional<Outcome> inner;
    // Any handler that runs while the first Get waits (here the client's own) may try it.
    http.OnSessionConnected = [&](THttpCli& client) {
        const std::string before = client.URL;
        client.URL = "http://127.0.0.1:1/elsewhere";
        try {
            client.Get();
            inner = Outcome{};
        } catch (const EHttpException& error) {
            inner = Outcome{true, error.what(), error.ErrorCode()};
        }
        client.URL = before;
    };
    EXPECT_FALSE(Get(server.Url("/")).raised);
    ASSERT_TRUE(inner.has_value());
    EXPECT_TRUE(inner->raised);
    EXPECT_EQ(inner->message, "HTTP component HTTP is busy");
    EXPECT_EQ(inner->errorCode, 1);
    EXPECT_EQ(http.StatusCode(), 200);
    EXPECT_EQ(body.Data(), "done") << "the first request goes on";
}

TEST_F(HttpCliTest, AbortWorksInEveryWaitingState) {
    for (const THttpState abortAt :
         {httpDnsLookup, httpDnsLookupDone, httpWaitingHeader, httpWaitingBody}) {
        SCOPED_TRACE(abortAt);
        ScriptedServer server({Exchange{{"HTTP/1.0 200 OK\r\n\r\nsome"}, true, false}});
        bool aborted = false;
        http.OnStateChange = [&](THttpCli& client) {
            if (client.State() == abortAt && !aborted) {
                aborted = true;
                client.Abort();
            }
        };
        requestDone.reset();
        const Outcome outcome = Get(server.Url("/"));
        EXPECT_TRUE(aborted);
        EXPECT_TRUE(outcome.raised);
        EXPECT_EQ(outcome.message, "Connection aborted on request");
        EXPECT_EQ(http.State(), httpReady);
        ASSERT_TRUE(WaitUntil([&] { return requestDone.has_value(); }));
        EXPECT_EQ(*requestDone, 3);
        EXPECT_TRUE(WaitUntil([&] { return server.AllClosed(); }));
    }
}

TEST_F(HttpCliTest, AbortEndsTheRequestAndTheClientServesTheNextOne) {
    ScriptedServer silent({Exchange{{}, true, false}});
    QTimer::singleShot(50, [&] { http.Abort(); });
    const Outcome aborted = Get(silent.Url("/"));
    EXPECT_TRUE(aborted.raised);
    EXPECT_EQ(aborted.message, "Connection aborted on request");
    EXPECT_EQ(aborted.errorCode, 404);
    ASSERT_TRUE(WaitUntil([&] { return requestDone.has_value(); }));
    EXPECT_EQ(*requestDone, 3);
    EXPECT_TRUE(WaitUntil([&] { return silent.AllClosed(); }));

    ScriptedServer server({Answer({"HTTP/1.0 200 OK\r\n\r\nagain"})});
    EXPECT_FALSE(Get(server.Url("/")).raised);
    EXPECT_EQ(body.Data(), "again");

    requestDone.reset();
    http.Abort();  // idle: answers at once
    EXPECT_EQ(http.StatusCode(), 200);
    EXPECT_EQ(http.ReasonPhrase(), "OK");
    EXPECT_EQ(requestDone, std::optional<std::uint16_t>(0));
}

TEST_F(HttpCliTest, LargeBodyGoesToTheFileAsItArrives) {
    std::string payload(5 * 1024 * 1024 + 123, '\0');
    for (std::size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<char>((i * 7919) >> 5);
    }
    ScriptedServer server({Answer(
        {"HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(payload.size()) + "\r\n\r\n",
         payload})});
    QTemporaryDir folder;
    const std::string path = QDir(folder.path()).filePath("gxsoft.dat").toStdString();
    auto file = FileStream::Create(path);
    ASSERT_NE(file, nullptr);
    http.ReceiveStream = file.get();
    std::int64_t delivered = 0;
    int blocks = 0;
    bool writtenBeforeEvent = true;
    http.OnDocData = [&](THttpCli& client, const char*, int length) {
        delivered += length;
        ++blocks;
        writtenBeforeEvent = writtenBeforeEvent && client.ReceiveStream->Size() == delivered;
    };
    EXPECT_FALSE(Get(server.Url("/")).raised);
    http.ReceiveStream = nullptr;
    file.reset();
    EXPECT_EQ(delivered, static_cast<std::int64_t>(payload.size()));
    EXPECT_GT(blocks, 1);
    EXPECT_TRUE(writtenBeforeEvent);
    QFile stored(QString::fromStdString(path));
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_TRUE(stored.readAll().toStdString() == payload);
}

TEST_F(HttpCliTest, BodyThatCannotBeStoredFailsTheRequest) {
    ScriptedServer server({Answer({"HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\ndata"})});
    auto full = FileStream::Create("/dev/full");  // every write fails: the disk is full
    ASSERT_NE(full, nullptr);
    http.ReceiveStream = full.get();
    const Outcome outcome = Get(server.Url("/"));
    EXPECT_TRUE(outcome.raised);
    EXPECT_EQ(outcome.message, "Can't write the received data");
    EXPECT_EQ(outcome.errorCode, 404);
    http.ReceiveStream = &body;
}

TEST_F(HttpCliTest, RequestVerTakesOnly10And11) {
    EXPECT_EQ(http.RequestVer(), "1.0");
    try {
        http.SetRequestVer("2.0");
        ADD_FAILURE() << "2.0 was accepted";
    } catch (const EHttpException& error) {
        EXPECT_STREQ(error.what(), "Insupported HTTP version");
        EXPECT_EQ(error.ErrorCode(), 5);
    }
    EXPECT_EQ(http.RequestVer(), "1.0");
    http.SetRequestVer("1.1");
    EXPECT_EQ(http.RequestVer(), "1.1");
}

TEST_F(HttpCliTest, ValuesAtCreation) {
    EXPECT_EQ(http.Name, "HTTP");
    EXPECT_EQ(http.State(), httpReady);
    EXPECT_EQ(http.StatusCode(), 0);
    EXPECT_EQ(http.ContentLength(), -1);
    EXPECT_TRUE(http.FollowRelocation);
    EXPECT_EQ(http.LocationChangeMaxCount, 5);
    EXPECT_EQ(http.LocalAddr, "0.0.0.0");
    EXPECT_EQ(http.ProxyPort, "80");
    EXPECT_EQ(http.ContentTypePost, "application/x-www-form-urlencoded");
    EXPECT_EQ(http.TimeoutMs, 30000);
}

TEST_F(HttpCliTest, ApplicationQuittingAbortsTheWait) {
    ScriptedServer silent({Exchange{{}, true, false}});
    QTimer::singleShot(50, [] { QCoreApplication::exit(0); });
    const Outcome outcome = Get(silent.Url("/"));
    EXPECT_TRUE(outcome.raised);
    EXPECT_EQ(outcome.message, "Connection aborted on request");
    EXPECT_EQ(outcome.errorCode, 404);
    // The quit request stays pending until the application's own loop has run once more; let it
    // run so that the tests that follow can wait again.
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}

}  // namespace
}  // namespace gx
