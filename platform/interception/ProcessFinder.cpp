#include "platform/interception/ProcessFinder.h"

#include <dirent.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

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

// Is the socket at /proc/PID/fd/FD? One look.
bool DescriptorIs(const SocketOwner& owner, const char* wanted, size_t wantedLength) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%u/fd/%d", owner.pid, owner.fd);
    char link[64];
    ssize_t n = ::readlink(path, link, sizeof link);
    return n == static_cast<ssize_t>(wantedLength) && std::memcmp(link, wanted, wantedLength) == 0;
}

// The descriptor of /proc/PID/fd holding the socket, or -1. Stops at the first hit and does not
// look at the descriptors for which skip(fd) holds.
// The inode of a "socket:[N]" link text, 0 for any other.
uint64_t SocketInode(const char* link, size_t length) {
    constexpr std::string_view kPrefix = "socket:[";
    std::string_view text(link, length);
    if (!text.starts_with(kPrefix) || !text.ends_with(']')) {
        return 0;
    }
    uint64_t inode = 0;
    std::from_chars(text.data() + kPrefix.size(), text.data() + text.size() - 1, inode);
    return inode;
}

// The descriptor of /proc/PID/fd holding the socket, or -1. Stops at the first hit, does not
// look at the descriptors for which skip(fd) holds, and tells seen(inode, fd) of every other
// socket it passes.
template <typename Skip, typename Seen>
int FindDescriptor(uint32_t pid, const char* wanted, size_t wantedLength, Skip skip, Seen seen) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%u/fd", pid);
    DIR* dir = ::opendir(path);
    if (!dir) {
        return -1;
    }
    int dirFd = ::dirfd(dir);
    int found = -1;
    char link[64];
    while (dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        int fd = std::atoi(entry->d_name);
        if (skip(fd)) {
            continue;
        }
        ssize_t n = ::readlinkat(dirFd, entry->d_name, link, sizeof link);
        if (n == static_cast<ssize_t>(wantedLength) &&
            std::memcmp(link, wanted, wantedLength) == 0) {
            found = fd;
            break;
        }
        if (n > 0) {
            if (uint64_t inode = SocketInode(link, static_cast<size_t>(n))) {
                seen(inode, fd);
            }
        }
    }
    ::closedir(dir);
    return found;
}

int FindDescriptor(uint32_t pid, const char* wanted, size_t wantedLength) {
    return FindDescriptor(
        pid, wanted, wantedLength, [](int) { return false; }, [](uint64_t, int) {});
}

