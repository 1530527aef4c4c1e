// What the system service keeps for each account, in its own state folder (which no account
// can write): the account's switches and parental code hash, and its history of blocks.
//
//   <state>/accounts/<uid>/settings   "protection=on", "child_protection=off",
//                                     "parental_code=<hash>" lines; replaced whole (a temporary
//                                     file renamed over it), so a crash leaves the old one or
//                                     the new one, never half of one
//   <state>/accounts/<uid>/history    one block a line, appended: "<date>|<address>|<reason>",
//                                     a tab, the program; Windows-1252 as the engine gives them
//
// An account that has no folder yet has the default settings (protection on, child protection
// off, no code) and an empty history. Main thread only.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/AccountPolicy.h"

namespace gx::service {

struct AccountSettings {
    AccountPolicy policy;
    std::string codeHash;  // empty: no parental code

    bool operator==(const AccountSettings&) const = default;
};

struct HistoryEntry {
    std::string name;     // "<date>|<address>|<reason>"
    std::string program;  // empty: unknown
};

// At most this many entries are read back, the newest; the file itself keeps everything.
inline constexpr size_t kHistoryReadMax = 10000;

class AccountStore {
  public:
    explicit AccountStore(std::filesystem::path stateFolder);

    AccountSettings Read(uint32_t account) const;
    // False with a French reason when the settings could not be written (the old ones stay).
    bool Write(uint32_t account, const AccountSettings& settings, std::string* error);
    bool AppendHistory(uint32_t account, const HistoryEntry& entry);
    std::vector<HistoryEntry> History(uint32_t account) const;
    // Every account that has settings of its own, with its policy.
    AccountPolicies Policies() const;

  private:
    std::filesystem::path Folder(uint32_t account) const;
    std::filesystem::path accounts_;
};

}  // namespace gx::service
