// The proxy's side of the program's callbacks, in C++ terms. A session tells the program of its
// connection, asks it about each request and tells it when the connection ends; the answers say
// what the session does next. ProgramCallbacks implements this over the C event table; tests
// can give a session their own implementation.
//
// The program may post objects back (its answer to a request, a request it lets travel) during
// a call or later, from any thread: those reach the session through its inbox, not through the
// results here.
#pragma once

#include <asio.hpp>
#include <cstdint>
#include <optional>
#include <string_view>

#include "api/interception/NetFilter2API.h"
#include "platform/interception/HttpHead.h"

namespace gx::interception {

// What the library knows of a new connection when it announces it.
struct ConnectionAnnouncement {
    uint32_t filteringFlag = 0;
    uint32_t processId = 0;
    asio::ip::tcp::endpoint client;                 // the program's end
    std::optional<asio::ip::tcp::endpoint> server;  // known for redirected connections only
};

// What happens to a request once the program has seen its head.
enum class HeadVerdict {
    Pass,     // send it on as it is
    Blocked,  // stopped: answered by the program, or else the connection ends after it
    Collect,  // collect the whole request and hand it over (HandWhole) before anything travels
};

class ProgramBridge {
  public:
    virtual ~ProgramBridge() = default;

    // A worker thread of the proxy starts, or ends (on that thread).
    virtual void WorkerStarted() {}
    virtual void WorkerEnded() {}

    // Does the program look at requests at all? When not, they travel unjudged.
    virtual bool JudgesRequests() const = 0;
    // The connection is the program's to filter. True when the program was told of it (and so
    // must be told of its end).
    virtual bool Connected(ENDPOINT_ID id, const ConnectionAnnouncement& connection) = 0;
    virtual HeadVerdict JudgeHead(ENDPOINT_ID id, const RequestHead& head) = 0;
    // The whole request, body included. The program answers it, or posts it on, by posting.
    virtual void HandWhole(ENDPOINT_ID id, const RequestHead& head, std::string_view body) = 0;
    virtual void Closed(ENDPOINT_ID id) = 0;
};

}  // namespace gx::interception
