#include "update/UpdateSettings.h"

#include <sys/statvfs.h>
#include <sys/utsname.h>

#include <cctype>

#include "platform/registry/Registry.h"
#include "store/GX_ConfigReg.h"

namespace gx {

namespace {

std::string ReadText(const char* name) {
    Registry registry;
    if (!registry.OpenKey(kGardalixKey, false)) {
        return {};
    }
    return registry.ReadString(name);
}

std::string ServerBase(const char* name, const char* fallback) {
    std::string base = ReadText(name);
    if (base.empty()) {
        base = fallback;
    }
    while (!base.empty() && base.back() == '/') {
        base.pop_back();
    }
    return base;
}

// The leading "digits.digits" of a release text, or empty.
std::string MajorMinor(const std::string& release) {
    std::size_t end = 0;
    while (end < release.size() && std::isdigit(static_cast<unsigned char>(release[end]))) {
        ++end;
    }
    if (end == 0 || end == release.size() || release[end] != '.') {
        return {};
    }
    std::size_t minorEnd = end + 1;
    while (minorEnd < release.size() &&
           std::isdigit(static_cast<unsigned char>(release[minorEnd]))) {
        ++minorEnd;
    }
    return minorEnd > end + 1 ? release.substr(0, minorEnd) : std::string();
}

}  // namespace

std::string UpdateServerBase() {
    return ServerBase(kUpdateServerValue, kDefaultUpdateServer);
}

std::string UpdateServerFallbackBase() {
    return ServerBase(kUpdateServerFallbackValue, kDefaultUpdateServerFallback);
}

std::string SystemVersionText() {
    struct utsname names;
    return ::uname(&names) == 0 ? MajorMinor(names.release) : std::string();
}

std::string SystemVolumeSerial() {
    struct statvfs volume;
    if (::statvfs("/", &volume) != 0) {
        return {};
    }
    return std::to_string(static_cast<std::uint32_t>(volume.f_fsid));
}

}  // namespace gx
