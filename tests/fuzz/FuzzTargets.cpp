#include "fuzz/FuzzTargets.h"

#include <unistd.h>

#include <cstdio>
#include <string_view>

#include "lists/GX_MalwareURL.h"
#include "lists/GX_PornURL.h"
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

std::string TemporaryFile(const uint8_t* data, size_t size) {
    char path[] = "/tmp/gx-fuzz-list-XXXXXX";
    int fd = ::mkstemp(path);
    if (fd < 0) {
        return {};
    }
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    return path;
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

int FuzzListFiles(const uint8_t* data, size_t size) {
    std::string path = TemporaryFile(data, size);
    if (path.empty()) {
        return 0;
    }
    if (LoadMalwareURLList(path)) {
        IsMalwareURL("www.gardalix.example/test_malware/");
        IsMalwareURL("");
    }
    if (LoadPornURLList(path)) {
        IsPornURL("www.example.org/page");
    }
    ::unlink(path.c_str());
    return 0;
}

const std::vector<Target>& Targets() {
    static const std::vector<Target> targets = {
        {"request_head", FuzzRequestHead},
        {"response_head", FuzzResponseHead},
        {"client_hello", FuzzClientHello},
        {"list_files", FuzzListFiles},
    };
    return targets;
}

}  // namespace gx::fuzz
