// What the first bytes of a connection say about the protocol it carries, before anything is
// relayed: a redirected connection and a CONNECT tunnel are filtered only when they carry HTTP.
#pragma once

#include <cstddef>
#include <optional>

namespace gx::interception {

// Do the first bytes of a connection start like an HTTP request line: a method, blanks and a
// request target ("/...", "*", "http://...", or host:port after CONNECT)? Empty lines first and
// blanks other than a space are accepted, as servers accept them; other protocols with a word
// up front (an SSH banner) are not HTTP. nullopt: too few bytes to tell.
std::optional<bool> LooksLikeHttp(const char* data, size_t n);

}  // namespace gx::interception
