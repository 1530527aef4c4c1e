#include "platform/program/GX_COM.h"

#include <climits>
#include <cstdlib>
#include <memory>

namespace gx {

std::string ProgramDirOf(std::string_view executablePath) {
    const auto last = executablePath.rfind(kPathSeparator);
    std::string dir(last == std::string_view::npos ? std::string_view{}
                                                   : executablePath.substr(0, last + 1));
    if (dir.empty() || dir.back() != kPathSeparator) {
        dir += kPathSeparator;
    }
    return dir;
}

const std::string& ProgramDir() {
    static const std::string dir = [] {
        std::unique_ptr<char, decltype(&std::free)> resolved(realpath("/proc/self/exe", nullptr),
                                                             &std::free);
        return ProgramDirOf(resolved ? std::string_view(resolved.get()) : std::string_view{});
    }();
    return dir;
}

}  // namespace gx
