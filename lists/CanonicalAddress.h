// The canonical spelling of an address, in the form the engine rebuilds from a request (host,
// then the request target; no scheme).
//
// A server decodes what a client may spell in many ways, and serves the same page for all of
// them: a list compared with the address as it was spelt would be talked past. So the address
// and the list entries are both brought to one spelling, by these rules, and nothing else:
//
//   - a scheme "http://" or "https://" in front (an absolute target) is dropped, and an empty
//     path after it becomes "/";
//   - the host is lower-cased (A to Z) and its trailing dots are removed;
//   - an IPv4 host in any notation that resolvers accept (2130706433, 0x7f.1, 0177.0.0.1,
//     127.1) and an IPv4-mapped IPv6 host ([::ffff:127.0.0.1]) is written in dotted decimal;
//     another IPv6 host is written in its shortest form, in brackets;
//   - the default ports ":80" and ":443" are dropped, and so is an empty port. The address
//     does not tell whether the request came over TLS, and a listed host is the same site on
//     either port, so both are dropped whatever the scheme;
//   - in the path and the query, a percent-escape of an unreserved character (A-Z a-z 0-9 - .
//     _ ~) is decoded; the hex digits of every other escape are upper-cased. "%2F" stays as it
//     is: it is not a slash to a server;
//   - the "." and ".." segments of the path are resolved as servers do, never above the root;
//     runs of "/" are kept (servers differ on them);
//   - a fragment ("#" and what follows) is dropped: it never reaches a server.
//
// Pure text work: no resolver, no socket, no locale.
#pragma once

#include <string>
#include <string_view>

namespace gx {

// The canonical form of the address.
std::string CanonicalAddress(std::string_view address);

// The same, written into `out` (its former content replaced, its room reused): the list loader
// calls this for every entry.
void WriteCanonicalAddress(std::string_view address, std::string& out);

// The text with only the escape rule applied: unreserved characters decoded, the hex digits of
// other escapes upper-cased. For adult patterns, which are pieces of addresses, not addresses.
std::string CanonicalEscapes(std::string_view text);

}  // namespace gx
