#include "host/GX_detect_win10.h"

namespace gx {

namespace {

struct WorkstationProbe {
    bool isWin10 = false;
    std::string version;
};

const WorkstationProbe& Probe() {
    static const WorkstationProbe probe = [] {
        WorkstationProbe result;
        const std::string version = GetWorkstationVersion();
        result.isWin10 = IsWin10VersionText(version);
        if (result.isWin10) {
            result.version = version;
        }
        return result;
    }();
    return probe;
}

}  // namespace

std::string GetWorkstationVersion() {
    return {};
}

bool IsWin10VersionText(std::string_view version) {
    return version.find("10.") != std::string_view::npos;
}

bool IsWin10() {
    return Probe().isWin10;
}

const std::string& Win10Version() {
    return Probe().version;
}

}  // namespace gx
