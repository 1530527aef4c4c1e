// Whole texts through a pipe or file descriptor, interrupted calls retried.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <string>

namespace gx {

// Everything readable until the end (or an error).
inline std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    while (true) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return text;
        }
        text.append(buffer, static_cast<size_t>(n));
    }
}

// Writes the whole text; false when the descriptor took less (a reader that went away, a full
// disk).
inline bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace gx
