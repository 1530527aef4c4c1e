#include "UpdateTestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTcpSocket>
#include <QTest>

#include "update/GX_MessageBoxDlg.h"
#include "update/GX_MiseAjourDlg.h"
#include "update/GX_MiseAjourQuestionDlg.h"

namespace gx::test {

namespace {

std::string PathOf(const std::string& target) {
    return target.substr(0, target.find('?'));
}

std::string Response(const Route& route) {
    return "HTTP/1.0 " + std::to_string(route.status) +
           " Scripted\r\nContent-Type: text/plain\r\n" +
           "Content-Length: " + std::to_string(route.body.size()) + "\r\n\r\n" + route.body;
}

}  // namespace

UpdateServer::UpdateServer() {
    QObject::connect(&server_, &QTcpServer::newConnection, &context_, [this] { Accept(); });
    server_.listen(QHostAddress::LocalHost, 0);
}

UpdateServer::~UpdateServer() {
    server_.close();
}

std::string UpdateServer::Base() const {
    return "http://127.0.0.1:" + std::to_string(server_.serverPort());
}

void UpdateServer::Serve(const std::string& path, Route route) {
    routes_[path] = std::move(route);
}

int UpdateServer::Hits(const std::string& path) const {
    int hits = 0;
    for (const std::string& target : targets_) {
        hits += PathOf(target) == path ? 1 : 0;
    }
    return hits;
}

void UpdateServer::Accept() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        auto request = std::make_shared<std::string>();
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QTcpSocket::readyRead, &context_, [this, socket, request] {
            const bool complete = request->find("\r\n\r\n") != std::string::npos;
            *request += socket->readAll().toStdString();
            if (!complete && request->find("\r\n\r\n") != std::string::npos) {
                Answer(socket, *request);
            }
        });
    }
}

void UpdateServer::Answer(QTcpSocket* socket, const std::string& request) {
    // "GET /target HTTP/1.0"
    const std::size_t start = request.find(' ') + 1;
    const std::string target = request.substr(start, request.find(' ', start) - start);
    targets_.push_back(target);
    const auto route = routes_.find(PathOf(target));
    const Route answer = route != routes_.end() ? route->second : Route{404, "introuvable"};
    const std::string whole = Response(answer);
    const std::size_t now = std::min(answer.holdAt, whole.size());
    socket->write(whole.data(), static_cast<qint64>(now));
    if (now < whole.size()) {
        held_.emplace_back(socket, whole.substr(now));
        return;
    }
    socket->disconnectFromHost();
}

void UpdateServer::Release() {
    for (auto& [socket, rest] : held_) {
        socket->write(rest.data(), static_cast<qint64>(rest.size()));
        socket->disconnectFromHost();
    }
    held_.clear();
}

std::string UnreachableBase() {
    return "http://127.0.0.1:" + std::to_string(UnusedPort());
}

UpdateAnswerer::UpdateAnswerer(bool accept) : acceptUpdate(accept) {
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { Poll(); });
    timer_.start(20);
}

std::vector<SeenWindow> UpdateAnswerer::Seen(const QString& kind) const {
    std::vector<SeenWindow> some;
    for (const SeenWindow& window : seen) {
        if (window.kind == kind) {
            some.push_back(window);
        }
    }
    return some;
}

void UpdateAnswerer::Poll() {
    QWidget* window = QApplication::activeModalWidget();
    if (window == nullptr || !window->isVisible()) {
        return;
    }
    if (auto* box = qobject_cast<QMessageBox*>(window)) {
        seen.push_back({"box", box->windowTitle(), box->text(), static_cast<int>(box->icon())});
        box->button(QMessageBox::Ok)->click();
    } else if (auto* question = qobject_cast<TMiseAjourQuestionDlg*>(window)) {
        seen.push_back({"question", question->windowTitle(), question->MessageText});
        QTest::mouseClick(acceptUpdate ? question->URLLabel1 : question->URLLabel2, Qt::LeftButton);
    } else if (auto* message = qobject_cast<TGXMessageBoxDlg*>(window)) {
        seen.push_back({"message", message->windowTitle(), message->MessageText});
        QTest::mouseClick(message->Button1, Qt::LeftButton);
    } else if (auto* applied = qobject_cast<TMiseAjourDlg*>(window)) {
        seen.push_back({"applied", applied->windowTitle(), applied->MessageText});
        if (onApplied) {
            onApplied();
        }
        QTest::mouseClick(applied->URLLabel1, Qt::LeftButton);
    } else if (auto* dialog = qobject_cast<QDialog*>(window)) {
        seen.push_back({"other", dialog->windowTitle(), {}});
        dialog->reject();
    }
}

}  // namespace gx::test
