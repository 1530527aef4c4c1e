// Hexadecimal digits as the program's protocols and files write them: read in either case,
// written in lower case (digests, fingerprints, the registry tool's binary values). Header-only,
// shared by every folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace gx {

// The value of one hex digit (0 to 15), or -1 for any other byte.
constexpr int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Two lower-case digits per byte.
inline std::string LowerHex(const unsigned char* bytes, std::size_t count) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
        hex += kDigits[bytes[i] >> 4];
        hex += kDigits[bytes[i] & 0x0F];
    }
    return hex;
}

inline std::string LowerHex(std::string_view bytes) {
    return LowerHex(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

inline std::string LowerHex(const std::vector<unsigned char>& bytes) {
    return LowerHex(bytes.data(), bytes.size());
}

// A number in lower-case hex, without leading zeros ("0" for 0), as chunk sizes are written.
inline std::string LowerHexNumber(std::uint64_t n) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    do {
        text.insert(text.begin(), kDigits[n & 0xF]);
        n >>= 4;
    } while (n != 0);
    return text;
}

// Reads exactly `bytes` bytes written as 2 * bytes hex digits (either case); false, and `out`
// left unspecified, for any other length or a byte that is not a digit.
inline bool ParseHex(std::string_view text, std::size_t bytes, std::vector<unsigned char>& out) {
    if (text.size() != bytes * 2) {
        return false;
    }
    out.assign(bytes, 0);
    for (std::size_t i = 0; i < bytes; ++i) {
        const int high = HexValue(text[2 * i]);
        const int low = HexValue(text[2 * i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        out[i] = static_cast<unsigned char>(high * 16 + low);
    }
    return true;
}

}  // namespace gx
