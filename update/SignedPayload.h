// What every file the maker publishes is made of (builds, list bundles): little-endian fields in
// a fixed header, a zlib payload, and the maker's Ed25519 signature over both. These helpers
// work on bytes in memory only and trust nothing they read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace gx {

inline constexpr std::size_t kMakerSignatureSize = 64;

// Whether a 64-byte Ed25519 signature of the message verifies with the public key in PEM.
bool VerifyMakerSignature(std::string_view message, std::string_view signature,
                          std::string_view publicKeyPem);

// The maker's Ed25519 signature (64 bytes) of the message with the private key in PEM; nullopt
// when the key is not an Ed25519 private key.
std::optional<std::string> SignAsMaker(const std::string& message,
                                       const std::string& privateKeyPem);

// Inflates one whole zlib stream (nothing may follow it); nullopt when it is not one, or when it
// would inflate past maxBytes (checked as it inflates, never after).
std::optional<std::string> InflateBounded(std::string_view compressed, std::uint64_t maxBytes);

// The zlib stream of the bytes, at the best compression.
std::optional<std::string> Deflate(const std::string& bytes);

// Little-endian numbers: width bytes at `at` (the caller has checked that they are there), and
// appended to a text.
std::uint64_t ReadLittle(std::string_view bytes, std::size_t at, std::size_t width);
void AppendLittle(std::string& out, std::uint64_t value, std::size_t width);

// The SHA-256 of the bytes in lower-case hex.
std::string Sha256Hex(std::string_view bytes);

}  // namespace gx
