// Letter-case folding and the case-insensitive order of Windows-1252 text.
//
// The malicious list is looked up "letter case ignored". On Windows that is the user-locale
// string comparison; Linux has no such call, and the C library's locale collation depends on
// the installed locales and is not a total order over bytes. So the program defines its own:
// each Windows-1252 letter is folded to lower case (A-Z, À-Þ except ×, Š, Œ, Ž, Ÿ), then the
// strings compare by folded byte value, a string that is a prefix of a longer one sorting first.
// Two strings are equal exactly when they are equal after folding.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace gx {

namespace detail {
constexpr std::array<unsigned char, 256> MakeFoldTable() {
    std::array<unsigned char, 256> table{};
    for (int b = 0; b < 256; ++b) {
        table[b] = static_cast<unsigned char>(b);
    }
    for (int b = 'A'; b <= 'Z'; ++b) {
        table[b] = static_cast<unsigned char>(b + 0x20);
    }
    for (int b = 0xC0; b <= 0xDE; ++b) {
        if (b != 0xD7) {  // × has no lower case
            table[b] = static_cast<unsigned char>(b + 0x20);
        }
    }
    table[0x8A] = 0x9A;  // Š š
    table[0x8C] = 0x9C;  // Œ œ
    table[0x8E] = 0x9E;  // Ž ž
    table[0x9F] = 0xFF;  // Ÿ ÿ
    return table;
}
inline constexpr std::array<unsigned char, 256> kFoldTable = MakeFoldTable();
}  // namespace detail

// The lower-case form of one Windows-1252 byte (the byte itself when it is not a capital).
inline unsigned char FoldCase(unsigned char byte) {
    return detail::kFoldTable[byte];
}

// The whole string folded.
std::string FoldText(std::string_view text);

// <0, 0 or >0 as a sorts before, equal to or after b in the case-insensitive order.
int CompareTextNoCase(std::string_view a, std::string_view b);

inline bool SameTextNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CompareTextNoCase(a, b) == 0;
}

}  // namespace gx
