#include "platform/instance/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace gx {

namespace {

// A folder under /tmp that only this user can use: made when missing, and refused when it is a
// link or belongs to someone else (anyone may create names in /tmp first).
bool EnsurePrivateFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid()) {
        return false;
    }
    return (info.st_mode & 0077) == 0 || chmod(path.c_str(), 0700) == 0;
}

}  // namespace

std::string InstanceFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] != '\0') {
        struct stat info {};
        if (stat(runtime, &info) == 0 && S_ISDIR(info.st_mode)) {
            return runtime;
        }
    }
    const std::string fallback = "/tmp/gardalix-" + std::to_string(getuid());
    return EnsurePrivateFolder(fallback) ? fallback : std::string();
}

InstanceState AcquireInstanceLock(const std::string& folder) {
    if (folder.empty()) {
        return InstanceState::FirstCopy;
    }
    const std::string path = folder + "/" + kInstanceName + ".lock";
    // The descriptor stays open (and the lock held) until the process ends.
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return InstanceState::FirstCopy;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool heldElsewhere = errno == EWOULDBLOCK;
        close(fd);
        return heldElsewhere ? InstanceState::AnotherCopyRuns : InstanceState::FirstCopy;
    }
    return InstanceState::FirstCopy;
}

}  // namespace gx
