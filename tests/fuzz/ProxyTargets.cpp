// The targets of the interception proxy: what a client and a server send it, and the first
// bytes of a connection.
#include "fuzz/FuzzTargets.h"

#include <algorithm>
#include <string_view>

#include "platform/interception/BodyScanner.h"
#include "platform/interception/FirstBytes.h"
#include "platform/interception/HttpHead.h"
#include "platform/tls/ClientHello.h"

namespace gx::fuzz {
namespace {

using interception::BodyScanner;

// Frames what follows a head as its body, in pieces of varying size as a network delivers it.
void ScanBody(const interception::BodyFraming& framing, std::string_view rest) {
    BodyScanner body;
    body.Start(framing);
    size_t piece = 1;
    while (!rest.empty() && !body.Done() && !body.Failed()) {
        size_t offered = std::min(piece, rest.size());
        size_t used = body.Consume(rest.data(), offered);
        if (used > offered) {
            __builtin_trap();  // a scanner that claims bytes it was not given
        }
        rest.remove_prefix(used);
        if (used < offered) {
            break;  // the body ended, or failed, within this piece
        }
        piece = piece * 3 % 61 + 1;
    }
}

}  // namespace

int FuzzRequestHead(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    size_t end = interception::FindHeadEnd(bytes);
    if (end == std::string_view::npos) {
        return 0;
    }
    interception::RequestHead head;
    if (interception::ParseRequestHead(bytes.substr(0, end), head) == 0) {
        ScanBody(head.body, bytes.substr(end));
    }
    return 0;
}

int FuzzResponseHead(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    size_t end = interception::FindHeadEnd(bytes);
    if (end == std::string_view::npos) {
        return 0;
    }
    for (std::string_view method : {"GET", "HEAD"}) {
        interception::ResponseHead head;
        if (interception::ParseResponseHead(bytes.substr(0, end), method, head) == 0) {
            ScanBody(head.body, bytes.substr(end));
        }
    }
    return 0;
}

int FuzzClientHello(const uint8_t* data, size_t size) {
    tls::ClientHello hello = tls::ReadClientHello(data, size);
    if (hello.recordSize > size) {
        __builtin_trap();  // a record longer than what was read
    }
    tls::IsHostName(hello.serverName);
    interception::LooksLikeHttp(reinterpret_cast<const char*>(data), size);
    return 0;
}

}  // namespace gx::fuzz
