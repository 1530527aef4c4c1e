#include "ScriptedServer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

namespace gx::test {
namespace {

std::size_t CountRequests(const std::string& received) {
    std::size_t count = 0;
    for (auto end = received.find("\r\n\r\n"); end != std::string::npos;
         end = received.find("\r\n\r\n", end + 4)) {
        ++count;
    }
    return count;
}

}  // namespace

ScriptedServer::ScriptedServer(std::vector<Exchange> script, const char* address,
                               std::uint16_t port)
    : fScript(std::move(script)), fAddress(address) {
    QObject::connect(&fServer, &QTcpServer::newConnection, &fContext, [this] { Accept(); });
    fServer.listen(QHostAddress(QString::fromLatin1(address)), port);
}

ScriptedServer::~ScriptedServer() {
    fServer.close();
}

std::uint16_t ScriptedServer::Port() const {
    return fServer.serverPort();
}

std::string ScriptedServer::Url(const std::string& path) const {
    return "http://" + fAddress + ":" + std::to_string(Port()) + path;
}

void ScriptedServer::Accept() {
    while (QTcpSocket* socket = fServer.nextPendingConnection()) {
        const std::size_t index = std::min<std::size_t>(fConnections, fScript.size() - 1);
        const Exchange* exchange = &fScript[index];
        const std::size_t requestIndex = fRequests.size();
        fRequests.emplace_back();
        ++fConnections;
        ++fOpen;
        QObject::connect(socket, &QTcpSocket::disconnected, &fContext, [this, socket] {
            --fOpen;
            socket->deleteLater();
        });
        // Every request that arrives on the connection is answered by the exchange.
        auto answers = std::make_shared<std::size_t>(exchange->waitForRequest ? 0 : 1);
        QObject::connect(socket, &QTcpSocket::readyRead, &fContext,
                         [this, socket, exchange, requestIndex, answers] {
                             std::string& request = fRequests[requestIndex];
                             request += socket->readAll().toStdString();
                             if (CountRequests(request) > *answers) {
                                 ++*answers;
                                 SendPieces(socket, exchange, 0);
                             }
                         });
        if (!exchange->waitForRequest) {
            SendPieces(socket, exchange, 0);
        }
    }
}

void ScriptedServer::SendPieces(QTcpSocket* socket, const Exchange* exchange, std::size_t next) {
    if (socket->state() != QAbstractSocket::ConnectedState) {
        return;
    }
    if (next == exchange->pieces.size()) {
        if (exchange->closeAfter) {
            socket->disconnectFromHost();
        }
        return;
    }
    const std::string& piece = exchange->pieces[next];
    socket->write(piece.data(), static_cast<qint64>(piece.size()));
    socket->flush();
    QTimer::singleShot(exchange->delayMs, socket,
                       [this, socket, exchange, next] { SendPieces(socket, exchange, next + 1); });
}

std::uint16_t UnusedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const std::uint16_t port = probe.serverPort();
    probe.close();
    return port;
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return done();
}

}  // namespace gx::test
