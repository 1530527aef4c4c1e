// The spellings of a request's address that the block lists are asked about.
//
// The lists are compared with the address as the request spelt it (the Host value, then the
// target), and also with its canonical form (lists/CanonicalAddress.h), so that another spelling
// of a listed address (escapes, a default port, dot segments, another notation of an IP address,
// a trailing dot) cannot slip past: the server would decode it and serve the listed page.
//
// On a connection whose server is settled before any request is read (a transparent connection,
// a CONNECT tunnel), the Host value may name another server than the one the request really goes
// to. The library then gives the request object a stream kServerStream naming that server, and
// the address rebuilt with it is judged as well. A hit on any spelling blocks; the address that
// is shown and recorded stays the one the request spelt.
//
// Every question of one request goes to the lists in use when the request came (taken once, in
// the constructor): a refresh that swaps the lists meanwhile changes nothing for it.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "lists/ListsInUse.h"

namespace gx {

// Stream 3 of a request object, when the library hands one: the server that the connection goes
// to, as a Host value names it ("host" or "host:port"). Absent on connections to a proxy.
inline constexpr int kServerStream = 3;

class RequestSpellings {
  public:
    // `url`: the address rebuilt from the request; `serverUrl`: the same with the connection's
    // server in place of the Host value, or empty. The spellings keep views into both texts:
    // each must outlive them (never a temporary).
    RequestSpellings(std::string_view url, std::string_view serverUrl);

    // In the malicious list, spelt any of these ways.
    bool IsMalware() const;
    // In the adult list, spelt any of these ways (asked only while child protection is on).
    bool IsAdult() const;

  private:
    struct Spelling {
        std::string_view sent;
        std::string canonical;
    };
    std::shared_ptr<const BlockLists> lists_;
    Spelling spellings_[2];
    int count_ = 0;
};

}  // namespace gx
