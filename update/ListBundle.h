// The list bundle: the block lists as the maker publishes them between two builds, signed with
// the maker's key (the key of the build file, gx_update.pub).
//
//   header    64 bytes   magic "GXLISTS\x1A", format version (u32 LE, 1), 4 bytes of zero,
//                        list serial (u64 LE), publication date (u64 LE, seconds since 1970),
//                        payload length (u64 LE), 24 bytes of zero
//   payload              zlib stream of the two lists: the malicious list, then the adult list,
//                        each a count (u32 LE) followed by that many entries, each a length
//                        byte and its Windows-1252 characters
//   signature 64 bytes   Ed25519 over header and payload
//
// The serial only grows from one bundle to the next: a program never takes a bundle whose serial
// is not above the one of its lists in use, so a replayed old bundle changes nothing.
//
// Like BuildFile, nothing here trusts the bytes: the size is checked against the header, the
// signature before anything is inflated, the inflating stops at a fixed bound, and every count
// and length against what is left. Memory in, memory out: no file work.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gx {

inline constexpr char kListBundleMagic[] = "GXLISTS\x1A";  // 8 bytes, without the NUL
inline constexpr std::uint32_t kListBundleFormat = 1;
inline constexpr std::size_t kListBundleHeaderSize = 64;
// Bounds: a bundle of a few million entries fits.
inline constexpr std::uint64_t kMaxListPayloadBytes = 64ull << 20;
inline constexpr std::uint64_t kMaxListInflatedBytes = 256ull << 20;
inline constexpr std::size_t kMaxAdultEntries = 512;
inline constexpr std::size_t kMaxAdultEntryBytes = 128;

enum class ListBundleFault {
    None,
    Truncated,     // shorter or longer than its header says
    BadMagic,      // not a list bundle
    BadFormat,     // another format version, or the reserved bytes are not zero
    TooLarge,      // a payload beyond the bound
    BadSignature,  // not signed by the maker's key
    BadPayload,    // does not inflate within the bound, or its lists are malformed
};

// A short French sentence for the log.
std::string DescribeListFault(ListBundleFault fault);

struct ListBundleContent {
    std::uint64_t serial = 0;
    std::uint64_t published = 0;  // seconds since 1970
    std::vector<std::string> malware;
    std::vector<std::string> adult;
};

struct CheckedListBundle {
    ListBundleFault fault = ListBundleFault::None;
    ListBundleContent content;  // filled only when fault is None
};

// The whole check: size, header, signature with the public key in PEM, payload.
CheckedListBundle CheckListBundle(std::string_view bytes, std::string_view publicKeyPem);

// The serial in a bundle's header, before any check (nullopt when the header is not there).
std::optional<std::uint64_t> PeekListSerial(std::string_view bytes);

// The maker's side: the signed bundle of the content with the private key in PEM; nullopt when
// the key cannot sign or the lists break the bounds.
std::optional<std::string> WriteListBundle(const ListBundleContent& content,
                                           const std::string& privateKeyPem);

}  // namespace gx
