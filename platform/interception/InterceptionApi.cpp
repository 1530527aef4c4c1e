// The C entry points of the interception library: starting and stopping, rules, processes,
// filters and posted objects. The object, header and stream functions are in ProtocolObjects.cpp.
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "api/interception/NetFilter2API.h"
#include "api/interception/ProtocolFiltersAPI.h"
#include "platform/driver/DriverConfig.h"
#include "platform/interception/ClientSession.h"
#include "platform/interception/HttpHead.h"
#include "platform/interception/Interception.h"
#include "platform/interception/ProcessFinder.h"
#include "platform/interception/ProgramCallbacks.h"
#include "platform/interception/ProtocolObjects.h"
#include "platform/interception/Proxy.h"
#include "platform/interception/Rules.h"
#include "platform/interception/SocketMark.h"
#include "platform/program/UserDataFolder.h"
#include "platform/tls/DataFolder.h"

// The connection-level handler that the protocol layer hands to nf_init. There is one protocol
// layer, so one handler; it only proves that nf_init is started through pfc_getNFEventHandler.
struct NF_EventHandler {
    int unused;
};

namespace gx::interception {
namespace {

std::mutex gStateMutex;  // start and stop; never taken by the per-connection calls
bool gProtocolLayerUp = false;
PFEvents gEvents{};
std::string gDataFolder;
std::string gRootCertSubject;
NF_EventHandler gHandler{0};
RuleList gRules;
std::atomic<std::shared_ptr<Proxy>> gProxy;

std::mutex gLimitsMutex;
Limits gLimits;

std::shared_ptr<ClientSession> FindSession(ENDPOINT_ID id) {
    std::shared_ptr<Proxy> proxy = gProxy.load();
    return proxy ? proxy->Find(id) : nullptr;
}

bool ParseListenAddress(const char* text, asio::ip::tcp::endpoint& endpoint) {
    std::string host;
    uint16_t port = 0;
    std::string_view value(text);
    size_t colon = value.rfind(':');
    if (colon == std::string_view::npos) {
        return false;
    }
    std::string_view hostPart = value.substr(0, colon);
    if (hostPart.size() >= 2 && hostPart.front() == '[' && hostPart.back() == ']') {
        hostPart = hostPart.substr(1, hostPart.size() - 2);
    }
    std::string_view portPart = value.substr(colon + 1);
    unsigned number = 0;
    if (portPart.empty() || portPart.size() > 5) {
        return false;
    }
    for (char c : portPart) {
        if (c < '0' || c > '9') {
            return false;
        }
        number = number * 10 + static_cast<unsigned>(c - '0');
    }
    if (number > 65535) {
        return false;
    }
    port = static_cast<uint16_t>(number);
    asio::error_code error;
    auto address = asio::ip::make_address(std::string(hostPart), error);
    if (error) {
        return false;
    }
    endpoint = asio::ip::tcp::endpoint(address, port);
    return true;
}

// The program passes the Windows folder "c:\netfilter2". Ours is the folder of that name in
// the user's data folder (see DataFolder.h).
std::string MapDataFolder(const wchar_t* windowsFolder) {
    std::string last = gx::tls::kDataFolderName;
    if (windowsFolder) {
        std::wstring wide(windowsFolder);
        size_t slash = wide.find_last_of(L"\\/");
        std::wstring name = slash == std::wstring::npos ? wide : wide.substr(slash + 1);
        std::string narrow;
        for (wchar_t c : name) {
            bool plain = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') ||
                         (c >= L'0' && c <= L'9') || c == L'_' || c == L'-' || c == L'.';
            narrow += plain ? static_cast<char>(c) : '_';
        }
        if (!narrow.empty() && narrow != "." && narrow != "..") {
            last = narrow;
        }
    }
    const std::string base = gx::CurrentUserDataBase();
    gx::tls::MakeInterceptionFolder(base, last);
    return gx::tls::InterceptionFolder(base, last);
}

void SayOnce(const std::string& text) {
    static std::once_flag said;
    std::call_once(said, [&] { std::fprintf(stderr, "gardalix: %s\n", text.c_str()); });
}

// The installed driver, when this process can mark its own connections so that the driver
// does not send them back; otherwise the explicit proxy alone, and the reason said once.
std::optional<gx::DriverConfig> UsableDriver() {
    std::optional<gx::DriverConfig> driver = gx::ReadDriverConfig(gx::DriverConfigPath());
    if (!driver) {
        return std::nullopt;  // not installed (or a file the tool would not write)
    }
    int probe = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    bool marked = probe >= 0 && SetSocketMark(probe, driver->firewallMark);
    int reason = errno;
    if (probe >= 0) {
        ::close(probe);
    }
    if (!marked) {
        SayOnce(std::string("mode transparent indisponible : le programme n'a pas la "
                            "capacit\xC3\xA9 cap_net_admin (") +
                std::strerror(reason) + "); lancer \xC2\xAB gx-driver install \xC2\xBB en root.");
        return std::nullopt;
    }
    return driver;
}

// What HTTPS inspection needs, when the program named a root subject: the root is loaded, or
// made on first start. Inspection itself waits until the root is trusted.
std::shared_ptr<TlsInterceptor> HttpsInspection() {
    if (gRootCertSubject.empty()) {
        return nullptr;
    }
    std::string notice;
    auto tls = TlsInterceptor::Create(gDataFolder, gRootCertSubject, &notice);
    static std::atomic<bool> told{false};  // a program that starts and stops often says it once
    if (!notice.empty() && !told.exchange(true)) {
        std::fprintf(stderr, "gardalix: %s\n", notice.c_str());
    }
    if (tls) {
        tls->OfferHttp2(GetLimits().http2);
    }
    return tls;
}

void StopProxyLocked() {
    std::shared_ptr<Proxy> proxy = gProxy.exchange(nullptr);
    if (proxy) {
        proxy->Stop();
    }
    gRules.Clear();
}

}  // namespace

void SetLimits(const Limits& limits) {
    std::lock_guard lock(gLimitsMutex);
    gLimits = limits;
}

Limits GetLimits() {
    std::lock_guard lock(gLimitsMutex);
    return gLimits;
}

uint16_t ExplicitProxyPort() {
    std::shared_ptr<Proxy> proxy = gProxy.load();
    return proxy ? proxy->ExplicitPort() : 0;
}

bool TransparentModeOn() {
    std::shared_ptr<Proxy> proxy = gProxy.load();
    return proxy && proxy->TransparentOn();
}

LeafCacheFigures LeafCacheStats() {
    std::shared_ptr<Proxy> proxy = gProxy.load();
    if (!proxy || !proxy->Tls()) {
        return {};
    }
    return {proxy->Tls()->Leaves().Hits(), proxy->Tls()->Leaves().Misses()};
}

std::string DataFolder() {
    std::lock_guard lock(gStateMutex);
    return gDataFolder;
}

}  // namespace gx::interception

