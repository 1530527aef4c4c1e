// The proxy as the engine meets it: requests judged one by one before they travel, answers
// from the program, responses in request order, origins reused.
#include <arpa/inet.h>
#include <unistd.h>

#include <thread>

#include "platform/interception/ProxyTestSupport.h"
#include "platform/interception/TestOrigin.h"
#include "support/RunCommand.h"

namespace gx::test {
namespace {

std::string GetRequest(const std::string& url, const std::string& extra = "") {
    std::string authority = url.substr(7, url.find('/', 7) - 7);
    return "GET " + url + " HTTP/1.1\r\nHost: " + authority + "\r\n" + extra + "\r\n";
}

class ProxyFilterTest : public ProxyTest {
  protected:
    TestOrigin origin_;
};

TEST_F(ProxyFilterTest, CurlThroughAPassEverythingProgramGetsTheOriginPage) {
    ASSERT_TRUE(StartLibrary());
    CurlResult result =
        RunCurl("-x 127.0.0.1:" + std::to_string(ProxyPort()) + " " + origin_.Url("/"));
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output, "origin saw GET /");

    // The connection was announced with curl's process and the outbound direction.
    std::lock_guard lock(Program().mutex);
    ASSERT_EQ(Program().connected.size(), 1u);
    const NF_TCP_CONN_INFO& info = Program().connected[0];
    EXPECT_EQ(info.direction, NF_D_OUT);
    EXPECT_NE(static_cast<pid_t>(info.processId), ::getpid());
    ASSERT_EQ(Program().connectedNames.size(), 1u);
    EXPECT_TRUE(Program().connectedNames[0].ends_with("/curl")) << Program().connectedNames[0];
    ASSERT_EQ(Program().connectedAccounts.size(), 1u);
    EXPECT_EQ(Program().connectedAccounts[0], ::geteuid());
}

// The account that owns each connection is the kernel's answer about the client's socket, so it
// is known for another account's program too.
TEST_F(ProxyFilterTest, EachConnectionNamesTheAccountOfItsProgram) {
    if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0) {
        GTEST_SKIP() << "needs root and setpriv to run curl as another account";
    }
    ASSERT_TRUE(StartLibrary());
    constexpr uint32_t kOther = 4703;
    const gx::testing::CommandRun result = gx::testing::RunCommand(
        "setpriv --reuid " + std::to_string(kOther) + " --regid " + std::to_string(kOther) +
        " --clear-groups curl --silent -x 127.0.0.1:" + std::to_string(ProxyPort()) + " " +
        origin_.Url("/"));
    EXPECT_EQ(result.output, "origin saw GET /");
    std::lock_guard lock(Program().mutex);
    ASSERT_EQ(Program().connectedAccounts.size(), 1u);
    EXPECT_EQ(Program().connectedAccounts[0], kOther);
}

TEST_F(ProxyFilterTest, ProgramAnsweringEveryRequestKeepsTheOriginUntouched) {
    const std::string page = "<html>bloqu\xE9</html>";
    // A copy: the thread checker sees no order between the worker's read and the end of the
    // test (the socket in between orders them, but it cannot tell).
    Program().onPart = [page](ENDPOINT_ID id, PFObject*) {
        PostAnswer(id, "HTTP/1.1 404 Not OK", page, true, 2048);
        return DPCR_BLOCK;
    };
    ASSERT_TRUE(StartLibrary());
    for (const std::string path : {"/a", "/b?x=1"}) {
        CurlResult result =
            RunCurl("-x 127.0.0.1:" + std::to_string(ProxyPort()) + " " + origin_.Url(path));
        EXPECT_EQ(result.exitCode, 0) << result.output;
        EXPECT_EQ(result.output, page);  // exactly the announced length: no padding zeros
    }
    // A listed server never even sees a connection attempt.
    EXPECT_EQ(origin_.ConnectionCount(), 0);
    EXPECT_EQ(Program().PartCount(), 2u);
}

