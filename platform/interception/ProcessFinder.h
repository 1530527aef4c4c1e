// Finds the process that owns the client end of a local TCP connection, and names processes.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace gx::interception {

// The account of a socket that could not be found.
inline constexpr uint32_t kUnknownAccount = UINT32_MAX;

// The local TCP socket whose own address is `from` and whose peer is `to`, as the kernel
// describes it (netlink sock_diag, which needs no privilege): its inode (0 when there is no
// such socket) and the account (uid) that made it.
struct SocketIdentity {
    uint64_t inode = 0;
    uint32_t account = kUnknownAccount;
};
SocketIdentity FindSocket(const sockaddr_storage& from, const sockaddr_storage& to);

// Where a client socket was found: its process (thread group) and descriptor number, and the
// account the socket belongs to (known from the kernel even when the process cannot be seen).
struct SocketOwner {
    uint32_t pid = 0;
    int fd = -1;
    uint32_t account = kUnknownAccount;
};

// Finds the process (thread group) holding a socket inode. This runs for every connection, so
// it is made cheap under a flood of short connections:
// - a program that closes a connection and opens the next one gets the lowest free descriptor
//   number, so the lowest few descriptors of connections that ended are tried first, one look
//   each;
// - a browser opens nearly all of its connections from one process, so the owners of recent
//   connections are searched next, first without the descriptors of their open connections;
// - the other sockets that a search passes are remembered: they are mostly connections still
//   waiting to be accepted, found with one look when their turn comes;
// - all of /proc only on a miss. Safe to call from several threads.
class ProcessFinder {
  public:
    // pid 0 when no process of ours can be seen holding it (ended, or another user's).
    SocketOwner FindOwner(uint64_t inode);
    // The owner of the client end of an accepted connection: client = the peer's address.
    SocketOwner FindClientProcess(const sockaddr_storage& client, const sockaddr_storage& server);
    // The connection found at this owner has ended: its descriptor is likely to come back.
    void ConnectionEnded(const SocketOwner& owner);

  private:
    static constexpr size_t kRecent = 8;
    static constexpr size_t kFreed = 32;
    static constexpr size_t kFreedTries = 4;
    std::mutex mutex_;
    uint32_t recent_[kRecent] = {};  // most recent first
    static uint64_t Key(const SocketOwner& owner) {
        return (uint64_t{owner.pid} << 32) | static_cast<uint32_t>(owner.fd);
    }
    std::unordered_map<uint64_t, int> live_;  // descriptors of open connections: how many
    // Sockets passed by earlier searches, by inode: often connections waiting to be accepted.
    static constexpr size_t kSeen = 4096;
    std::unordered_map<uint64_t, SocketOwner> seen_;
    std::vector<SocketOwner> freed_;  // descriptors of ended connections, oldest first
    void Remember(const SocketOwner& owner);
};

// Writes the full path of the process's executable into buf (the command name when the path
// cannot be read). False when the process is gone or buf is too small.
bool ProcessName(uint32_t pid, char* buf, size_t len);

}  // namespace gx::interception