// One netlink socket per thread, opened on first use and kept.
int DiagSocket() {
    thread_local struct Holder {
        int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
        ~Holder() {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    } holder;
    if (holder.fd < 0) {
        holder.fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    }
    return holder.fd;
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

SocketIdentity FindSocket(const sockaddr_storage& from, const sockaddr_storage& to) {
    int fd = DiagSocket();
    if (fd < 0) {
        return {};
    }
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
        return {};
    }
    alignas(nlmsghdr) char reply[1024];
    ssize_t n = ::recv(fd, reply, sizeof reply, 0);
    if (n <= 0) {
        return {};
    }
    auto* header = reinterpret_cast<nlmsghdr*>(reply);
    for (int left = static_cast<int>(n); NLMSG_OK(header, left);
         header = NLMSG_NEXT(header, left)) {
        if (header->nlmsg_type == SOCK_DIAG_BY_FAMILY) {
            auto* diag = static_cast<inet_diag_msg*>(NLMSG_DATA(header));
            return {diag->idiag_inode, diag->idiag_uid};
        }
        if (header->nlmsg_type == NLMSG_ERROR || header->nlmsg_type == NLMSG_DONE) {
            break;
        }
    }
    return {};
}

SocketOwner ProcessFinder::FindClientProcess(const sockaddr_storage& client,
                                             const sockaddr_storage& server) {
    const SocketIdentity socket = FindSocket(client, server);
    SocketOwner owner = socket.inode ? FindOwner(socket.inode) : SocketOwner{};
    owner.account = socket.account;
    return owner;
}

void ProcessFinder::ConnectionEnded(const SocketOwner& owner) {
    if (owner.pid == 0 || owner.fd < 0) {
        return;
    }
    std::lock_guard lock(mutex_);
    // A client may reopen the descriptor before the old connection is seen to end: the
    // descriptor is then still in use by the new one.
    auto found = live_.find(Key(owner));
    if (found != live_.end() && --found->second > 0) {
        return;
    }
    if (found != live_.end()) {
        live_.erase(found);
    }
    if (freed_.size() >= kFreed) {
        freed_.erase(freed_.begin());
    }
    freed_.push_back(owner);
}

SocketOwner ProcessFinder::FindOwner(uint64_t inode) {
    char wanted[40];
    int length = std::snprintf(wanted, sizeof wanted, "socket:[%llu]",
                               static_cast<unsigned long long>(inode));
    auto wantedLength = static_cast<size_t>(length);
    uint32_t candidates[kRecent];
    std::vector<SocketOwner> freed;
    std::optional<SocketOwner> seenBefore;
    {
        std::lock_guard lock(mutex_);
        std::memcpy(candidates, recent_, sizeof candidates);
        freed = freed_;
        if (auto found = seen_.find(inode); found != seen_.end()) {
            seenBefore = found->second;
            seen_.erase(found);
        }
    }
    // Passed by an earlier search while its connection waited to be accepted: one look.
    if (seenBefore && DescriptorIs(*seenBefore, wanted, wantedLength)) {
        Remember(*seenBefore);
        return *seenBefore;
    }
    // Lowest first: a new socket takes the lowest free descriptor number.
    std::sort(freed.begin(), freed.end(),
              [](const SocketOwner& a, const SocketOwner& b) { return a.fd < b.fd; });
    if (freed.size() > kFreedTries) {
        freed.resize(
            kFreedTries);  // the lowest few; most others are not closed by their clients yet
    }
    for (const SocketOwner& owner : freed) {
        if (DescriptorIs(owner, wanted, wantedLength)) {
            Remember(owner);
            return owner;
        }
    }
    // The descriptors of the process's other open connections cannot be the new one, nor those
    // just tried.
    for (uint32_t pid : candidates) {
        if (pid == 0) {
            continue;
        }
        auto knownOrTried = [&](int fd) {
            for (const SocketOwner& owner : freed) {
                if (owner.pid == pid && owner.fd == fd) {
                    return true;
                }
            }
            std::lock_guard lock(mutex_);
            return live_.contains(Key({pid, fd}));
        };
        auto remember = [&](uint64_t otherInode, int fd) {
            std::lock_guard lock(mutex_);
            if (seen_.size() >= kSeen) {
                seen_.clear();
            }
            seen_[otherInode] = {pid, fd};
        };
        if (int fd = FindDescriptor(pid, wanted, wantedLength, knownOrTried, remember); fd >= 0) {
            Remember({pid, fd});
            return {pid, fd};
        }
    }
    // A client may have closed a connection before its end was seen here.
    for (uint32_t pid : candidates) {
        if (pid == 0) {
            continue;
        }
        if (int fd = FindDescriptor(pid, wanted, wantedLength); fd >= 0) {
            Remember({pid, fd});
            return {pid, fd};
        }
    }
    // Only thread groups are listed in /proc, so the owner found is a process, never a thread.
    DIR* proc = ::opendir("/proc");
    if (!proc) {
        return {};
    }
    SocketOwner owner;
    while (dirent* entry = ::readdir(proc)) {
        if (!IsNumber(entry->d_name)) {
            continue;
        }
        auto pid = static_cast<uint32_t>(std::strtoul(entry->d_name, nullptr, 10));
        if (std::find(std::begin(candidates), std::end(candidates), pid) != std::end(candidates)) {
            continue;
        }
        if (int fd = FindDescriptor(pid, wanted, wantedLength); fd >= 0) {
            owner = {pid, fd};
            break;
        }
    }
    ::closedir(proc);
    if (owner.pid != 0) {
        Remember(owner);
    }
    return owner;
}

// The descriptor is in use again, and its process is the most recent owner.
void ProcessFinder::Remember(const SocketOwner& owner) {
    std::lock_guard lock(mutex_);
    ++live_[Key(owner)];
    std::erase_if(freed_, [&](const SocketOwner& entry) {
        return entry.pid == owner.pid && entry.fd == owner.fd;
    });
    size_t at = kRecent - 1;
    for (size_t i = 0; i < kRecent; ++i) {
        if (recent_[i] == owner.pid) {
            at = i;
            break;
        }
    }
    for (size_t i = at; i > 0; --i) {
        recent_[i] = recent_[i - 1];
    }
    recent_[0] = owner.pid;
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