using namespace gx::interception;

extern "C" {

NF_STATUS nf_init(const char* driverName, NF_EventHandler* handler) {
    std::lock_guard lock(gStateMutex);
    if (!driverName || !*driverName || handler != &gHandler || !gProtocolLayerUp) {
        return NF_STATUS_FAIL;
    }
    if (gProxy.load()) {
        return NF_STATUS_SUCCESS;  // already running: a second start changes nothing
    }
    asio::ip::tcp::endpoint endpoint(asio::ip::address_v4::loopback(), 3129);
    if (const char* configured = std::getenv(kProxyAddressVariable); configured && *configured) {
        if (!ParseListenAddress(configured, endpoint)) {
            return NF_STATUS_FAIL;
        }
    }
    std::optional<gx::DriverConfig> driver = UsableDriver();
    try {
        auto proxy = std::make_shared<Proxy>(std::make_shared<ProgramCallbacks>(gEvents), gRules,
                                             GetLimits());
        proxy->SetTls(HttpsInspection());
        try {
            if (!proxy->Start(endpoint, driver)) {
                return NF_STATUS_FAIL;
            }
        } catch (const std::exception&) {
            proxy->Stop();  // no thread could be started: undo what was
            return NF_STATUS_FAIL;
        }
        gProxy.store(proxy);
    } catch (const std::exception&) {
        return NF_STATUS_FAIL;
    }
    return NF_STATUS_SUCCESS;
}

void nf_free(void) {
    std::lock_guard lock(gStateMutex);
    std::shared_ptr<Proxy> proxy = gProxy.load();
    if (proxy && proxy->OnWorkerThread()) {
        return;  // a worker cannot wait for itself; stopping belongs to the main thread
    }
    StopProxyLocked();
}

// Connections are closed by the proxy's own time-outs; the program's value is not used.
void nf_setTCPTimeout(uint32_t) {}

NF_STATUS nf_addRule(PNF_RULE rule, int toHead) {
    if (!rule) {
        return NF_STATUS_FAIL;
    }
    gRules.Add(*rule, toHead != 0);
    return NF_STATUS_SUCCESS;
}

int nf_getProcessNameA(uint32_t processId, char* buf, uint32_t len) {
    return ProcessName(processId, buf, len) ? 1 : 0;
}

// Raw bytes towards the server: only a relayed (tunnel) connection carries them.
NF_STATUS nf_tcpPostSend(ENDPOINT_ID id, const char* buf, int len) {
    auto session = FindSession(id);
    if (!session) {
        return NF_STATUS_INVALID_ENDPOINT_ID;
    }
    if (!buf || len < 0) {
        return NF_STATUS_FAIL;
    }
    // Bytes for the server travel only through an open tunnel; elsewhere they would be taken
    // for part of a request, so they are refused rather than dropped in silence.
    return session->PostRawToOrigin(std::string(buf, static_cast<size_t>(len))) ? NF_STATUS_SUCCESS
                                                                                : NF_STATUS_FAIL;
}

// Raw bytes towards the client, in order after the responses owed so far.
NF_STATUS nf_tcpPostReceive(ENDPOINT_ID id, const char* buf, int len) {
    auto session = FindSession(id);
    if (!session) {
        return NF_STATUS_INVALID_ENDPOINT_ID;
    }
    if (!buf || len < 0) {
        return NF_STATUS_FAIL;
    }
    session->PostRawToClient(std::string(buf, static_cast<size_t>(len)));
    return NF_STATUS_SUCCESS;
}

// Suspended: the client's further bytes are not read until the connection is resumed.
NF_STATUS nf_getConnectionAccount(ENDPOINT_ID id, uint32_t* account) {
    auto session = FindSession(id);
    if (!session) {
        return NF_STATUS_INVALID_ENDPOINT_ID;
    }
    const uint32_t known = session->Account();
    if (known == kUnknownAccount) {
        return NF_STATUS_FAIL;
    }
    *account = known;
    return NF_STATUS_SUCCESS;
}

NF_STATUS nf_tcpSetConnectionState(ENDPOINT_ID id, int suspended) {
    auto session = FindSession(id);
    if (!session) {
        return NF_STATUS_INVALID_ENDPOINT_ID;
    }
    session->SetSuspended(suspended != 0);
    return NF_STATUS_SUCCESS;
}

// UDP is not intercepted on Linux: no UDP connection ever has an identifier.
NF_STATUS nf_udpPostSend(ENDPOINT_ID, const unsigned char*, const char*, int, PNF_UDP_OPTIONS) {
    return NF_STATUS_INVALID_ENDPOINT_ID;
}

NF_STATUS nf_udpPostReceive(ENDPOINT_ID, const unsigned char*, const char*, int, PNF_UDP_OPTIONS) {
    return NF_STATUS_INVALID_ENDPOINT_ID;
}

NF_STATUS nf_udpSetConnectionState(ENDPOINT_ID, int) {
    return NF_STATUS_INVALID_ENDPOINT_ID;
}

int pfc_init(PFEvents* events, const wchar_t* dataFolder) {
    if (!events) {
        return 0;
    }
    std::lock_guard lock(gStateMutex);
    gEvents = *events;
    gDataFolder = MapDataFolder(dataFolder);
    gProtocolLayerUp = true;
    return 1;
}

void pfc_free(void) {
    std::lock_guard lock(gStateMutex);
    std::shared_ptr<Proxy> proxy = gProxy.load();
    if (proxy && proxy->OnWorkerThread()) {
        return;
    }
    // Without the protocol layer there is nobody to hand connections to.
    StopProxyLocked();
    gProtocolLayerUp = false;
    gEvents = PFEvents{};
    gRootCertSubject.clear();  // each start names it again
}

// The subject of the root that signs the leaves of inspected HTTPS sites; read at nf_init.
int pfc_setRootSSLCertSubject(const char* subject) {
    std::lock_guard lock(gStateMutex);
    gRootCertSubject = subject ? subject : "";
    return 1;
}

NF_EventHandler* pfc_getNFEventHandler(void) {
    return &gHandler;
}

int pfc_addFilter(ENDPOINT_ID id, PF_FilterType type, uint32_t flags, int32_t, PF_FilterType) {
    auto session = FindSession(id);
    if (!session) {
        return 0;
    }
    session->AttachFilter(type, flags);
    return 1;
}

int pfc_postObject(ENDPOINT_ID id, PFObject* object) {
    if (!object || (object->type != OT_HTTP_REQUEST && object->type != OT_HTTP_RESPONSE)) {
        return 0;
    }
    auto session = FindSession(id);
    if (!session) {
        return 0;
    }
    session->PostFromProgram(object->type, SerializeHttpObject(*object));
    return 1;
}

}  // extern "C"
