#include "platform/codepage/CaseFold.h"

#include <array>

namespace gx {
namespace {

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

constexpr std::array<unsigned char, 256> kFold = MakeFoldTable();

}  // namespace

unsigned char FoldCase(unsigned char byte) {
    return kFold[byte];
}

std::string FoldText(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(kFold[static_cast<unsigned char>(c)]);
    }
    return out;
}

int CompareTextNoCase(std::string_view a, std::string_view b) {
    const size_t common = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < common; ++i) {
        const int fa = kFold[static_cast<unsigned char>(a[i])];
        const int fb = kFold[static_cast<unsigned char>(b[i])];
        if (fa != fb) {
            return fa - fb;
        }
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

}  // namespace gx
