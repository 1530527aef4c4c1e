#include "platform/instance/ShowConsoleChannel.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QLocalServer>
#include <QLocalSocket>
#include <chrono>
#include <cstring>

namespace gx {

namespace {

constexpr qint64 kMessageLength = sizeof(kShowConsoleMessage) - 1;

// Writes the whole buffer; false on any failure.
bool WriteAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        const ssize_t written = send(fd, data, length, MSG_NOSIGNAL);
        if (written <= 0) {
            return false;
        }
        data += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

// Reads exactly `length` bytes before the deadline; false on end of stream, error or time-out.
bool ReadExactly(int fd, char* data, size_t length,
                 std::chrono::steady_clock::time_point deadline) {
    while (length > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd waiting{fd, POLLIN, 0};
        const int ready = poll(&waiting, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return false;
        }
        const ssize_t got = recv(fd, data, length, 0);
        if (got <= 0) {
            return false;
        }
        data += got;
        length -= static_cast<size_t>(got);
    }
    return true;
}

}  // namespace

std::string ShowConsoleSocketPath(const std::string& folder) {
    return folder + "/Gardalix.sock";
}

ShowConsoleServer::ShowConsoleServer(std::function<void()> onShowConsole, QObject* parent)
    : QObject(parent), onShowConsole_(std::move(onShowConsole)), server_(new QLocalServer(this)) {
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &ShowConsoleServer::AcceptConnections);
}

ShowConsoleServer::~ShowConsoleServer() {
    const QString path = server_->fullServerName();
    server_->close();
    if (!path.isEmpty()) {
        QLocalServer::removeServer(path);
    }
}

bool ShowConsoleServer::Listen(const std::string& folder) {
    if (folder.empty()) {
        return false;
    }
    const QString path = QString::fromStdString(ShowConsoleSocketPath(folder));
    QLocalServer::removeServer(path);
    return server_->listen(path);
}

void ShowConsoleServer::AcceptConnections() {
    while (QLocalSocket* client = server_->nextPendingConnection()) {
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        connect(client, &QLocalSocket::readyRead, this, [this, client] {
            if (client->bytesAvailable() < kMessageLength) {
                return;
            }
            const QByteArray message = client->read(kMessageLength);
            if (message == QByteArray(kShowConsoleMessage)) {
                onShowConsole_();
                client->write(kShowConsoleMessage, kMessageLength);
                client->flush();
            }
            client->disconnectFromServer();
        });
    }
}

bool SendShowConsoleMessage(const std::string& folder, int timeoutMs) {
    if (folder.empty()) {
        return false;
    }
    const std::string path = ShowConsoleSocketPath(folder);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) {
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char reply[kMessageLength] = {};
    const bool handled =
        connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 &&
        WriteAll(fd, kShowConsoleMessage, kMessageLength) &&
        ReadExactly(fd, reply, kMessageLength, deadline) &&
        std::memcmp(reply, kShowConsoleMessage, kMessageLength) == 0;
    close(fd);
    return handled;
}

}  // namespace gx
