// The block response: the engine answers a blocked request itself with a 404 response carrying a
// small French HTML page that names the blocked address and the reason. Texts are Windows-1252.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/TPFObject.h"

namespace gx {

// The body always takes this many bytes: the page text followed by zero bytes.
inline constexpr size_t kBlockPageBodySize = 2048;

// "&", "<", ">" and '"' as HTML entities; every other byte unchanged.
std::string EscapeHtml(std::string_view text);

// The page text naming the address and the reason, both escaped. An address too long for the
// body is cut (never inside an entity) and ends in "...", so the page always fits whole.
std::string BlockPageText(std::string_view url, std::string_view reason);

// Posts the 404 block page on the connection that carried the blocked request. Always true.
bool SendBlockPage(std::string_view url, std::string_view reason, ENDPOINT_ID id);

// Replaces stream 0 with the text followed by CR LF. False when the object has no stream 0.
bool WriteFirstLine(const TPFObject& object, std::string_view text);

}  // namespace gx
