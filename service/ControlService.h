// What the system service answers on its control channel, without a socket: each account reads
// and changes its own state and history only; an administrator may manage another account (to
// set up a child's); the switches that protect a child less ask for the account's parental
// code, unless an administrator asks. Blocks from the engine are written into the history of
// the account that sent the request.
//
// Wrong parental codes are counted per account: after kCodeTriesMax in a row, the account's code
// is refused for kCodeLockout, so that a child cannot try every code through the socket.
// Thread-safe: the control connections and the hand-off of blocks call it from their threads.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "engine/GX_Main.h"
#include "service/AccountStore.h"
#include "service/ControlProtocol.h"

namespace gx::service {

// Who is asking, as the socket says (SO_PEERCRED), never as the request says.
struct Caller {
    uint32_t account = 0;  // uid
    uint32_t process = 0;  // pid
};

inline constexpr int kCodeTriesMax = 5;
inline constexpr std::chrono::seconds kCodeLockout{60};

class ControlService {
  public:
    // isAdministrator: whether the caller may manage any account without its code (root, or
    // the polkit action fr.gardalix.manage).
    using AdministratorCheck = std::function<bool(const Caller&)>;
    using Clock = std::chrono::steady_clock;

    ControlService(AccountStore& store, AdministratorCheck isAdministrator);

    // Publishes every account's policy for the engine (at the start, before any request).
    void PublishPolicies();
    // The answer to one request line (without its LF). closeAfter: the line was not a request,
    // and the connection ends after the answer.
    std::string Handle(std::string_view line, const Caller& caller, bool& closeAfter);
    // A block, into its account's history; one of an unknown account is dropped (it belongs to
    // nobody who could read it).
    void Record(const BlockEvent& block);

    // For tests: the clock of the lockout.
    void SetClock(std::function<Clock::time_point()> now) { now_ = std::move(now); }

  private:
    std::string Change(const Request& request, uint32_t account, bool administrator);
    // Empty when allowed; else the refusal's answer.
    std::string CodeRefusal(const Request& request, uint32_t account,
                            const AccountSettings& settings, bool administrator);
    std::string State(uint32_t account);
    std::string History(uint32_t account);

    AccountStore& store_;
    AdministratorCheck isAdministrator_;
    std::function<Clock::time_point()> now_ = [] { return Clock::now(); };
    std::mutex mutex_;
    struct Tries {
        int wrong = 0;
        Clock::time_point lockedUntil{};
    };
    std::map<uint32_t, Tries> tries_;
};

// An administrator: root, or a caller that polkit allows fr.gardalix.manage (pkcheck, which may
// ask the desktop's agent for the administrator's password).
bool IsAdministrator(const Caller& caller);

}  // namespace gx::service
