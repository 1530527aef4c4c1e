#include "platform/interception/SpliceRelay.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

namespace gx::interception {
namespace {

// Steps of one turn on the event loop: a fast pair of sockets never starves the loop's others.
constexpr int kStepsPerTurn = 16;

ssize_t KernelSplice(int from, int to, size_t length, unsigned flags) {
    return ::splice(from, nullptr, to, nullptr, length, flags);
}

std::atomic<SpliceCall> gSpliceCall{KernelSplice};

ssize_t CallSplice(int from, int to, size_t length) {
    return gSpliceCall.load(std::memory_order_relaxed)(from, to, length,
                                                       SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
}

// What the kernel says when these descriptors cannot be spliced (or not now, for want of
// memory): the buffered path can still move the bytes.
bool IsRefusal(int error) {
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == ENOMEM;
}

// A splice into a socket whose peer left raises SIGPIPE on this thread (send() is told not to,
// splice cannot be). The threads that relay keep it blocked, and the pending signal is taken,
// so that it never reaches the process.
void BlockSigpipeOnThisThread() {
    thread_local bool blocked = false;
    if (!blocked) {
        sigset_t pipeOnly;
        sigemptyset(&pipeOnly);
        sigaddset(&pipeOnly, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeOnly, nullptr);
        blocked = true;
    }
}

void DiscardPendingSigpipe() {
    sigset_t pipeOnly;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    if (sigismember(&pending, SIGPIPE)) {
        timespec now{0, 0};
        sigtimedwait(&pipeOnly, nullptr, &now);
    }
}

}  // namespace

void SetSpliceCallForTesting(SpliceCall call) {
    gSpliceCall = call ? call : KernelSplice;
}

SpliceRelay::SpliceRelay(asio::ip::tcp::socket& from, asio::ip::tcp::socket& to, size_t capacity)
    : from_(from), to_(to), capacity_(capacity) {}

SpliceRelay::~SpliceRelay() {
    if (pipeRead_ >= 0) {
        ::close(pipeRead_);
        ::close(pipeWrite_);
    }
}

bool SpliceRelay::OpenPipe() {
    if (pipeRead_ >= 0) {
        return true;
    }
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) {
        return false;  // no descriptors left, most likely
    }
    pipeRead_ = fds[0];
    pipeWrite_ = fds[1];
    ::fcntl(pipeWrite_, F_SETPIPE_SZ, static_cast<int>(capacity_));  // the default size otherwise
    int size = ::fcntl(pipeWrite_, F_GETPIPE_SZ);
    capacity_ = size > 0 ? static_cast<size_t>(size) : 65536;
    return true;
}

bool SpliceRelay::Run(uint64_t limit, std::weak_ptr<void> owner, Progress progress,
                      Finished finished) {
    asio::error_code error;
    if (!OpenPipe() || (from_.native_non_blocking(true, error), error) ||
        (to_.native_non_blocking(true, error), error)) {
        return false;
    }
    BlockSigpipeOnThisThread();
    ++generation_;
    running_ = true;
    sourceEnded_ = false;
    remaining_ = limit;
    read_ = 0;
    owner_ = std::move(owner);
    progress_ = std::move(progress);
    finished_ = std::move(finished);
    Step();
    return true;
}

void SpliceRelay::Stop() {
    ++generation_;
    running_ = false;
    progress_ = nullptr;
    finished_ = nullptr;
}

std::string SpliceRelay::TakeHeld() {
    std::string bytes(held_, '\0');
    size_t got = 0;
    while (got < bytes.size()) {
        ssize_t n = ::read(pipeRead_, bytes.data() + got, bytes.size() - got);
        if (n <= 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    held_ = 0;
    return bytes;
}

void SpliceRelay::Step() {
    for (int step = 0; running_; ++step) {
        if (step == kStepsPerTurn) {
            asio::post(to_.get_executor(), [this, generation = generation_, owner = owner_.lock()] {
                if (generation == generation_) {
                    Step();
                }
            });
            return;
        }
        if (held_ > 0) {
            ssize_t n = CallSplice(pipeRead_, to_.native_handle(), held_);
            if (n > 0) {
                held_ -= static_cast<size_t>(n);
                if (progress_) {
                    progress_();
                }
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno == EAGAIN) {
                WaitFor(to_, asio::socket_base::wait_write);
                return;
            }
            int error = n < 0 ? errno : EPIPE;
            if (error == EPIPE) {
                DiscardPendingSigpipe();
            }
            Finish(IsRefusal(error) ? End::Refused : End::Failed);
            return;
        }
        if (sourceEnded_) {
            Finish(End::SourceEnded);
            return;
        }
        if (remaining_ == 0) {
            Finish(End::LimitReached);
            return;
        }
        size_t wanted = static_cast<size_t>(std::min<uint64_t>(remaining_, capacity_));
        ssize_t n = CallSplice(from_.native_handle(), pipeWrite_, wanted);
        if (n > 0) {
            held_ += static_cast<size_t>(n);
            read_ += static_cast<uint64_t>(n);
            if (remaining_ != kUnlimited) {
                remaining_ -= static_cast<uint64_t>(n);
            }
            continue;
        }
        if (n == 0) {
            sourceEnded_ = true;
            continue;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN) {
            WaitFor(from_, asio::socket_base::wait_read);
            return;
        }
        Finish(IsRefusal(errno) ? End::Refused : End::Failed);
        return;
    }
}

// Only after the call said "not now": the readiness that comes next wakes the wait.
void SpliceRelay::WaitFor(asio::ip::tcp::socket& socket, asio::socket_base::wait_type type) {
    socket.async_wait(type, [this, generation = generation_,
                             owner = owner_.lock()](const asio::error_code& error) {
        if (generation != generation_ || !running_) {
            return;
        }
        if (error) {
            Finish(End::Failed);
            return;
        }
        Step();
    });
}

void SpliceRelay::Finish(End end) {
    running_ = false;
    Finished finished = std::move(finished_);
    progress_ = nullptr;
    finished_ = nullptr;
    if (finished) {
        finished(end);
    }
}

}  // namespace gx::interception
