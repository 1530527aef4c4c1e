// The target of the program's HTTP client: a loopback server answers each request with the
// input's bytes and closes, and the client reads them as it reads the update server's replies
// (relocations to the same server come back to it; those to a name that would need the
// resolver are cut short, as a lookup outlives the input it was started by).
#include <QCoreApplication>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <map>
#include <string>
#include <string_view>

#include "fuzz/FuzzTargets.h"
#include "http/HttpProt.h"
#include "http/Streams.h"
#include "http/WSocket.h"

namespace gx::fuzz {
namespace {

void NeedApplication() {
    static int argc = 1;
    static char name[] = "gx-fuzz-http_response";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) {
        new QCoreApplication(argc, argv);  // lives as long as the process
    }
}

// Answers every request with the same reply, once its head has arrived.
class ReplyServer {
  public:
    ReplyServer() {
        QObject::connect(&fServer, &QTcpServer::newConnection, &fContext, [this] { Accept(); });
        fServer.listen(QHostAddress::LocalHost);
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(fServer.serverPort()); }
    void SetReply(QByteArray reply) { fReply = std::move(reply); }

  private:
    void Accept() {
        while (QTcpSocket* socket = fServer.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
                fReceived.erase(socket);
                socket->deleteLater();
            });
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                fReceived[socket] += socket->readAll();
                if (fReceived[socket].contains("\r\n\r\n")) {
                    fReceived.erase(socket);
                    socket->write(fReply);
                    socket->disconnectFromHost();  // after what is written has gone
                }
            });
        }
    }

    QObject fContext;
    QTcpServer fServer;
    QByteArray fReply;
    std::map<QTcpSocket*, QByteArray> fReceived;
};

// The host of an address "scheme://host[:port]/path".
std::string_view HostOf(std::string_view address) {
    size_t start = address.find("://");
    start = start == std::string_view::npos ? 0 : start + 3;
    size_t end = address.find_first_of(":/", start);
    return address.substr(start, end == std::string_view::npos ? end : end - start);
}

}  // namespace

int FuzzHttpResponse(const uint8_t* data, size_t size) {
    NeedApplication();
    static ReplyServer server;
    server.SetReply(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));

    THttpCli http("fuzz");
    MemoryStream body;
    http.ReceiveStream = &body;
    http.URL = server.Url() + "/update2024/gardalix/fr/gardalix2024id.txt";
    http.TimeoutMs = 2000;
    http.LocationChangeMaxCount = 3;
    http.OnStateChange = [](THttpCli& client) {
        if (client.State() == httpDnsLookup && !IsDottedIPv4(HostOf(client.Location()))) {
            client.Abort();
        }
    };
    try {
        http.Get();
    } catch (const EHttpException&) {
        // a refused reply is an answer too
    }
    return 0;
}

}  // namespace gx::fuzz
