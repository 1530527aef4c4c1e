// Shared by the update tests: a loopback update server that serves files by path and records
// the requests it got, and an answerer for the update client's windows.
#pragma once

#include <QObject>
#include <QString>
#include <QTcpServer>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "console/ConsoleTestSupport.h"
#include "http/ScriptedServer.h"

class QTcpSocket;

namespace gx::test {

// What the server answers on one path (the query is not looked at, as a static server would).
struct Route {
    int status = 200;
    std::string body;
    // When set, only the first holdAt bytes of the answer (head included: 0 sends nothing) go
    // out until Release() is called.
    std::size_t holdAt = std::string::npos;
};

class UpdateServer {
  public:
    UpdateServer();
    ~UpdateServer();

    // "http://127.0.0.1:port".
    std::string Base() const;
    void Serve(const std::string& path, Route route);
    // The request targets ("/path?query"), in the order they came.
    const std::vector<std::string>& Targets() const { return targets_; }
    // How many requests named the path (query ignored).
    int Hits(const std::string& path) const;
    // Sends the rest of every held answer.
    void Release();

  private:
    void Accept();
    void Answer(QTcpSocket* socket, const std::string& request);

    QTcpServer server_;
    QObject context_;
    std::map<std::string, Route> routes_;
    std::vector<std::string> targets_;
    std::vector<std::pair<QTcpSocket*, std::string>> held_;
};

// A base address where nothing listens.
std::string UnreachableBase();

// What the answerer saw of one window.
struct SeenWindow {
    QString kind;  // "box" (a standard box), "question", "message", "applied"
    QString title;
    QString text;
    int icon = 0;  // QMessageBox::Icon of a box
};

// Answers every modal window of the update client while it lives: boxes with OK, the question
// with "Oui" or "Non" (clicked like a user), the message box with "Fermer", the update-applied
// notice with "Fermer".
class UpdateAnswerer {
  public:
    explicit UpdateAnswerer(bool acceptUpdate = true);
    std::vector<SeenWindow> seen;
    bool acceptUpdate;
    // Run when the update-applied notice is about to be closed.
    std::function<void()> onApplied;

    // The windows of one kind that it saw.
    std::vector<SeenWindow> Seen(const QString& kind) const;

  private:
    void Poll();
    QTimer timer_;
};

}  // namespace gx::test
