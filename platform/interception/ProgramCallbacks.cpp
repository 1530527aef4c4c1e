#include "platform/interception/ProgramCallbacks.h"

#include <sys/socket.h>

#include <algorithm>
#include <cstring>

#include "platform/interception/ProtocolObjects.h"

namespace gx::interception {
namespace {

void FillSockaddr(const asio::ip::tcp::endpoint& endpoint, uint8_t* out, size_t size) {
    std::memcpy(out, endpoint.data(), std::min<size_t>(endpoint.size(), size));
}

std::string LineWithCrLf(const RequestHead& head) {
    return head.line + "\r\n";
}

}  // namespace

void ProgramCallbacks::WorkerStarted() {
    if (events_.threadStart) {
        events_.threadStart();
    }
}

void ProgramCallbacks::WorkerEnded() {
    if (events_.threadEnd) {
        events_.threadEnd();
    }
}

bool ProgramCallbacks::JudgesRequests() const {
    return events_.dataPartAvailable || events_.dataAvailable;
}

bool ProgramCallbacks::Connected(ENDPOINT_ID id, const ConnectionAnnouncement& connection) {
    if (!events_.tcpConnected) {
        return false;
    }
    NF_TCP_CONN_INFO info{};
    info.filteringFlag = connection.filteringFlag;
    info.processId = connection.processId;
    info.direction = NF_D_OUT;
    info.ip_family =
        connection.client.address().is_v4() ? uint16_t{NF_AF_INET} : uint16_t{AF_INET6};
    FillSockaddr(connection.client, info.localAddress, sizeof info.localAddress);
    if (connection.server) {
        FillSockaddr(*connection.server, info.remoteAddress, sizeof info.remoteAddress);
    }
    events_.tcpConnected(id, &info);
    return true;
}

HeadVerdict ProgramCallbacks::JudgeHead(ENDPOINT_ID id, const RequestHead& head) {
    PF_DATA_PART_CHECK_RESULT result = DPCR_FILTER;
    if (events_.dataPartAvailable) {
        // The program owns the object from here and frees it.
        result =
            events_.dataPartAvailable(id, NewRequestObject(LineWithCrLf(head), head.fields, {}));
    }
    if (result == DPCR_BLOCK) {
        return HeadVerdict::Blocked;
    }
    if (result == DPCR_BYPASS || !events_.dataAvailable) {
        return HeadVerdict::Pass;
    }
    return HeadVerdict::Collect;
}

void ProgramCallbacks::HandWhole(ENDPOINT_ID id, const RequestHead& head, std::string_view body) {
    if (events_.dataAvailable) {
        events_.dataAvailable(id, NewRequestObject(LineWithCrLf(head), head.fields, body));
    }
}

void ProgramCallbacks::Closed(ENDPOINT_ID id) {
    if (events_.tcpClosed) {
        NF_TCP_CONN_INFO info{};
        info.direction = NF_D_OUT;
        events_.tcpClosed(id, &info);
    }
}

}  // namespace gx::interception
