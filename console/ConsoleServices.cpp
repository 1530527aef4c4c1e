#include "console/ConsoleServices.h"

#include "console/ServiceLink.h"

#include <unistd.h>

#include <cstdlib>

#include "lists/GX_MalwareURL.h"
#include "lists/GX_PornURL.h"
#include "platform/interception/Interception.h"
#include "platform/program/GX_COM.h"
#include "platform/tls/DataFolder.h"
#include "platform/tls/RootAuthority.h"
#include "platform/tls/SystemTrustStore.h"
#include "platform/tls/TrustMarker.h"
#include "store/GX_ConfigReg.h"
#include "store/ParentalCode.h"

namespace gx {

namespace {

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

HttpsTrust ReadHttpsTrust() {
    HttpsTrust trust;
    const std::string folder = tls::CurrentUserInterceptionFolder();
    if (const auto root = tls::LoadRoot(folder, kRootCertSubject)) {
        trust.sitesProtected = tls::TrustMarkerNames(folder, root->fingerprint);
    }
    trust.inSystemStore = tls::SystemStoreHasOurFile();
    return trust;
}

// GARDALIX_PKEXEC when set (a path that cannot be run stands for a machine without pkexec),
// else pkexec where the system keeps it.
std::string PkexecPath() {
    if (const char* configured = std::getenv("GARDALIX_PKEXEC"); configured && configured[0]) {
        return configured;
    }
    for (const char* candidate : {"/usr/bin/pkexec", "/bin/pkexec"}) {
        if (::access(candidate, X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

}  // namespace

ConsoleServices ProgramServices() {
    ConsoleServices services;
    services.LoadPornURLList = [] { return gx::LoadPornURLList(); };
    services.LoadMalwareURLList = [] { return gx::LoadMalwareURLList(); };
    services.LoadDownloadedLists = [] { return TakeStoredLists(ProgramListsPlaces()); };
    services.ListsSummary = [] { return gx::ListsSummary(); };
    services.ListsRefreshPlaces = [] { return ProgramListsPlaces(); };

    services.StartDriver = [] { return gx::StartDriver(); };
    services.StopDriver = [] { gx::StopDriver(); };
    services.ClearExemptionTables = [] { gx::ClearExemptionTables(); };
    services.TakeBlockEvents = [] { return gx::TakeBlockEvents(); };
    services.SetArmBlockTimerHook = [](ArmBlockTimerHook hook) { gx::SetArmBlockTimerHook(hook); };
    services.SetBlockAlertHook = [](BlockAlertHook hook) { gx::SetBlockAlertHook(hook); };
    services.ProxyAddress = [] { return RunningProxyAddress(); };

    services.ReadPornFilter = [] { return gx::ReadPornFilter(); };
    services.WritePornFilter = [](bool on) { gx::WritePornFilter(on); };
    services.AddBlockLogEntry = [](const std::string& url, const std::string& reason,
                                   const std::string& program) {
        gx::WriteBlockEventLog(url, reason, program);
    };
    services.ReadLogEntries = [] { return gx::ReadLogValues(); };
    services.ReadParentalCode = [] { return gx::ReadParentalCodeHash(); };
    services.WriteParentalCode = [](const std::string& hash) { gx::WriteParentalCodeHash(hash); };
    services.RemoveParentalCode = [] { gx::RemoveParentalCode(); };

    services.ReadHttpsTrust = [] { return ReadHttpsTrust(); };
    services.DriverToolPath = [] { return ProgramDir() + "gx-driver"; };
    services.PkexecPath = [] { return PkexecPath(); };
    // Where the system service protects every account, this console is its window onto it.
    if (ServiceAnswers()) {
        return ServiceModeServices(std::move(services));
    }
    return services;
}

}  // namespace gx
