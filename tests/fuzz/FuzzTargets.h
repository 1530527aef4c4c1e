// The fuzz targets: each drives real code of the program from arbitrary bytes, as hostile input
// would reach it. Built twice: into libFuzzer programs by `./gx fuzz` (clang, sanitizers), and
// into the normal build, where a test replays every kept input of tests/fuzz/corpus/ so that a
// crash once found never comes back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace gx::fuzz {

// A request as a client sends it: the end of its head, the head parsed, and whatever follows it
// framed as the body the head announces (the next pipelined request behind it).
int FuzzRequestHead(const uint8_t* data, size_t size);
// A response as a server sends it: head parsed for a GET and a HEAD, body framed.
int FuzzResponseHead(const uint8_t* data, size_t size);
// The first bytes of a connection: the ClientHello reader and the HTTP sniffing.
int FuzzClientHello(const uint8_t* data, size_t size);
// The bytes of a list file: loaded as gx_mu.dat and as gx_pu.dat, then looked up.
int FuzzListFiles(const uint8_t* data, size_t size);
// The text of a list source: packed as either list (what packs must load), and imported as a
// feed.
int FuzzListSources(const uint8_t* data, size_t size);
// An address: cut into its parts, and brought to its canonical spelling (which must not change
// a second time).
int FuzzAddress(const uint8_t* data, size_t size);
// A response as the update server sends it, read by the program's HTTP client over loopback:
// status line, header fields, chunked or sized body, relocations.
int FuzzHttpResponse(const uint8_t* data, size_t size);
// The update exchange's texts: the connect reply, the description file and the lists index.
int FuzzUpdateDescription(const uint8_t* data, size_t size);
// A build file as downloaded, and an inflated archive read back (what reads must write again).
int FuzzBuildFile(const uint8_t* data, size_t size);
// A list bundle as downloaded, and lists written as a bundle and read back.
int FuzzListBundle(const uint8_t* data, size_t size);
// HTTP/2 frames from a hostile peer: to the codec as a server (an inspected client's bytes) and
// as a client (a server's answer).
int FuzzHttp2Frames(const uint8_t* data, size_t size);
// The system service's control channel: request lines (what is read must be written again the
// same) and answers as a client reads them.
int FuzzControlRequest(const uint8_t* data, size_t size);

struct Target {
    const char* name;  // its corpus folder under tests/fuzz/corpus/
    int (*run)(const uint8_t*, size_t);
};
const std::vector<Target>& Targets();

}  // namespace gx::fuzz
