// The web server the engine benchmark sends its loads to: 127.0.0.1, a free port, one thread,
// HTTP/1.1 keep-alive, every request answered with the same 1 KiB page.
#pragma once

#include <cstdint>
#include <memory>

namespace gx::bench {

class EngineBenchOrigin {
  public:
    EngineBenchOrigin();
    ~EngineBenchOrigin();
    uint16_t Port() const;
    // Requests answered so far.
    uint64_t Answered() const;
    // Requests for a path under /listed/, which the engine must never let through.
    uint64_t AnsweredListed() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace gx::bench
