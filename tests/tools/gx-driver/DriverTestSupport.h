// Helpers of the driver tests: a temporary folder, running commands, and a network namespace
// of the test's own in which gx-driver may change the packet filter freely.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "support/RunCommand.h"
#include "support/TempFolder.h"

namespace gx::testing {

inline bool CommandWorks(const std::string& command) {
    return RunCommand(command).status == 0;
}

// Why the namespace tests cannot run here, or empty when they can.
inline std::string NamespaceTestsUnavailable() {
    if (::geteuid() != 0) {
        return "needs root: gx-driver changes the packet filter (run the tests as root)";
    }
    if (!CommandWorks("nft --version")) {
        return "needs the nft command (package nftables)";
    }
    if (!CommandWorks("ip -V")) {
        return "needs the ip command (package iproute2)";
    }
    return "";
}

// A network namespace created for one test and deleted with it. Nothing done inside it
// reaches the machine's own network.
class NetworkNamespace {
  public:
    NetworkNamespace() {
        static std::atomic<int> counter{0};
        name_ = "gxdrv-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
        const CommandRun add = RunCommand("ip netns add " + name_);
        created_ = add.status == 0;
        error_ = add.output;
        if (created_) {
            RunCommand("ip -n " + name_ + " link set lo up");
        }
    }
    ~NetworkNamespace() {
        if (created_) {
            RunCommand("ip netns delete " + name_);
        }
    }
    NetworkNamespace(const NetworkNamespace&) = delete;
    NetworkNamespace& operator=(const NetworkNamespace&) = delete;

    bool created() const { return created_; }
    const std::string& error() const { return error_; }
    const std::string& name() const { return name_; }

    // `command` run inside the namespace.
    CommandRun Run(const std::string& command) const {
        return RunCommand("ip netns exec " + name_ + " " + command);
    }

    // A socket that belongs to the namespace: a socket stays in the namespace it was created
    // in, so a short-lived thread enters the namespace just to create it, and the test uses it
    // from anywhere. -1 on failure. The socket belongs to the account `owner` as the kernel
    // sees it (its filesystem uid at creation, which the firewall's skuid reads): the thread
    // takes that uid for itself alone, and keeps its capabilities.
    int Socket(int domain, int type, uid_t owner = 0) const {
        int fd = -1;
        std::thread creator([&] {
            if (owner != 0) {
                ::syscall(SYS_setfsuid, owner);
            }
            const int ns = ::open(("/run/netns/" + name_).c_str(), O_RDONLY | O_CLOEXEC);
            if (ns >= 0 && ::setns(ns, CLONE_NEWNET) == 0) {
                fd = ::socket(domain, type | SOCK_CLOEXEC, 0);
            }
            if (ns >= 0) {
                ::close(ns);
            }
        });
        creator.join();
        return fd;
    }

  private:
    std::string name_;
    std::string error_;
    bool created_ = false;
};

}  // namespace gx::testing
