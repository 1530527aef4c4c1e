// Finds the process that owns the client end of a local TCP connection, and names processes.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace gx::interception {

// The socket inode of the local TCP socket whose own address is `from` and whose peer is `to`
// (netlink sock_diag); 0 when there is none.
uint64_t FindSocketInode(const sockaddr_storage& from, const sockaddr_storage& to);

// Finds the process (thread group) holding a socket inode. A browser opens nearly all of its
// connections from one process, so the owners of recent connections are searched first and all
// of /proc only on a miss. Safe to call from several threads.
class ProcessFinder {
  public:
    // 0 when no process of ours can be seen holding it (ended, or another user's).
    uint32_t FindOwner(uint64_t inode);
    // The owner of the client end of an accepted connection: client = the peer's address.
    uint32_t FindClientProcess(const sockaddr_storage& client, const sockaddr_storage& server);

  private:
    static constexpr size_t kRecent = 8;
    std::mutex mutex_;
    uint32_t recent_[kRecent] = {};  // most recent first
    void Remember(uint32_t pid);
};

// Writes the full path of the process's executable into buf (the command name when the path
// cannot be read). False when the process is gone or buf is too small.
bool ProcessName(uint32_t pid, char* buf, size_t len);

}  // namespace gx::interception
