// Letter-case folding and the case-insensitive order of Windows-1252 text.
//
// The malicious list is looked up "letter case ignored". On Windows that is the user-locale
// string comparison; Linux has no such call, and the C library's locale collation depends on
// the installed locales and is not a total order over bytes. So the program defines its own:
// each Windows-1252 letter is folded to lower case (A-Z, À-Þ except ×, Š, Œ, Ž, Ÿ), then the
// strings compare by folded byte value, a string that is a prefix of a longer one sorting first.
// Two strings are equal exactly when they are equal after folding.
#pragma once

#include <string>
#include <string_view>

namespace gx {

// The lower-case form of one Windows-1252 byte (the byte itself when it is not a capital).
unsigned char FoldCase(unsigned char byte);

// The whole string folded.
std::string FoldText(std::string_view text);

// <0, 0 or >0 as a sorts before, equal to or after b in the case-insensitive order.
int CompareTextNoCase(std::string_view a, std::string_view b);

inline bool SameTextNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CompareTextNoCase(a, b) == 0;
}

}  // namespace gx
