// A real web server as the benchmarks' origin: nginx, started as the current user on a free
// loopback port with a configuration of its own in a temporary folder (pid, logs and temporary
// files there too), serving /1k (1 KiB) and /1m (1 MiB) kept alive. Stopped and its folder
// removed on destruction.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace gx::bench {

class NginxOrigin {
  public:
    NginxOrigin();
    ~NginxOrigin();
    NginxOrigin(const NginxOrigin&) = delete;
    NginxOrigin& operator=(const NginxOrigin&) = delete;

    // False when nginx is not installed or did not start; Problem() says why.
    bool Running() const { return pid_ > 0; }
    const std::string& Problem() const { return problem_; }
    uint16_t Port() const { return port_; }

  private:
    bool WriteFolder();
    bool Launch();
    bool WaitUntilListening();
    void Stop();

    std::string folder_;
    std::string problem_;
    pid_t pid_ = -1;
    uint16_t port_ = 0;
};

}  // namespace gx::bench
