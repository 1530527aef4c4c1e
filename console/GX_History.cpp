#include "console/GX_History.h"

namespace gx {

std::string ExtractField(std::string_view text, int n) {
    if (n < 1) {
        return {};
    }
    size_t start = 0;
    for (int field = 1;; ++field) {
        const size_t end = text.find('|', start);
        if (field == n) {
            return std::string(
                text.substr(start, end == std::string_view::npos ? end : end - start));
        }
        if (end == std::string_view::npos) {
            return {};
        }
        start = end + 1;
    }
}

}  // namespace gx
