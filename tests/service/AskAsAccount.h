// A request to the service's control channel on a connection of another account's own: a
// thread of the test takes the account's identity for itself alone (the kernel keeps
// credentials per thread, and the thread ends with the request), so the service hears that
// account ask, as SO_PEERCRED tells it. Account 0 asks as the test itself (root).
#pragma once

#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <string>
#include <thread>

#include "service/ControlSocket.h"

namespace gx::service {

// One request line (without its LF); nothing when no answer came.
inline std::optional<Answer> AskAsAccount(uint32_t account, const std::string& path,
                                          const std::string& line) {
    std::optional<Answer> answer;
    std::thread asker([&] {
        if (account == 0 || ::syscall(SYS_setresuid, -1, account, -1) == 0) {
            answer = AskServiceLine(path, line + "\n");
        }
    });
    asker.join();
    return answer;
}

}  // namespace gx::service
