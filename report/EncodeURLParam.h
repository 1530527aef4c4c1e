// The percent-encoding of the values that the report dialogs send in their query.
//
// The reporting server decodes the values with its own table, so the table is kept as the
// server knows it: in particular the apostrophe goes as "%60" (the backquote's code), which the
// server turns back into the apostrophe it stores. On top of the table, every byte that would
// break the query or the request line is encoded too: "&", "=" and "+" (which would start a key,
// end a key or become a space), control bytes and bytes above 127. Letters, digits and the
// marks "!", "$", "*", "-", ":", "_" and the backquote go unchanged.
#pragma once

#include <string>
#include <string_view>

namespace gx {

// One pass from left to right over Windows-1252 bytes: each byte is either copied or replaced
// by "%" and two capital hex digits (for the apostrophe, "%60"). What a replacement produces is
// never looked at again, so a typed "%20" goes as "%2520".
std::string EncodeURLParam(std::string_view cp1252);

}  // namespace gx
