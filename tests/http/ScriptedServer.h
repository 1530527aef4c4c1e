// A loopback HTTP server for the tests: each accepted connection plays the next exchange of a
// script (the last one is repeated), sending a response in chosen pieces and closing when told.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

namespace gx::test {

struct Exchange {
    std::vector<std::string> pieces;  // sent one after another, a few milliseconds apart
    bool waitForRequest = true;       // answer once the request header has arrived
    bool closeAfter = true;           // close once every piece is sent
    int delayMs = 5;                  // pause between two pieces
};

class ScriptedServer {
  public:
    // Listens on 127.0.0.1 at a free port, or at the given address and port.
    explicit ScriptedServer(std::vector<Exchange> script, const char* address = "127.0.0.1",
                            std::uint16_t port = 0);
    bool Listening() const { return fServer.isListening(); }
    ~ScriptedServer();

    std::uint16_t Port() const;
    std::string Url(const std::string& path = "/") const;
    // The request headers received, one per connection, in the order of the connections.
    const std::vector<std::string>& Requests() const { return fRequests; }
    int Connections() const { return fConnections; }
    bool AllClosed() const { return fOpen == 0; }

  private:
    void Accept();
    void SendPieces(class QTcpSocket* socket, const Exchange* exchange, std::size_t next);

    std::vector<Exchange> fScript;
    std::string fAddress;
    std::vector<std::string> fRequests;
    int fConnections = 0;
    int fOpen = 0;
    QObject fContext;
    QTcpServer fServer;
};

// A loopback port that nothing listens on.
std::uint16_t UnusedPort();

// Turns the event loop until done() holds or the time is up; returns done().
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 20000);

}  // namespace gx::test
