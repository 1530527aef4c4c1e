#include "platform/interception/DriverConfig.h"

#include <sys/capability.h>
#include <sys/socket.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace gx::interception {
namespace {

bool ParseNumber(const std::string& text, uint64_t& value, int base) {
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    if (base == 16 && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        begin += 2;
    }
    auto result = std::from_chars(begin, end, value, base);
    return result.ec == std::errc() && result.ptr == end && begin != end;
}

// Raises or lowers CAP_NET_ADMIN in the calling thread's effective set (capabilities are per
// thread on Linux, so other threads never run with it).
bool SetNetAdminEffective(bool raise) {
    cap_t caps = cap_get_proc();
    if (!caps) {
        return false;
    }
    cap_value_t netAdmin[] = {CAP_NET_ADMIN};
    bool ok = cap_set_flag(caps, CAP_EFFECTIVE, 1, netAdmin, raise ? CAP_SET : CAP_CLEAR) == 0 &&
              cap_set_proc(caps) == 0;
    cap_free(caps);
    return ok;
}

}  // namespace

std::string DriverConfigPath() {
    const char* configured = std::getenv(kDriverConfigVariable);
    return configured && *configured ? configured : kDriverConfigPath;
}

std::optional<DriverConfig> ReadDriverConfig(const std::string& path, std::string* error) {
    std::ifstream file(path);
    if (!file) {
        return std::nullopt;
    }
    DriverConfig config;
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        size_t equals = line.find('=');
        std::string key = line.substr(0, equals);
        std::string value = equals == std::string::npos ? "" : line.substr(equals + 1);
        uint64_t number = 0;
        if (key == "port" && ParseNumber(value, number, 10) && number > 0 && number < 65536) {
            config.port = static_cast<uint16_t>(number);
        } else if (key == "mark" && ParseNumber(value, number, 16) && number > 0 &&
                   number <= 0xFFFFFFFF) {
            config.mark = static_cast<uint32_t>(number);
        } else if (key == "program") {
            config.program = value;
        } else {
            if (error) {
                *error = path + ": ligne illisible : " + line;
            }
            return std::nullopt;
        }
    }
    return config;
}

bool WriteDriverConfig(const std::string& path, const DriverConfig& config) {
    std::ostringstream text;
    text << "# Gardalix interception driver, written by gx-driver\n"
         << "port=" << config.port << "\n"
         << "mark=0x" << std::hex << config.mark << std::dec << "\n";
    if (!config.program.empty()) {
        text << "program=" << config.program << "\n";
    }
    std::string temporary = path + ".new";
    {
        std::ofstream file(temporary, std::ios::trunc);
        if (!(file << text.str()) || !file.flush()) {
            return false;
        }
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

bool SetSocketMark(int fd, uint32_t mark) {
    if (::setsockopt(fd, SOL_SOCKET, SO_MARK, &mark, sizeof mark) == 0) {
        return true;  // the capability is in effect already (root, for one)
    }
    if (errno != EPERM || !SetNetAdminEffective(true)) {
        return false;
    }
    bool ok = ::setsockopt(fd, SOL_SOCKET, SO_MARK, &mark, sizeof mark) == 0;
    int savedErrno = errno;
    SetNetAdminEffective(false);
    errno = savedErrno;
    return ok;
}

}  // namespace gx::interception
