// Reads the first TLS record of a connection, before anything is relayed, for what decides how
// the connection is handled: is it a TLS ClientHello at all, which server name (SNI) it asks
// for, and which application protocols (ALPN) it offers. A pure function of bytes: it never
// sees a socket, and it reads only within the record and the lengths it declares.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace gx::tls {

struct ClientHello {
    enum class Verdict {
        NeedMore,  // the first record is not complete yet
        NotTls,    // not a TLS handshake record (or not a ClientHello)
        Hello,     // a ClientHello whose first record was read
    };
    Verdict verdict = Verdict::NeedMore;
    std::string serverName;         // the SNI host name as sent, empty when there is none
    std::vector<std::string> alpn;  // the protocols offered, in order
    size_t recordSize = 0;          // bytes of the first record, its header included
};

// The first record is at most this long (TLS allows 2^14 bytes of plaintext plus headers).
inline constexpr size_t kMaxHelloRecord = 5 + 16384;

ClientHello ReadClientHello(const unsigned char* data, size_t size);

// A server name fit to look up and to put in a certificate: a DNS host name (letters, digits,
// hyphens, dots between labels of 1 to 63 characters, 253 at most, a trailing dot allowed).
// "host:port" and addresses are not host names.
bool IsHostName(const std::string& name);

}  // namespace gx::tls
