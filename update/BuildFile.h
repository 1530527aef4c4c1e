// The build file "gxsoft.dat": one published build of the program, signed by its maker.
//
//   header   64 bytes   magic "GXBUILD\x1A", format version (u32 LE, 1), build version (32
//                       bytes, ASCII digits and dots, NUL-padded), payload length (u64 LE),
//                       12 bytes of zero
//   payload             the archive of the program directory, compressed by zlib
//   signature 64 bytes  Ed25519 over header and payload
//
// The archive, once inflated, is a list of entries, each: kind (one byte: 'D' folder, 'F' file,
// 'L' link, 'E' end), mode (u32 LE, permission bits only), path length (u16 LE) and path, then
// for a file its length (u64 LE) and content, for a link its target length (u16 LE) and target.
// Nothing may follow the end entry.
//
// Nothing here trusts the file: every length is checked against what is left and against the
// limits below, every path must stay inside the program directory (relative, no "." or ".."
// part, no entry below a link, no link that leaves the directory), and the signature is checked
// before the payload is inflated. These functions only read memory; the restart program and the
// publishing tool do the file work.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "update/SignedPayload.h"

namespace gx {

inline constexpr char kBuildFileMagic[] = "GXBUILD\x1A";  // 8 bytes, without the NUL
inline constexpr std::uint32_t kBuildFormatVersion = 1;
inline constexpr std::size_t kBuildHeaderSize = 64;
inline constexpr std::size_t kBuildVersionField = 32;
inline constexpr std::size_t kBuildSignatureSize = kMakerSignatureSize;
// Bounds of what a build may hold; a program directory is a few tens of megabytes.
inline constexpr std::uint64_t kMaxPayloadBytes = 256ull << 20;
inline constexpr std::uint64_t kMaxArchiveBytes = 512ull << 20;
inline constexpr std::size_t kMaxArchiveEntries = 20000;
inline constexpr std::size_t kMaxPathBytes = 1024;
// The maker's public key beside the program, and the program that a build must hold.
inline constexpr char kUpdatePublicKeyName[] = "gx_update.pub";
inline constexpr char kMainProgramName[] = "gardalix";

struct BuildHeader {
    std::uint32_t formatVersion = kBuildFormatVersion;
    std::string buildVersion;
    std::uint64_t payloadLength = 0;
};

enum class EntryKind : char { Folder = 'D', File = 'F', Link = 'L' };

struct ArchiveEntry {
    EntryKind kind = EntryKind::File;
    std::uint32_t mode = 0644;  // permission bits (07777 at most)
    std::string path;           // relative, '/' between parts
    std::string data;           // a file's content, or a link's target
};

// What is wrong with a build file, for the log and the user.
enum class BuildFault {
    None,
    Truncated,     // shorter than its header says, or longer
    BadMagic,      // not a build file
    BadFormat,     // a format version this program does not read
    BadVersion,    // a build version that is not digits and dots
    TooLarge,      // beyond the limits
    BadSignature,  // not signed by the key beside the program
    BadArchive,    // the payload does not inflate, or its entries are malformed
    PathOutside,   // an entry leaves the program directory
    NoProgram,     // the build holds no main program
};

// A short French sentence that says what is wrong.
std::string DescribeFault(BuildFault fault);

struct ParsedBuildFile {
    BuildFault fault = BuildFault::None;
    BuildHeader header;
    std::string_view signedPart;  // header and payload, into the caller's bytes
    std::string_view payload;     // into the caller's bytes
    std::string_view signature;   // into the caller's bytes
};

// Splits a build file into its parts; no signature check yet.
ParsedBuildFile ParseBuildFile(std::string_view bytes);

// The 64-byte header of a build (the inverse of ParseBuildFile's header reading).
std::string EncodeBuildHeader(const BuildHeader& header);

// Whether the signature verifies with the Ed25519 public key given in PEM.
bool VerifyBuildSignature(const ParsedBuildFile& file, std::string_view publicKeyPem);

// Inflates a payload and reads its entries; fault set when any check fails.
struct UnpackedArchive {
    BuildFault fault = BuildFault::None;
    std::vector<ArchiveEntry> entries;
};
UnpackedArchive ReadArchive(std::string_view payload);

// Whether a relative path names something inside a folder: not empty, not absolute, no empty,
// "." or ".." part, no NUL.
bool IsInsidePath(std::string_view path);

// Whether a link at linkPath with this target stays inside the folder once resolved lexically.
bool LinkStaysInside(std::string_view linkPath, std::string_view target);

// Whether a build version is digits and dots ("1.6.0"), at most 31 characters.
bool IsBuildVersion(std::string_view version);

// Compares two build versions part by part as numbers: <0, 0, >0.
int CompareBuildVersions(std::string_view a, std::string_view b);

// The whole check of a build file before anything is written: parsed, signed by the key,
// archive sound, main program present. The entries on success.
struct CheckedBuild {
    BuildFault fault = BuildFault::None;
    BuildHeader header;
    std::vector<ArchiveEntry> entries;
};
CheckedBuild CheckBuildFile(std::string_view bytes, std::string_view publicKeyPem);

}  // namespace gx
