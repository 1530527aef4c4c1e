#include "platform/driver/DriverConfig.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace gx {
namespace {

// A configuration file is a handful of short lines; anything much larger is not ours.
constexpr std::uintmax_t kMaxConfigSize = 64 * 1024;

std::string_view Trim(std::string_view text) {
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && isSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isSpace(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// A whole unsigned number in base 10, or base 16 with a 0x prefix; nothing otherwise.
std::optional<std::uint64_t> ParseNumber(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::uint16_t> ParsePort(std::string_view text) {
    const auto value = ParseNumber(Trim(text));
    if (!value || *value == 0 || *value > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(*value);
}

std::string ErrnoText() {
    return std::strerror(errno);
}

void SetError(std::string* error, const std::string& text) {
    if (error) {
        *error = text;
    }
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Makes the rename itself durable: without this a power cut can bring the old file back.
void SyncFolder(const std::filesystem::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

std::string DriverConfigPath() {
    const char* overridden = std::getenv(kDriverConfigEnvironment);
    if (overridden && *overridden) {
        return overridden;
    }
    return kDriverConfigPath;
}

std::optional<std::vector<std::uint16_t>> ParsePortList(std::string_view text) {
    std::set<std::uint16_t> ports;
    while (true) {
        const size_t comma = text.find(',');
        const auto port = ParsePort(text.substr(0, comma));
        if (!port) {
            return std::nullopt;
        }
        ports.insert(*port);
        if (comma == std::string_view::npos) {
            break;
        }
        text.remove_prefix(comma + 1);
    }
    return std::vector<std::uint16_t>(ports.begin(), ports.end());
}

std::string FormatDriverConfig(const DriverConfig& config) {
    std::ostringstream out;
    out << "# Gardalix : mode transparent de l'interception, écrit par gx-driver.\n";
    out << kTransparentPortKey << '=' << config.transparentPort << '\n';
    char mark[16];
    std::snprintf(mark, sizeof mark, "0x%08x", static_cast<unsigned>(config.firewallMark));
    out << kFirewallMarkKey << '=' << mark << '\n';
    out << kPortsKey << '=';
    if (config.ports.empty()) {
        out << "all";
    }
    for (size_t i = 0; i < config.ports.size(); ++i) {
        out << (i ? "," : "") << config.ports[i];
    }
    out << '\n';
    if (!config.program.empty()) {
        out << kProgramKey << '=' << config.program << '\n';
    }
    out << kAccountsKey << '=' << (config.allAccounts ? "all" : "own") << '\n';
    return out.str();
}

std::optional<DriverConfig> ParseDriverConfig(std::string_view text) {
    std::map<std::string_view, std::string_view> values;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = Trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            return std::nullopt;
        }
        if (!values.emplace(Trim(line.substr(0, equals)), Trim(line.substr(equals + 1))).second) {
            return std::nullopt;
        }
    }

    DriverConfig config;
    const auto port = values.find(kTransparentPortKey);
    const auto mark = values.find(kFirewallMarkKey);
    if (port == values.end() || mark == values.end()) {
        return std::nullopt;
    }
    const auto portValue = ParsePort(port->second);
    const auto markValue = ParseNumber(mark->second);
    if (!portValue || !markValue || *markValue == 0 || *markValue > UINT32_MAX) {
        return std::nullopt;
    }
    config.transparentPort = *portValue;
    config.firewallMark = static_cast<std::uint32_t>(*markValue);

    if (const auto ports = values.find(kPortsKey);
        ports != values.end() && ports->second != "all") {
        auto list = ParsePortList(ports->second);
        if (!list) {
            return std::nullopt;
        }
        config.ports = std::move(*list);
    }
    if (const auto program = values.find(kProgramKey); program != values.end()) {
        config.program = std::string(program->second);
    }
    if (const auto accounts = values.find(kAccountsKey); accounts != values.end()) {
        if (accounts->second != "own" && accounts->second != "all") {
            return std::nullopt;
        }
        config.allAccounts = accounts->second == "all";
    }
    return config;
}

std::optional<DriverConfig> ReadDriverConfig(const std::string& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || size > kMaxConfigSize) {
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) {
        return std::nullopt;
    }
    return ParseDriverConfig(content.str());
}

bool WriteDriverConfig(const DriverConfig& config, const std::string& path, std::string* error) {
    const std::filesystem::path target(path);
    const std::filesystem::path folder =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        SetError(error, "impossible de créer le dossier " + folder.string() + " : " + ec.message());
        return false;
    }

    std::string temporary = (folder / (target.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        SetError(error,
                 "impossible de créer un fichier dans " + folder.string() + " : " + ErrnoText());
        return false;
    }
    // Every user's program reads the file; only root writes it.
    const bool written =
        ::fchmod(fd, 0644) == 0 && WriteAll(fd, FormatDriverConfig(config)) && ::fsync(fd) == 0;
    std::string writeError = written ? "" : ErrnoText();
    if (::close(fd) != 0 && written) {
        writeError = ErrnoText();
    }
    if (!writeError.empty()) {
        ::unlink(temporary.c_str());
        SetError(error, "impossible d'écrire " + temporary + " : " + writeError);
        return false;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string renameError = ErrnoText();
        ::unlink(temporary.c_str());
        SetError(error, "impossible de remplacer " + path + " : " + renameError);
        return false;
    }
    SyncFolder(folder);
    return true;
}

bool RemoveDriverConfig(const std::string& path, std::string* error) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        SetError(error, "impossible de supprimer " + path + " : " + ErrnoText());
        return false;
    }
    if (const auto folder = std::filesystem::path(path).parent_path(); !folder.empty()) {
        SyncFolder(folder);
    }
    return true;
}

}  // namespace gx
