#include "platform/codepage/CaseFold.h"

namespace gx {

std::string FoldText(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(FoldCase(static_cast<unsigned char>(c)));
    }
    return out;
}

int CompareTextNoCase(std::string_view a, std::string_view b) {
    const size_t common = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < common; ++i) {
        const int fa = FoldCase(static_cast<unsigned char>(a[i]));
        const int fb = FoldCase(static_cast<unsigned char>(b[i]));
        if (fa != fb) {
            return fa - fb;
        }
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

}  // namespace gx
