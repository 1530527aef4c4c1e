// A real web server as the benchmarks' origin: nginx, started as the current user on a free
// loopback port with a configuration of its own in a temporary folder (pid, logs and temporary
// files there too), serving /1k (1 KiB) and /1m (1 MiB) kept alive, and the site's own files;
// over TLS with HTTP/2 when the site gives a certificate. Stopped and its folder removed on
// destruction.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace gx::bench {

struct NginxSite {
    std::string certificatePath;  // PEM; empty: plain HTTP/1.1
    std::string keyPath;
    std::vector<std::pair<std::string, std::string>> files;  // path below the root, content
};

class NginxOrigin {
  public:
    explicit NginxOrigin(NginxSite site = {});
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

    NginxSite site_;
    std::string folder_;
    std::string problem_;
    pid_t pid_ = -1;
    uint16_t port_ = 0;
};

}  // namespace gx::bench
