#include "ReportingServer.h"

#include <QTcpSocket>
#include <memory>

namespace gx::test {

namespace {

const char* ReasonOf(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 302:
            return "Found";
        case 401:
            return "Unauthorized";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        default:
            return "Status";
    }
}

// The target of a request head: the second word of its first line.
std::string TargetOf(const QByteArray& head) {
    const QList<QByteArray> words = head.left(head.indexOf("\r\n")).split(' ');
    return words.size() >= 2 ? words[1].toStdString() : std::string();
}

}  // namespace

ReportingServer::ReportingServer() {
    server_.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&server_, &QTcpServer::newConnection, &context_, [this] { Accept(); });
}

std::string ReportingServer::Base() const {
    return "http://127.0.0.1:" + std::to_string(server_.serverPort());
}

void ReportingServer::Answer(const std::string& path, int status, const std::string& location) {
    replies_[path] = Reply{status, location};
}

void ReportingServer::AnswerFirst(int count, int status) {
    firstCount_ = count;
    firstStatus_ = status;
}

std::string ReportingServer::Response(const std::string& target) const {
    const auto found = replies_.find(target.substr(0, target.find('?')));
    Reply reply = found == replies_.end() ? Reply{} : found->second;
    if (static_cast<int>(targets_.size()) <= firstCount_) {
        reply = Reply{firstStatus_, ""};
    }
    const std::string body = "<html>" + std::to_string(reply.status) + "</html>";
    std::string response =
        "HTTP/1.0 " + std::to_string(reply.status) + " " + ReasonOf(reply.status) + "\r\n";
    if (!reply.location.empty()) {
        response += "Location: " + Base() + reply.location + "\r\n";
    }
    response += "Content-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
                "\r\n\r\n" + body;
    return response;
}

void ReportingServer::Accept() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        struct Reading {
            QByteArray head;
            bool answered = false;  // later bytes are not a new request
        };
        auto reading = std::make_shared<Reading>();
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, reading] {
            reading->head.append(socket->readAll());
            if (reading->answered || !reading->head.contains("\r\n\r\n")) {
                return;
            }
            reading->answered = true;
            const std::string target = TargetOf(reading->head);
            targets_.push_back(target);
            const std::string response = Response(target);
            socket->write(response.data(), static_cast<qint64>(response.size()));
            socket->disconnectFromHost();
        });
    }
}

std::string QueryValue(const std::string& target, const std::string& key) {
    const size_t query = target.find('?');
    if (query == std::string::npos) {
        return {};
    }
    size_t start = query + 1;
    while (start <= target.size()) {
        size_t end = target.find('&', start);
        if (end == std::string::npos) {
            end = target.size();
        }
        const std::string pair = target.substr(start, end - start);
        if (pair.rfind(key + "=", 0) == 0) {
            return pair.substr(key.size() + 1);
        }
        start = end + 1;
    }
    return {};
}

}  // namespace gx::test
