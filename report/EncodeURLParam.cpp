#include "report/EncodeURLParam.h"

#include <array>

namespace gx {

namespace {

// The server's own table: the marks it expects encoded, and the accented letters it decodes.
constexpr std::string_view kTableBytes =
    " \"#%'(),./;<>?@[\\]^{|}~"
    "\xE0\xE2\xE4\xE7\xE8\xE9\xEA\xEB\xEE\xEF\xF4";

// Bytes that would change the query's meaning: a new key, the end of a key, a space.
constexpr std::string_view kQueryBytes = "&=+";

constexpr std::array<bool, 256> EncodedBytes() {
    std::array<bool, 256> encoded{};
    for (int byte = 0; byte < 256; ++byte) {
        // Control bytes and every byte above 127 cannot stand raw in a request line.
        encoded[byte] = byte < 32 || byte >= 127;
    }
    for (const char byte : kTableBytes) {
        encoded[static_cast<unsigned char>(byte)] = true;
    }
    for (const char byte : kQueryBytes) {
        encoded[static_cast<unsigned char>(byte)] = true;
    }
    return encoded;
}

constexpr std::array<bool, 256> kEncoded = EncodedBytes();

void AppendPercent(std::string& out, unsigned char byte) {
    constexpr char kHex[] = "0123456789ABCDEF";
    out += '%';
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
}

}  // namespace

std::string EncodeURLParam(std::string_view cp1252) {
    std::string encoded;
    encoded.reserve(cp1252.size() * 3);
    for (const char c : cp1252) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\'') {
            encoded += "%60";  // the server turns the backquote's code back into the apostrophe
        } else if (kEncoded[byte]) {
            AppendPercent(encoded, byte);
        } else {
            encoded += c;
        }
    }
    return encoded;
}

}  // namespace gx
