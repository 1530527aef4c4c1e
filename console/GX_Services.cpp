#include "console/GX_Services.h"

#include <cstdlib>

#include "store/GX_ConfigReg.h"

#ifdef GX_HAVE_LISTS
#include "lists/GX_MalwareURL.h"
#include "lists/GX_PornURL.h"
#endif
#ifdef GX_HAVE_ENGINE
#include "platform/interception/Interception.h"
#endif

namespace gx {

namespace {

#ifdef GX_HAVE_ENGINE
// "host:port" of the running proxy: the host configured in GARDALIX_PROXY (else the loopback
// address) and the port it really listens on. Empty while it does not run.
std::string RunningProxyAddress() {
    const uint16_t port = interception::ExplicitProxyPort();
    if (port == 0) {
        return {};
    }
    std::string host = "127.0.0.1";
    if (const char* configured = std::getenv(interception::kProxyAddressVariable);
        configured != nullptr && configured[0] != '\0') {
        const std::string text = configured;
        const size_t colon = text.rfind(':');
        if (colon != std::string::npos && colon > 0) {
            host = text.substr(0, colon);
        }
    }
    return host + ":" + std::to_string(port);
}
#endif

}  // namespace

ConsoleServices ProgramServices() {
    ConsoleServices services;
#ifdef GX_HAVE_LISTS
    services.LoadPornURLList = [] { return gx::LoadPornURLList(); };
    services.LoadMalwareURLList = [] { return gx::LoadMalwareURLList(); };
#else
    // This build holds no block lists yet: nothing to load.
    services.LoadPornURLList = [] { return true; };
    services.LoadMalwareURLList = [] { return true; };
#endif

#ifdef GX_HAVE_ENGINE
    services.StartDriver = [] { return gx::StartDriver(); };
    services.StopDriver = [] { gx::StopDriver(); };
    services.ClearExemptionTables = [] { gx::ClearExemptionTables(); };
    services.LastBlockEvent = [] { return gx::LastBlockEvent(); };
    services.SetArmBlockTimerHook = [](ArmBlockTimerHook hook) { gx::SetArmBlockTimerHook(hook); };
    services.ProxyAddress = [] { return RunningProxyAddress(); };
#else
    // This build holds no engine yet: the console runs without one and reports no start.
    services.StartDriver = [] { return false; };
    services.StopDriver = [] {};
    services.ClearExemptionTables = [] {};
    services.LastBlockEvent = [] { return BlockEvent{}; };
    services.SetArmBlockTimerHook = [](ArmBlockTimerHook) {};
    services.ProxyAddress = [] { return std::string(); };
#endif

    services.ReadPornFilter = [] { return gx::ReadPornFilter(); };
    services.WritePornFilter = [](bool on) { gx::WritePornFilter(on); };
    services.AddBlockLogEntry = [](const std::string& url, const std::string& reason) {
        gx::WriteBlockEventLog(url, reason);
    };
    services.ReadLogEntries = [] {
        std::vector<std::string> entries;
        gx::ReadLogEntries(entries);
        return entries;
    };
    return services;
}

}  // namespace gx