TEST_F(ProxyFilterTest, BlockedRequestForAnUnresolvableHostIsAnsweredWithoutALookup) {
    Program().onPart = [&](ENDPOINT_ID id, PFObject*) {
        PostAnswer(id, "HTTP/1.1 404 Not OK", "blocked", true, 2048);
        return DPCR_BLOCK;
    };
    ASSERT_TRUE(StartLibrary());
    RawClient client(ProxyPort());
    client.Send(GetRequest("http://test-page.invalid/test_malware/"));
    std::string response = client.ReadToEnd();
    EXPECT_EQ(StatusOf(response), 404);
    EXPECT_TRUE(response.ends_with("\r\n\r\nblocked")) << response;
    EXPECT_TRUE(client.PeerClosed());  // "Connection: Close" ends the connection
}

// Each result of the object-part callback, with a request that carries a body.
TEST_F(ProxyFilterTest, ObjectPartResultsDecideWhatTravels) {
    struct Case {
        const char* name;
        int result;
        bool answerInWhole;  // slot 8 posts an answer, then the request (the engine's order)
        bool reachesOrigin;
        const char* expectedBody;
    };
    const Case cases[] = {
        {"passed", DPCR_BYPASS, false, true, "origin saw POST /form"},
        {"collected and posted", DPCR_FILTER_READ_ONLY, false, true, "origin saw POST /form"},
        {"collected and answered", DPCR_FILTER_READ_ONLY, true, false, "answer"},
        {"blocked", DPCR_BLOCK, false, false, "answer"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Program().Reset();
        Program().onPart = [&](ENDPOINT_ID id, PFObject*) {
            if (c.result == DPCR_BLOCK) {
                PostAnswer(id, "HTTP/1.1 403 Forbidden", "answer", false);
            }
            return c.result;
        };
        Program().onWhole = [&](ENDPOINT_ID id, PFObject* object) {
            if (c.answerInWhole) {
                PostAnswer(id, "HTTP/1.1 403 Forbidden", "answer", false);
            }
            pfc_postObject(id, object);
        };
        ASSERT_TRUE(StartLibrary());
        int before = origin_.RequestCount();
        RawClient client(ProxyPort());
        std::string body = "name=value&more=1";
        client.Send("POST " + origin_.Url("/form") + " HTTP/1.1\r\nHost: x\r\nContent-Length: " +
                    std::to_string(body.size()) + "\r\n\r\n" + body);
        std::string expectedBody = c.expectedBody;
        std::string response = client.ReadUntil(expectedBody);
        EXPECT_TRUE(response.ends_with(expectedBody)) << response;
        if (c.result == DPCR_FILTER_READ_ONLY) {
            std::lock_guard lock(Program().mutex);
            ASSERT_EQ(Program().wholeBodies.size(), 1u);
            EXPECT_EQ(Program().wholeBodies[0], body);
        }
        // The connection stays usable: a second request on it is judged and served too.
        Program().onPart = nullptr;
        client.Send(GetRequest(origin_.Url("/second")));
        EXPECT_TRUE(client.ReadUntil("origin saw GET /second").ends_with("/second"));
        EXPECT_EQ(origin_.RequestCount() - before, c.reachesOrigin ? 2 : 1);
        if (c.reachesOrigin) {
            EXPECT_EQ(origin_.Bodies()[static_cast<size_t>(before)], body);
        }
        StopLibrary();
    }
}

TEST_F(ProxyFilterTest, PipelinedRequestsAreEachJudgedAndAnsweredInOrder) {
    TestOrigin other;
    // The program blocks every request whose path contains "blocked", with a keep-alive answer.
    Program().onPart = [&](ENDPOINT_ID id, PFObject* object) {
        if (StreamText(object, HS_STATUS).find("blocked") == std::string::npos) {
            return DPCR_BYPASS;
        }
        PostAnswer(id, "HTTP/1.1 403 Forbidden", "no", false);
        return DPCR_BLOCK;
    };
    ASSERT_TRUE(StartLibrary());
    RawClient client(ProxyPort());
    // Two origins, a slow large answer first, a blocked request between, all in one write.
    client.Send(GetRequest(origin_.Url("/big/300000")) + GetRequest(other.Url("/first")) +
                GetRequest(origin_.Url("/blocked")) + GetRequest(other.Url("/chunked")) +
                GetRequest(origin_.Url("/last")));
    std::string expected =
        TestOrigin::ResponseFor("GET", "/big/300000") + TestOrigin::ResponseFor("GET", "/first") +
        "HTTP/1.1 403 Forbidden\r\nContent-Type: text/html\r\n"
        "Content-Length: 2\r\n\r\nno" +
        TestOrigin::ResponseFor("GET", "/chunked") + TestOrigin::ResponseFor("GET", "/last");
    std::string received = client.ReadAtLeast(expected.size());
    EXPECT_EQ(received.size(), expected.size());
    EXPECT_TRUE(received == expected) << received.substr(0, 400);
    std::lock_guard lock(Program().mutex);
    ASSERT_EQ(Program().partLines.size(), 5u);
    EXPECT_EQ(Program().partLines[2], "GET /blocked HTTP/1.1\r\n");
    EXPECT_EQ(Program().partLines[4], "GET /last HTTP/1.1\r\n");
}

TEST_F(ProxyFilterTest, RequestsPipelinedBehindAnAnswerThatClosesAreNotSentOn) {
    Program().onPart = [&](ENDPOINT_ID id, PFObject* object) {
        if (StreamText(object, HS_STATUS).find("blocked") == std::string::npos) {
            return DPCR_BYPASS;
        }
        PostAnswer(id, "HTTP/1.1 404 Not OK", "blocked", true);  // Connection: Close
        return DPCR_BLOCK;
    };
    ASSERT_TRUE(StartLibrary());
    RawClient client(ProxyPort());
    client.Send(GetRequest(origin_.Url("/blocked")) + GetRequest(origin_.Url("/after")) +
                GetRequest(origin_.Url("/later")));
    const std::string received = client.ReadToEnd(5s);
    EXPECT_EQ(StatusOf(received), 404);
    EXPECT_TRUE(received.ends_with("blocked")) << received.substr(0, 300);
    EXPECT_EQ(origin_.RequestCount(), 0);
    EXPECT_EQ(Program().PartCount(), 1u);
}

TEST_F(ProxyFilterTest, ResponsesOfEveryFramingReachTheirOwnRequest) {
    ASSERT_TRUE(StartLibrary());
    RawClient client(ProxyPort());
    std::string requests;
    std::string expected;
    const std::pair<const char*, const char*> sequence[] = {
        {"HEAD", "/big/50"}, {"GET", "/chunked"}, {"GET", "/204"},
        {"GET", "/304"},     {"GET", "/big/7"},   {"GET", "/until-close"},
    };
    for (const auto& [method, path] : sequence) {
        requests += std::string(method) + " " + origin_.Url(path) + " HTTP/1.1\r\nHost: h\r\n\r\n";
        expected += TestOrigin::ResponseFor(method, path);
    }
    client.Send(requests);
    // The last response ends with its connection, so the client connection ends with it.
    std::string received = client.ReadToEnd();
    EXPECT_EQ(received, expected);
    EXPECT_TRUE(client.PeerClosed());
    EXPECT_EQ(origin_.ConnectionCount(), 1);  // one origin connection, reused
}

TEST_F(ProxyFilterTest, AbsoluteFormIsRewrittenToOriginFormBeforeTheProgramSeesIt) {
    ASSERT_TRUE(StartLibrary());
    RawClient client(ProxyPort());
    client.Send("GET HTTP://" + origin_.Authority() +
                "/path?q=1 HTTP/1.1\r\nHost: wrong.example\r\nProxy-Connection: keep-alive\r\n"
                "Accept: */*\r\n\r\n");
    EXPECT_TRUE(client.ReadUntil("origin saw GET /path?q=1").ends_with("/path?q=1"));
    std::string expectedHeader = "Host: " + origin_.Authority() + "\r\nAccept: */*\r\n\r\n";
    {
        std::lock_guard lock(Program().mutex);
        ASSERT_EQ(Program().partLines.size(), 1u);
        EXPECT_EQ(Program().partLines[0], "GET /path?q=1 HTTP/1.1\r\n");
        EXPECT_EQ(Program().partHeaders[0], expectedHeader);
    }
    EXPECT_EQ(origin_.Heads().at(0), "GET /path?q=1 HTTP/1.1\r\n" + expectedHeader);
}

TEST_F(ProxyFilterTest, H2cUpgradeIsRemovedAndWebSocketUpgradeRelayed) {
    ASSERT_TRUE(StartLibrary());
    {
        RawClient client(ProxyPort());
        client.Send("GET " + origin_.Url("/h2c") +
                    " HTTP/1.1\r\nHost: h\r\nConnection: Upgrade, HTTP2-Settings\r\n"
                    "Upgrade: h2c\r\nHTTP2-Settings: AAMAAABkAAQCAAAAAAIAAAAA\r\n\r\n");
        EXPECT_TRUE(client.ReadUntil("origin saw GET /h2c").ends_with("/h2c"));
        EXPECT_EQ(origin_.Heads().at(0),
                  "GET /h2c HTTP/1.1\r\nHost: " + origin_.Authority() + "\r\n\r\n");
    }
    {
        // An upgrade the server declines: the connection goes on with the next request.
        RawClient client(ProxyPort());
        client.Send("GET " + origin_.Url("/plain") +
                    " HTTP/1.1\r\nHost: h\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n\r\n");
        EXPECT_TRUE(client.ReadUntil("origin saw GET /plain").ends_with("/plain"));
        client.Send("GET " + origin_.Url("/next") + " HTTP/1.1\r\nHost: h\r\n\r\n");
        EXPECT_TRUE(client.ReadUntil("origin saw GET /next").ends_with("/next"));
    }
    RawClient client(ProxyPort());
    client.Send("GET " + origin_.Url("/ws") +
                " HTTP/1.1\r\nHost: h\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n\r\n");
    std::string switched = client.ReadUntil("\r\n\r\n");
    EXPECT_EQ(StatusOf(switched), 101);
    client.Send("\x81\x05hello frames");
    EXPECT_EQ(client.ReadAtLeast(14), "\x81\x05hello frames");
}

TEST_F(ProxyFilterTest, ConnectTunnelsRelayTlsAndFilterPlainHttp) {
    Program().onPart = [&](ENDPOINT_ID id, PFObject*) {
        PostAnswer(id, "HTTP/1.1 404 Not OK", "blocked", true);
        return DPCR_BLOCK;
    };
    ASSERT_TRUE(StartLibrary());
    {
        // Bytes that are not HTTP (a TLS record header here) are relayed both ways untouched.
        RawClient client(ProxyPort());
        client.Send("CONNECT " + origin_.Authority() + " HTTP/1.1\r\nHost: x\r\n\r\n");
        EXPECT_EQ(client.ReadUntil("\r\n\r\n"), "HTTP/1.1 200 Connection established\r\n\r\n");
        std::string record("\x16\x03\x01\x00\x05hello", 10);
        client.Send(record);
        EXPECT_EQ(client.ReadAtLeast(record.size()), record);
        EXPECT_EQ(Program().PartCount(), 0u);  // CONNECT itself is never a request to judge
    }
    // curl -p sends plain HTTP through a tunnel: it is judged like any other request.
    CurlResult result =
        RunCurl("-p -x 127.0.0.1:" + std::to_string(ProxyPort()) + " " + origin_.Url("/inside"));
    EXPECT_EQ(result.output, "blocked");
    EXPECT_EQ(origin_.RequestCount(), 0);
    std::lock_guard lock(Program().mutex);
    ASSERT_EQ(Program().partLines.size(), 1u);
    EXPECT_EQ(Program().partLines[0], "GET /inside HTTP/1.1\r\n");
}

// Raw bytes for the server (slot 10) travel through an open tunnel; on a connection that carries
// HTTP they have nowhere to go, and the call says so instead of dropping them in silence.
TEST_F(ProxyFilterTest, RawBytesForTheServerNeedAnOpenTunnel) {
    std::atomic<ENDPOINT_ID> connection{0};
    Program().onConnected = [&](ENDPOINT_ID id, PNF_TCP_CONN_INFO) {
        pfc_addFilter(id, FT_HTTP, FF_READ_ONLY_IN, 3, FT_NONE);
        connection = id;
    };
    ASSERT_TRUE(StartLibrary());
    {
        RawClient client(ProxyPort());
        client.Send(GetRequest(origin_.Url("/plain")));
        client.ReadUntil("origin saw GET /plain");
        EXPECT_EQ(nf_tcpPostSend(connection, "\x01raw", 4), NF_STATUS_FAIL);
    }
    RawClient client(ProxyPort());
    client.Send("CONNECT " + origin_.Authority() + " HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(client.ReadUntil("\r\n\r\n"), "HTTP/1.1 200 Connection established\r\n\r\n");
    std::string record("\x16\x03\x01\x00\x01!", 6);
    client.Send(record);
    EXPECT_EQ(client.ReadAtLeast(record.size()), record);  // relayed: the tunnel is open
    EXPECT_EQ(nf_tcpPostSend(connection, "\x01raw", 4), NF_STATUS_SUCCESS);
    EXPECT_EQ(client.ReadAtLeast(4), "\x01raw");  // the origin echoes what reached it
}

// Inside a tunnel a request goes to the tunnel's server whatever its Host says: one that names a
// harmless server is judged under the tunnel's server too, and blocked when that one is listed.
TEST_F(ProxyFilterTest, ARequestNamingAnotherServerThanItsTunnelIsJudgedUnderBoth) {
    const std::string listed = "Host: " + origin_.Authority() + "\r\n";
    Program().onPart = [&](ENDPOINT_ID id, PFObject* object) {
        if (StreamText(object, HS_HEADER).find(listed) == std::string::npos) {
            return DPCR_BYPASS;
        }
        PostAnswer(id, "HTTP/1.1 404 Not OK", "blocked", true);
        return DPCR_BLOCK;
    };
    ASSERT_TRUE(StartLibrary());
    RawClient client(ProxyPort());
    client.Send("CONNECT " + origin_.Authority() + " HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(client.ReadUntil("\r\n\r\n"), "HTTP/1.1 200 Connection established\r\n\r\n");
    client.Send("GET /payload HTTP/1.1\r\nHost: harmless.example\r\n\r\n");
    EXPECT_EQ(StatusOf(client.ReadToEnd(5s)), 404);
    EXPECT_EQ(origin_.RequestCount(), 0);
    std::lock_guard lock(Program().mutex);
    ASSERT_EQ(Program().partHeaders.size(), 2u);
    EXPECT_NE(Program().partHeaders[0].find("Host: harmless.example\r\n"), std::string::npos);
    EXPECT_NE(Program().partHeaders[1].find(listed), std::string::npos);
}

TEST_F(ProxyFilterTest, OddlyWrittenRequestLinesInATunnelAreJudgedOrRefusedNeverRelayed) {
    Program().onPart = [&](ENDPOINT_ID id, PFObject*) {
        PostAnswer(id, "HTTP/1.1 404 Not OK", "blocked", true);
        return DPCR_BLOCK;
    };
    ASSERT_TRUE(StartLibrary());
    for (const OddRequestLine& c : kOddRequestLines) {
        SCOPED_TRACE(c.name);
        RawClient client(ProxyPort());
        client.Send("CONNECT " + origin_.Authority() + " HTTP/1.1\r\nHost: x\r\n\r\n");
        EXPECT_EQ(client.ReadUntil("\r\n\r\n"), "HTTP/1.1 200 Connection established\r\n\r\n");
        client.Send(std::string(c.firstLine) + "\r\nHost: x\r\nConnection: close\r\n\r\n");
        EXPECT_EQ(StatusOf(client.ReadToEnd(5s)), c.status);
    }
    EXPECT_EQ(origin_.RequestCount(), 0);
}

TEST_F(ProxyFilterTest, RulesAreReadFromTheHeadAndTheFirstMatchDecides) {
    ASSERT_TRUE(StartLibrary());
    // Base rules: the loopback rule needs the remote address, unknown to an explicit proxy,
    // so requests for local origins are filtered like any other.
    {
        RawClient client(ProxyPort());
        client.Send(GetRequest(origin_.Url("/one")));
        client.ReadUntil("/one");
        EXPECT_EQ(Program().PartCount(), 1u);
    }
    // An exemption for this process inserted at the head: its connections are not announced.
    NF_RULE exempt{};
    exempt.processId = static_cast<uint32_t>(::getpid());
    exempt.filteringFlag = NF_ALLOW;
    nf_addRule(&exempt, 1);
    {
        RawClient client(ProxyPort());
        client.Send(GetRequest(origin_.Url("/two")));
        EXPECT_TRUE(client.ReadUntil("origin saw GET /two").ends_with("/two"));
    }
    EXPECT_EQ(Program().PartCount(), 1u);
    // Another process (curl) still goes through the filtering rule behind it.
    RunCurl("-x 127.0.0.1:" + std::to_string(ProxyPort()) + " " + origin_.Url("/three"));
    EXPECT_EQ(Program().PartCount(), 2u);
    std::lock_guard lock(Program().mutex);
    EXPECT_EQ(Program().connected.size(), 2u);
}

TEST_F(ProxyFilterTest, ConnectionsMatchingNoRuleAreRelayedWithoutCallbacks) {
    ASSERT_TRUE(StartLibrary(false));
    NF_RULE remotePort{};
    remotePort.remotePort = htons(origin_.Port());  // needs the remote end: never matches here
    remotePort.filteringFlag = NF_FILTER;
    nf_addRule(&remotePort, 0);
    RunCurl("-x 127.0.0.1:" + std::to_string(ProxyPort()) + " " + origin_.Url("/x"));
    EXPECT_EQ(origin_.RequestCount(), 1);
    std::lock_guard lock(Program().mutex);
    EXPECT_TRUE(Program().connected.empty());
    EXPECT_TRUE(Program().partLines.empty());
}

TEST_F(ProxyFilterTest, ProgramMayPostFromAnotherThreadAfterTheCallback) {
    std::vector<std::thread> posters;
    std::mutex postersMutex;
    Program().onPart = [](ENDPOINT_ID, PFObject*) { return DPCR_FILTER; };
    Program().onWhole = [&](ENDPOINT_ID id, PFObject* object) {
        PFObject* copy = PFObject_create(OT_HTTP_REQUEST, 3);
        for (int i = 0; i < 3; ++i) {
            std::string text = StreamText(object, i);
            PFStream_write(PFObject_getStream(copy, i), text.data(),
                           static_cast<uint32_t>(text.size()));
        }
        std::lock_guard lock(postersMutex);
        posters.emplace_back([id, copy] {
            std::this_thread::sleep_for(50ms);
            pfc_postObject(id, copy);
            PFObject_free(copy);
        });
    };
    ASSERT_TRUE(StartLibrary());
    RawClient client(ProxyPort());
    client.Send(GetRequest(origin_.Url("/later")) + GetRequest(origin_.Url("/after")));
    std::string expected =
        TestOrigin::ResponseFor("GET", "/later") + TestOrigin::ResponseFor("GET", "/after");
    EXPECT_EQ(client.ReadAtLeast(expected.size()), expected);
    std::lock_guard lock(postersMutex);
    for (auto& poster : posters) {
        poster.join();
    }
}

// The connection-level calls the event table's slots 10 to 15 forward to: raw bytes for the
// client go out in order with the responses, a suspended client is not read, UDP has no
// connections here.
TEST_F(ProxyFilterTest, ConnectionLevelCallsActOnLiveConnectionsOnly) {
    Program().onConnected = [](ENDPOINT_ID id, PNF_TCP_CONN_INFO) {
        pfc_addFilter(id, FT_HTTP, FF_READ_ONLY_IN, 3, FT_NONE);
        EXPECT_EQ(nf_tcpPostReceive(id, "hello\r\n", 7), NF_STATUS_SUCCESS);
    };
    ASSERT_TRUE(StartLibrary());
    RawClient client(ProxyPort());
    EXPECT_EQ(client.ReadAtLeast(7), "hello\r\n");
    client.Send(GetRequest(origin_.Url("/after-raw")));
    EXPECT_TRUE(client.ReadUntil("origin saw GET /after-raw").ends_with("/after-raw"));

    ENDPOINT_ID unknown = 0xFFFFFFFFFFFFull;
    EXPECT_EQ(nf_tcpPostReceive(unknown, "x", 1), NF_STATUS_INVALID_ENDPOINT_ID);
    EXPECT_EQ(nf_tcpPostSend(unknown, "x", 1), NF_STATUS_INVALID_ENDPOINT_ID);
    EXPECT_EQ(nf_tcpSetConnectionState(unknown, 1), NF_STATUS_INVALID_ENDPOINT_ID);
    EXPECT_EQ(nf_udpSetConnectionState(1, 0), NF_STATUS_INVALID_ENDPOINT_ID);
    EXPECT_EQ(pfc_addFilter(unknown, FT_HTTP, 0, 3, FT_NONE), 0);
    EXPECT_EQ(pfc_postObject(unknown, nullptr), 0);
}

}  // namespace
}  // namespace gx::test
