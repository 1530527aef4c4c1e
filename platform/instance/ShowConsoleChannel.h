// The hand-off from a second launch to the running copy: the running console listens on a local
// socket in the instance folder once its window exists; a second launch connects, sends the
// show-console message and waits until the running copy has handled it.
#pragma once

#include <QObject>
#include <functional>
#include <string>

class QLocalServer;

namespace gx {

// The show-console message, as sent on the socket and echoed back once handled.
inline constexpr char kShowConsoleMessage[] = "1034\n";

std::string ShowConsoleSocketPath(const std::string& folder);

// The running copy's end. Lives on the main thread: the handler runs there, and the reply goes
// out only after it has returned.
class ShowConsoleServer : public QObject {
    Q_OBJECT
  public:
    explicit ShowConsoleServer(std::function<void()> onShowConsole, QObject* parent = nullptr);
    ~ShowConsoleServer() override;

    // Listens at the folder's socket path (a stale socket left by an ended copy is replaced:
    // only the holder of the instance lock calls this). False when it cannot listen.
    bool Listen(const std::string& folder);

  private:
    void AcceptConnections();

    std::function<void()> onShowConsole_;
    QLocalServer* server_;
};

// The second copy's end. True when a running console answered that it has handled the message;
// false when no console listens (none running, or not created yet), or when it did not answer
// within the time limit.
bool SendShowConsoleMessage(const std::string& folder, int timeoutMs = 30000);

}  // namespace gx
