#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ScriptedServer.h"
#include "http/WSocket.h"

namespace gx {
namespace {

using test::Exchange;
using test::ScriptedServer;
using test::WaitUntil;

// Records every event of a socket as text, and the bytes it received.
struct SocketProbe {
    explicit SocketProbe(TWSocket& socket) : fSocket(socket) {
        socket.OnDnsLookupDone = [this](std::uint16_t e) { Note("dns", e); };
        socket.OnSessionConnected = [this](std::uint16_t e) { Note("connected", e); };
        socket.OnSessionClosed = [this](std::uint16_t e) { Note("closed", e); };
        socket.OnDataAvailable = [this](std::uint16_t e) {
            char buffer[3];  // small on purpose: the rest waits for the next event
            const int count = fSocket.Receive(buffer, sizeof buffer);
            received.append(buffer, static_cast<std::size_t>(count));
        };
    }
    void Note(const char* what, std::uint16_t code) {
        events.push_back(std::string(what) + " " + std::to_string(code));
    }
    bool Saw(const std::string& event) const {
        return std::find(events.begin(), events.end(), event) != events.end();
    }

    TWSocket& fSocket;
    std::vector<std::string> events;
    std::string received;
};

TEST(WSocket, ConnectsSendsReceivesAndReportsTheServersClose) {
    ScriptedServer server({Exchange{{"hello ", "world"}}});
    TWSocket socket;
    SocketProbe probe(socket);
    socket.DnsLookup(" 127.0.0.1 ");
    EXPECT_TRUE(probe.events.empty()) << "events come later, from the event loop";
    ASSERT_TRUE(WaitUntil([&] { return probe.Saw("dns 0"); }));
    EXPECT_EQ(socket.DnsResult(), "127.0.0.1");

    ASSERT_EQ(socket.Connect(socket.DnsResult(), std::to_string(server.Port()), "0.0.0.0"), 0);
    ASSERT_TRUE(WaitUntil([&] { return probe.Saw("connected 0"); }));
    socket.Send("ping\r\n\r\n");
    ASSERT_TRUE(WaitUntil([&] { return probe.Saw("closed 0"); }));
    EXPECT_EQ(probe.received, "hello world");
    EXPECT_EQ(server.Requests().at(0), "ping\r\n\r\n");
    EXPECT_EQ(probe.events, (std::vector<std::string>{"dns 0", "connected 0", "closed 0"}));
    EXPECT_EQ(socket.State(), SocketState::Closed);
}

TEST(WSocket, RefusedConnectionEndsTheAttemptThenCloses) {
    TWSocket socket;
    SocketProbe probe(socket);
    ASSERT_EQ(socket.Connect("127.0.0.1", std::to_string(test::UnusedPort()), "0.0.0.0"), 0);
    ASSERT_TRUE(WaitUntil([&] { return probe.Saw("closed 10061"); }));
    EXPECT_EQ(probe.events, (std::vector<std::string>{"connected 10061", "closed 10061"}));
}

TEST(WSocket, BindsToTheLocalAddressAskedFor) {
    ScriptedServer server({Exchange{{"x"}, false}});
    TWSocket socket;
    SocketProbe probe(socket);
    ASSERT_EQ(socket.Connect("127.0.0.1", std::to_string(server.Port()), "127.0.0.1"), 0);
    ASSERT_TRUE(WaitUntil([&] { return probe.Saw("closed 0"); }));
    EXPECT_TRUE(probe.Saw("connected 0"));
    EXPECT_EQ(probe.received, "x");
}

TEST(WSocket, AttemptsThatCannotStartReturnTheirCodeAtOnce) {
    const struct {
        const char* address;
        const char* port;
        const char* localAddr;
        std::uint16_t code;
    } cases[] = {
        {"127.0.0.1", "no-such-service", "0.0.0.0", 11004},
        {"127.0.0.1", "99999", "0.0.0.0", 11004},
        {"127.0.0.1", "", "0.0.0.0", 11004},
        {"not an address", "80", "0.0.0.0", 10049},
        // Not an address of this machine: binding fails before anything is sent.
        {"127.0.0.1", "80", "192.0.2.1", 10049},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.address) + ":" + c.port + " from " + c.localAddr);
        TWSocket socket;
        EXPECT_EQ(socket.Connect(c.address, c.port, c.localAddr), c.code);
        EXPECT_EQ(socket.State(), SocketState::Closed);
    }
}

TEST(WSocket, NamesThatCannotBeResolvedReportHostNotFound) {
    for (const char* name : {"", "bad..name"}) {
        SCOPED_TRACE(name);
        TWSocket socket;
        SocketProbe probe(socket);
        socket.DnsLookup(name);
        ASSERT_TRUE(WaitUntil([&] { return !probe.events.empty(); }));
        EXPECT_EQ(probe.events, std::vector<std::string>{"dns 11001"});
    }
}

TEST(WSocket, AbortSilencesAConnectionAndItsPendingEvents) {
    ScriptedServer server({Exchange{{}, true, false}});
    TWSocket socket;
    SocketProbe probe(socket);
    ASSERT_EQ(socket.Connect("127.0.0.1", std::to_string(server.Port()), "0.0.0.0"), 0);
    ASSERT_TRUE(WaitUntil([&] { return probe.Saw("connected 0") && server.Connections() == 1; }));
    socket.Close();  // its close event is posted ...
    socket.Abort();  // ... and dropped here
    ASSERT_TRUE(WaitUntil([&] { return server.AllClosed(); }));
    EXPECT_EQ(probe.events, std::vector<std::string>{"connected 0"});
}

}  // namespace
}  // namespace gx
