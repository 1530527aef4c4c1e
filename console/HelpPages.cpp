#include "console/HelpPages.h"

#include <sys/stat.h>

#include "host/FmxUtils.h"
#include "platform/program/GX_COM.h"

namespace gx {

std::string DefaultHelpFolder() {
    return ProgramDir() + "help" + kPathSeparator;
}

std::string HelpPagePath(const std::string& folder, int context) {
    return folder + "gardalix-" + std::to_string(context) + ".html";
}

void OpenHelpPage(const std::string& folder, int context) {
    const std::string page = HelpPagePath(folder, context);
    struct stat info {};
    if (stat(page.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return;
    }
    ShellOpen(page);
}

}  // namespace gx
