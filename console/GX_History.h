// Reading back history entries: "date|address|reason", fields separated by "|" (not escaped).
#pragma once

#include <string>
#include <string_view>

namespace gx {

// The n-th field of the text (counted from 1), or the empty string when the text has fewer
// fields. Two adjacent separators make an empty field.
std::string ExtractField(std::string_view text, int n);

}  // namespace gx
