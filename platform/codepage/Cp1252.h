// Windows-1252 text: the single-byte code page of addresses, list entries, registry names and
// HTTP texts. Conversions to and from UTF-8 for the terminal, the user interface and source
// literals. Every byte value round-trips: the five bytes that Windows-1252 leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 controls U+0081, U+008D, U+008F, U+0090, U+009D.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace gx {

// The Unicode code point of one Windows-1252 byte.
char32_t Cp1252ToCodePoint(unsigned char byte);

// UTF-8 text of a Windows-1252 byte string. Never fails.
std::string Cp1252ToUtf8(std::string_view cp1252);

// Windows-1252 bytes of a UTF-8 text; nullopt when the text is not valid UTF-8 or holds a
// character that Windows-1252 cannot represent.
std::optional<std::string> Utf8ToCp1252(std::string_view utf8);

// Windows-1252 bytes of a UTF-8 source literal known to be representable (French texts of the
// program). A character outside the code page becomes '?'.
std::string Cp1252(std::string_view utf8Literal);

}  // namespace gx
