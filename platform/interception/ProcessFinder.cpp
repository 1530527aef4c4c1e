#include "platform/interception/ProcessFinder.h"

#include <dirent.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace gx::interception {
namespace {

void FillDiagAddress(const sockaddr_storage& address, __be16& port, __be32* words) {
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        port = v4.sin_port;
        std::memcpy(words, &v4.sin_addr, 4);
    } else {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        port = v6.sin6_port;
        std::memcpy(words, &v6.sin6_addr, 16);
    }
}

class FdCloser {
  public:
    explicit FdCloser(int fd) : fd_(fd) {}
    ~FdCloser() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;

  private:
    int fd_;
};

// Does /proc/PID/fd hold the socket? Reads the links one by one and stops at the first hit.
bool ProcessHoldsSocket(uint32_t pid, const char* wanted, size_t wantedLength) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%u/fd", pid);
    DIR* dir = ::opendir(path);
    if (!dir) {
        return false;
    }
    int dirFd = ::dirfd(dir);
    bool found = false;
    char link[64];
    while (dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        ssize_t n = ::readlinkat(dirFd, entry->d_name, link, sizeof link);
        if (n == static_cast<ssize_t>(wantedLength) &&
            std::memcmp(link, wanted, wantedLength) == 0) {
            found = true;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

bool IsNumber(const char* text) {
    if (!*text) {
        return false;
    }
    for (; *text; ++text) {
        if (*text < '0' || *text > '9') {
            return false;
        }
    }
    return true;
}

}  // namespace

uint64_t FindSocketInode(const sockaddr_storage& from, const sockaddr_storage& to) {
    int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (fd < 0) {
        return 0;
    }
    FdCloser closer(fd);
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } message{};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST;
    message.request.sdiag_family = static_cast<__u8>(from.ss_family);
    message.request.sdiag_protocol = IPPROTO_TCP;
    message.request.idiag_states = ~0U;
    message.request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    message.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    FillDiagAddress(from, message.request.id.idiag_sport, message.request.id.idiag_src);
    FillDiagAddress(to, message.request.id.idiag_dport, message.request.id.idiag_dst);
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd, &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel),
                 sizeof kernel) < 0) {
        return 0;
    }
    alignas(nlmsghdr) char reply[1024];
    ssize_t n = ::recv(fd, reply, sizeof reply, 0);
    if (n <= 0) {
        return 0;
    }
    auto* header = reinterpret_cast<nlmsghdr*>(reply);
    for (int left = static_cast<int>(n); NLMSG_OK(header, left);
         header = NLMSG_NEXT(header, left)) {
        if (header->nlmsg_type == SOCK_DIAG_BY_FAMILY) {
            auto* diag = static_cast<inet_diag_msg*>(NLMSG_DATA(header));
            return diag->idiag_inode;
        }
        if (header->nlmsg_type == NLMSG_ERROR || header->nlmsg_type == NLMSG_DONE) {
            break;
        }
    }
    return 0;
}

uint32_t ProcessFinder::FindClientProcess(const sockaddr_storage& client,
                                          const sockaddr_storage& server) {
    uint64_t inode = FindSocketInode(client, server);
    return inode ? FindOwner(inode) : 0;
}

uint32_t ProcessFinder::FindOwner(uint64_t inode) {
    char wanted[40];
    int length = std::snprintf(wanted, sizeof wanted, "socket:[%llu]",
                               static_cast<unsigned long long>(inode));
    uint32_t candidates[kRecent];
    {
        std::lock_guard lock(mutex_);
        std::memcpy(candidates, recent_, sizeof candidates);
    }
    for (uint32_t pid : candidates) {
        if (pid != 0 && ProcessHoldsSocket(pid, wanted, static_cast<size_t>(length))) {
            Remember(pid);
            return pid;
        }
    }
    // Only thread groups are listed in /proc, so the owner found is a process, never a thread.
    DIR* proc = ::opendir("/proc");
    if (!proc) {
        return 0;
    }
    uint32_t owner = 0;
    while (dirent* entry = ::readdir(proc)) {
        if (!IsNumber(entry->d_name)) {
            continue;
        }
        auto pid = static_cast<uint32_t>(std::strtoul(entry->d_name, nullptr, 10));
        bool seenAlready = false;
        for (uint32_t candidate : candidates) {
            seenAlready = seenAlready || candidate == pid;
        }
        if (!seenAlready && ProcessHoldsSocket(pid, wanted, static_cast<size_t>(length))) {
            owner = pid;
            break;
        }
    }
    ::closedir(proc);
    if (owner != 0) {
        Remember(owner);
    }
    return owner;
}

void ProcessFinder::Remember(uint32_t pid) {
    std::lock_guard lock(mutex_);
    size_t at = kRecent - 1;
    for (size_t i = 0; i < kRecent; ++i) {
        if (recent_[i] == pid) {
            at = i;
            break;
        }
    }
    for (size_t i = at; i > 0; --i) {
        recent_[i] = recent_[i - 1];
    }
    recent_[0] = pid;
}

bool ProcessName(uint32_t pid, char* buf, size_t len) {
    if (pid == 0 || !buf || len == 0) {
        return false;
    }
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%u/exe", pid);
    std::string name(4096, '\0');
    ssize_t n = ::readlink(path, name.data(), name.size());
    if (n > 0) {
        name.resize(static_cast<size_t>(n));
    } else {
        // Another user's process, or a kernel thread: fall back to its command name.
        std::snprintf(path, sizeof path, "/proc/%u/comm", pid);
        FILE* file = std::fopen(path, "re");
        if (!file) {
            return false;
        }
        size_t read = std::fread(name.data(), 1, name.size() - 1, file);
        std::fclose(file);
        name.resize(read);
        while (!name.empty() && name.back() == '\n') {
            name.pop_back();
        }
        if (name.empty()) {
            return false;
        }
    }
    if (name.size() + 1 > len) {
        return false;
    }
    std::memcpy(buf, name.c_str(), name.size() + 1);
    return true;
}

}  // namespace gx::interception
