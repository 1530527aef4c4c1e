// The user whose browsers and interception folder `gx-driver trust` acts for, and running work
// with that user's identity.
//
// Run by an administrator (sudo or pkexec), the tool acts for the user who asked: SUDO_UID or
// PKEXEC_UID, with the home folder of the password database. Run by anyone else, or by root for
// itself, it acts for the caller with HOME and XDG_DATA_HOME. GARDALIX_USER_HOME replaces the
// home folder found (the tests point it at a temporary folder).
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>

namespace gx {

inline constexpr char kUserHomeVariable[] = "GARDALIX_USER_HOME";

struct TrustUser {
    uid_t uid = 0;
    gid_t gid = 0;
    std::string name;
    std::string home;
    std::string dataBase;  // the user's data folder (XDG_DATA_HOME or HOME/.local/share)
    std::string folder;    // the interception folder in it: root authority and trust marker
    bool other = false;    // another user than the one running the tool
};

// The user to act for; nullopt with a French `problem` when none can be found. `dataHome`, when
// not empty, is the user's data folder in place of XDG_DATA_HOME: sudo and pkexec clear the
// caller's environment, so the console names its own folder this way.
std::optional<TrustUser> FindTrustUser(const std::string& dataHome, std::string* problem);

// Runs `work` with the user's identity: in a child process that has given up root's rights
// when the tool runs as root for another user, else right here. `work` may fill `reply`, which
// is handed back. The result is what `work` returned, or 1 when the child could not run.
int AsUser(const TrustUser& user, const std::function<int(std::string& reply)>& work,
           std::string* reply);

}  // namespace gx
