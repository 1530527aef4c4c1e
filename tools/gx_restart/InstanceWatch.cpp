#include "InstanceWatch.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/instance/InstanceLock.h"

namespace gx {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kPoll{100};

int OpenLockFile(const std::string& lockPath) {
    return ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

// Whether the child has ended (and is reaped).
bool Ended(pid_t child) {
    int status = 0;
    const pid_t got = ::waitpid(child, &status, WNOHANG);
    return got == child || (got < 0 && errno == ECHILD);
}

}  // namespace

std::string InstanceLockPath() {
    const std::string folder = InstanceFolder();
    return folder.empty() ? std::string() : folder + "/" + kInstanceName + ".lock";
}

HeldInstanceLock::HeldInstanceLock(HeldInstanceLock&& other) noexcept : fd_(other.fd_) {
    other.fd_ = -1;
}

HeldInstanceLock& HeldInstanceLock::operator=(HeldInstanceLock&& other) noexcept {
    if (this != &other) {
        Release();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

HeldInstanceLock::~HeldInstanceLock() {
    Release();
}

void HeldInstanceLock::Release() {
    if (fd_ >= 0) {
        ::close(fd_);  // closing drops the lock
        fd_ = -1;
    }
}

HeldInstanceLock HeldInstanceLock::WaitForProgramEnd(const std::string& lockPath,
                                                     std::chrono::milliseconds limit) {
    const int fd = lockPath.empty() ? -1 : OpenLockFile(lockPath);
    if (fd < 0) {
        return HeldInstanceLock();
    }
    const Clock::time_point deadline = Clock::now() + limit;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK || Clock::now() >= deadline) {
            ::close(fd);
            return HeldInstanceLock();
        }
        std::this_thread::sleep_for(kPoll);
    }
    return HeldInstanceLock(fd);
}

bool SomeoneHoldsLock(const std::string& lockPath) {
    struct stat lockFile;
    if (lockPath.empty() || ::stat(lockPath.c_str(), &lockFile) != 0) {
        return false;
    }
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        // "1: FLOCK  ADVISORY  WRITE 4262 fe:00:10952975 0 EOF"; waiters carry "->".
        std::istringstream fields(line);
        std::string id, kind, advisory, access, pid, where;
        fields >> id >> kind >> advisory >> access >> pid >> where;
        unsigned major = 0, minor = 0;
        unsigned long inode = 0;
        if (kind != "FLOCK" ||
            std::sscanf(where.c_str(), "%x:%x:%lu", &major, &minor, &inode) != 3) {
            continue;
        }
        if (inode == lockFile.st_ino && major == ::major(lockFile.st_dev) &&
            minor == ::minor(lockFile.st_dev)) {
            return true;
        }
    }
    return false;
}

pid_t StartProgram(const std::string& programDir, const std::string& programName) {
    const std::string program = programDir + programName;
    const pid_t child = ::fork();
    if (child == 0) {
        ::setsid();
        if (::chdir(programDir.c_str()) != 0) {
            ::_exit(127);
        }
        ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return child;
}

bool CameUp(pid_t child, const std::string& lockPath, std::chrono::milliseconds settle,
            std::chrono::milliseconds limit) {
    if (child <= 0) {
        return false;
    }
    const Clock::time_point start = Clock::now();
    bool locked = false;
    while (true) {
        if (Ended(child)) {
            return false;
        }
        locked = locked || SomeoneHoldsLock(lockPath);
        const Clock::duration running = Clock::now() - start;
        if (locked && running >= settle) {
            return true;
        }
        if (running >= limit) {
            return false;
        }
        std::this_thread::sleep_for(kPoll);
    }
}

void StopProgram(pid_t child) {
    if (child <= 0) {
        return;
    }
    ::kill(-child, SIGTERM);
    for (int i = 0; i < 30 && !Ended(child); ++i) {
        std::this_thread::sleep_for(kPoll);
    }
    ::kill(-child, SIGKILL);
    for (int i = 0; i < 30 && !Ended(child); ++i) {
        std::this_thread::sleep_for(kPoll);
    }
}

}  // namespace gx
