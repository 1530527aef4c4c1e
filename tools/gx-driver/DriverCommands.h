// The transparent-mode commands of gx-driver (install, uninstall, status). Each prints its
// French messages and returns the exit status of the tool.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace gx {

enum DriverExit : int {
    kDriverOk = 0,       // done; for status: fully installed
    kDriverFailed = 1,   // failed; for status: not installed, or only in part
    kDriverUsage = 2,    // bad command line
    kDriverNotRoot = 3,  // not run as root
};

struct DriverOptions {
    std::vector<std::uint16_t> ports;         // redirected ports; empty = all
    std::optional<std::uint16_t> listenPort;  // transparent listener port; default if none
    std::string program;                      // the program; empty = the default
    bool allAccounts = false;                 // every account's connections (the service)
};

// `gardalix` in the folder of the running gx-driver.
std::string DefaultProgramPath();

int InstallDriver(const DriverOptions& options);
int UninstallDriver(const DriverOptions& options);
int ShowDriverStatus(const DriverOptions& options);

}  // namespace gx
