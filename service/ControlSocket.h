// The service's control channel: a Unix socket that every account may connect to (mode 0666),
// where each connection's caller is known from the kernel (SO_PEERCRED). Each connection gets a
// thread of its own, at most kMaxConnections at once (more are closed at once), reads request
// lines of at most kMaxRequestBytes and waits kIdleTimeout for the next before it closes.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "service/ControlService.h"

namespace gx::service {

inline constexpr int kMaxConnections = 16;
inline constexpr std::chrono::seconds kIdleTimeout{30};

class ControlSocket {
  public:
    explicit ControlSocket(ControlService& service) : service_(service) {}
    ~ControlSocket() { Stop(); }
    ControlSocket(const ControlSocket&) = delete;
    ControlSocket& operator=(const ControlSocket&) = delete;

    // Listens at `path` (an old socket file there is replaced). False with a French reason.
    bool Start(const std::string& path, std::string* error);
    // Closes the socket and waits for the connections to end.
    void Stop();

  private:
    void Accept();
    void Serve(int fd);

    ControlService& service_;
    std::string path_;
    int listenFd_ = -1;
    std::thread accepter_;
    std::mutex mutex_;
    std::condition_variable ended_;
    int open_ = 0;
    std::set<int> served_;  // the connections being served, ended at once by Stop
    std::atomic<bool> stopping_{false};
};

// Where the service listens: $GARDALIX_CONTROL when set (tests), else /run/gardalix/control.
std::string ControlPath();

// A client of the channel (the console, tools, tests): sends one request, reads its answer.
// Nothing when the service cannot be reached or its answer cannot be read.
std::optional<Answer> AskService(const std::string& path, const Request& request);
// The same for a raw line (tests send what no client would).
std::optional<Answer> AskServiceLine(const std::string& path, const std::string& line);

}  // namespace gx::service
