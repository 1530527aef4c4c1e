#include "engine/Admission.h"

#include <array>
#include <cstring>
#include <string>

#include "api/interception/ProtocolFiltersAPI.h"
#include "engine/ConnectionPrograms.h"
#include "engine/ExemptTable.h"
#include "engine/GX_Main.h"
#include "platform/program/GX_COM.h"
#include "platform/text/AsciiText.h"

namespace gx {
namespace {

// The program itself, its sibling products and one outside file-transfer client, lower case,
// tried in this order. On Linux the name matched is the executable's full path, so an entry also
// matches inside a folder name.
constexpr std::array<std::string_view, 6> kExemptProgramNames = {
    "filezilla", "gardalix", "tervane", "keldoran", "kd_scanfile", "kd_scanint"};

const std::array<std::string, 6>& ExemptProcessNames() {
    static const std::array<std::string, 6> names = [] {
        std::array<std::string, 6> withSuffix;
        for (size_t i = 0; i < kExemptProgramNames.size(); ++i) {
            withSuffix[i] = std::string(kExemptProgramNames[i]) + std::string(kExecutableSuffix);
        }
        return withSuffix;
    }();
    return names;
}

constexpr uint32_t kProcessNameBufferSize = 257;

ExemptTable<ENDPOINT_ID, kExemptConnectionsMax> ExemptConnections;
ExemptTable<uint32_t, kExemptProcessesMax> ExemptProcesses;

void AttachFilters(ENDPOINT_ID id) {
    pfc_addFilter(id, FT_PROXY, FF_DEFAULT, 3, FT_NONE);
    pfc_addFilter(id, FT_SSL, FF_SSL_VERIFY, 3, FT_NONE);
    pfc_addFilter(id, FT_HTTP, FF_READ_ONLY_IN, 3, FT_NONE);
}

}  // namespace

bool IsExemptProcessName(std::string_view name) {
    for (const std::string& exempt : ExemptProcessNames()) {
        if (name.find(exempt) != std::string_view::npos)
            return true;
    }
    return false;
}

bool AddExemptConnection(ENDPOINT_ID id) {
    return ExemptConnections.Add(id);
}

bool AddExemptProcess(uint32_t pid) {
    if (!ExemptProcesses.Add(pid))
        return false;
    // At the head of the list, before the base rules: all further traffic of the process passes.
    NF_RULE rule;
    std::memset(&rule, 0, sizeof rule);
    rule.processId = pid;
    rule.filteringFlag = NF_ALLOW;
    nf_addRule(&rule, 1);
    return true;
}

bool IsExemptConnection(ENDPOINT_ID id) {
    return ExemptConnections.Contains(id);
}
bool IsExemptProcess(uint32_t pid) {
    return ExemptProcesses.Contains(pid);
}
size_t ExemptConnectionCount() {
    return ExemptConnections.Count();
}
size_t ExemptProcessCount() {
    return ExemptProcesses.Count();
}

void ClearExemptionTables() {
    ExemptConnections.Clear();
    ExemptProcesses.Clear();
}

void tcpConnected(ENDPOINT_ID id, PNF_TCP_CONN_INFO info) {
    if (info->direction != NF_D_OUT)
        return;
    if (IsExemptConnection(id))
        return;
    if (IsExemptProcess(info->processId))
        return;
    // A program that cannot be named cannot be shown to be exempt, so its connection is filtered
    // like any other: leaving it alone would let its requests to listed sites through.
    char name[kProcessNameBufferSize] = {};
    bool named = nf_getProcessNameA(info->processId, name, kProcessNameBufferSize) != 0;
    name[kProcessNameBufferSize - 1] = '\0';
    const std::string program = named ? name : "";  // as named, for the history of blocks
    ascii::LowerInPlace(name);                      // Windows-1252 capitals stay as they are
    if (named && IsExemptProcessName(name)) {
        AddExemptConnection(id);
        AddExemptProcess(info->processId);
        return;
    }
    uint32_t account = kUnknownAccount;
    if (nf_getConnectionAccount(id, &account) != NF_STATUS_SUCCESS) {
        account = kUnknownAccount;  // judged by the default policy where accounts have their own
    }
    RememberConnectionProgram(id, info->processId, program, account);
    AttachFilters(id);
}

void tcpClosed(ENDPOINT_ID id, PNF_TCP_CONN_INFO) {
    ForgetConnectionProgram(id);
}

}  // namespace gx
