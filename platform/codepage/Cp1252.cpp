#include "platform/codepage/Cp1252.h"

#include <array>
#include <cstdint>

namespace gx {
namespace {

// Code points of the bytes 0x80 to 0x9F; the rest of the code page equals Latin-1.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::optional<unsigned char> CodePointToCp1252(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
        return static_cast<unsigned char>(cp);
    }
    for (size_t i = 0; i < kHighControls.size(); ++i) {
        if (kHighControls[i] == cp) {
            return static_cast<unsigned char>(0x80 + i);
        }
    }
    return std::nullopt;
}

// Decodes one UTF-8 sequence at text[pos]; advances pos. nullopt on a malformed sequence.
std::optional<char32_t> DecodeUtf8(std::string_view text, size_t& pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    int extra;
    char32_t cp;
    if (lead < 0x80) {
        ++pos;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1, cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, cp = lead & 0x07;
    } else {
        return std::nullopt;
    }
    if (pos + extra >= text.size()) {  // sequence cut short
        return std::nullopt;
    }
    for (int i = 1; i <= extra; ++i) {
        const auto next = static_cast<unsigned char>(text[pos + i]);
        if ((next & 0xC0) != 0x80) {
            return std::nullopt;
        }
        cp = (cp << 6) | (next & 0x3F);
    }
    static constexpr char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMinimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return std::nullopt;  // overlong form, surrogate or out of range
    }
    pos += extra + 1;
    return cp;
}

}  // namespace

char32_t Cp1252ToCodePoint(unsigned char byte) {
    return (byte >= 0x80 && byte <= 0x9F) ? kHighControls[byte - 0x80] : byte;
}

std::string Cp1252ToUtf8(std::string_view cp1252) {
    std::string out;
    out.reserve(cp1252.size());
    for (const char c : cp1252) {
        AppendUtf8(out, Cp1252ToCodePoint(static_cast<unsigned char>(c)));
    }
    return out;
}

std::optional<std::string> Utf8ToCp1252(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    size_t pos = 0;
    while (pos < utf8.size()) {
        const auto cp = DecodeUtf8(utf8, pos);
        if (!cp) {
            return std::nullopt;
        }
        const auto byte = CodePointToCp1252(*cp);
        if (!byte) {
            return std::nullopt;
        }
        out += static_cast<char>(*byte);
    }
    return out;
}

std::string Cp1252(std::string_view utf8Literal) {
    std::string out;
    size_t pos = 0;
    while (pos < utf8Literal.size()) {
        const auto cp = DecodeUtf8(utf8Literal, pos);
        if (!cp) {
            out += '?';
            ++pos;
            continue;
        }
        out += static_cast<char>(CodePointToCp1252(*cp).value_or('?'));
    }
    return out;
}

}  // namespace gx
