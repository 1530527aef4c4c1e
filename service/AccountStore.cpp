#include "service/AccountStore.h"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <fstream>
#include <sstream>

namespace gx::service {
namespace {

namespace fs = std::filesystem;

bool WriteWhole(const fs::path& path, const std::string& text) {
    const fs::path temporary = path.string() + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
                   ::fsync(fd) == 0;
    written = ::close(fd) == 0 && written;
    std::error_code ignored;
    if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        fs::remove(temporary, ignored);
        return false;
    }
    return true;
}

// A program's path may hold any byte but the line's own separators.
std::string OneLine(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\t' || c == '\r') {
            c = '?';
        }
    }
    return text;
}

}  // namespace

AccountStore::AccountStore(fs::path stateFolder) : accounts_(std::move(stateFolder) / "accounts") {}

fs::path AccountStore::Folder(uint32_t account) const {
    return accounts_ / std::to_string(account);
}

AccountSettings AccountStore::Read(uint32_t account) const {
    AccountSettings settings;
    std::ifstream in(Folder(account) / "settings");
    std::string line;
    while (std::getline(in, line)) {
        const size_t equals = line.find('=');
        const std::string key = line.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : line.substr(equals + 1);
        if (key == "protection") {
            settings.policy.protection = value != "off";  // anything unclear protects
        } else if (key == "child_protection") {
            settings.policy.childProtection = value == "on";
        } else if (key == "parental_code") {
            settings.codeHash = value;
        }
    }
    return settings;
}

bool AccountStore::Write(uint32_t account, const AccountSettings& settings, std::string* error) {
    std::error_code failed;
    fs::create_directories(Folder(account), failed);
    std::ostringstream text;
    text << "protection=" << (settings.policy.protection ? "on" : "off") << "\n"
         << "child_protection=" << (settings.policy.childProtection ? "on" : "off") << "\n";
    if (!settings.codeHash.empty()) {
        text << "parental_code=" << settings.codeHash << "\n";
    }
    if (failed || !WriteWhole(Folder(account) / "settings", text.str())) {
        if (error) {
            *error = "les r\xC3\xA9glages du compte n'ont pas pu \xC3\xAAtre enregistr\xC3\xA9s";
        }
        return false;
    }
    return true;
}

bool AccountStore::AppendHistory(uint32_t account, const HistoryEntry& entry) {
    std::error_code failed;
    fs::create_directories(Folder(account), failed);
    const std::string line = OneLine(entry.name) + "\t" + OneLine(entry.program) + "\n";
    const fs::path path = Folder(account) / "history";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    // One write a line with O_APPEND: a crash keeps whole lines, and a line written is in the
    // system's hands even when the service is killed the next moment.
    const bool written = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    return ::close(fd) == 0 && written;
}

std::vector<HistoryEntry> AccountStore::History(uint32_t account) const {
    std::vector<HistoryEntry> entries;
    std::ifstream in(Folder(account) / "history");
    std::string line;
    while (std::getline(in, line)) {
        const size_t tab = line.find('\t');
        entries.push_back(
            {line.substr(0, tab), tab == std::string::npos ? "" : line.substr(tab + 1)});
    }
    if (entries.size() > kHistoryReadMax) {
        entries.erase(entries.begin(), entries.end() - kHistoryReadMax);
    }
    return entries;
}

AccountPolicies AccountStore::Policies() const {
    AccountPolicies policies;
    std::error_code failed;
    for (const auto& entry : fs::directory_iterator(accounts_, failed)) {
        const std::string name = entry.path().filename().string();
        uint32_t account = 0;
        const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), account);
        if (error == std::errc() && end == name.data() + name.size()) {
            policies[account] = Read(account).policy;
        }
    }
    return policies;
}

}  // namespace gx::service
