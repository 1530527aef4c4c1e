#include "console/GX_Services.h"

#include <mutex>

#include "store/GX_ConfigReg.h"

#ifdef GX_HAVE_LISTS
#include "lists/GX_MalwareURL.h"
#include "lists/GX_PornURL.h"
#endif

namespace gx {

namespace {

// Stand-ins for the parts of the program that this build does not hold yet: the console runs
// with them (lists always load, the engine always starts, settings and history live in memory
// for the run) so that it can be built and tried on its own.
struct InterimStore {
    std::mutex lock;
    bool pornFilter = false;
    std::vector<std::string> entries;
};

InterimStore& Interim() {
    static InterimStore store;
    return store;
}

}  // namespace

ConsoleServices ProgramServices() {
    ConsoleServices services;
#ifdef GX_HAVE_LISTS
    services.LoadPornURLList = [] { return gx::LoadPornURLList(); };
    services.LoadMalwareURLList = [] { return gx::LoadMalwareURLList(); };
#else
    services.LoadPornURLList = [] { return true; };
    services.LoadMalwareURLList = [] { return true; };
#endif

#ifdef GX_HAVE_ENGINE
    services.StartDriver = [] { return gx::StartDriver(); };
    services.StopDriver = [] { gx::StopDriver(); };
    services.ClearExemptionTables = [] { gx::ClearExemptionTables(); };
    services.LastBlockEvent = [] { return gx::LastBlockEvent(); };
    services.SetArmBlockTimerHook = [](ArmBlockTimerHook hook) { gx::SetArmBlockTimerHook(hook); };
#else
    services.StartDriver = [] { return true; };
    services.StopDriver = [] {};
    services.ClearExemptionTables = [] {};
    services.LastBlockEvent = [] { return BlockEvent{}; };
    services.SetArmBlockTimerHook = [](ArmBlockTimerHook) {};
#endif
    services.ProxyAddress = [] { return std::string(); };

    services.ReadPornFilter = [] {
        std::lock_guard guard(Interim().lock);
        return Interim().pornFilter;
    };
    services.WritePornFilter = [](bool on) {
        std::lock_guard guard(Interim().lock);
        Interim().pornFilter = on;
    };
    services.AddBlockLogEntry = [](const std::string& url, const std::string& reason) {
        std::lock_guard guard(Interim().lock);
        Interim().entries.push_back("|" + url + "|" + reason);
    };
    services.ReadLogEntries = [] {
        std::lock_guard guard(Interim().lock);
        return Interim().entries;
    };
    return services;
}

}  // namespace gx
