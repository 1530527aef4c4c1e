// Where the report dialogs send to, and what they say about the installation.
//
// The reporting server is named in the program's registry key by the text value REPORT_SERVER,
// "http://host" or "http://host:port"; without it (or with a value that is not such an address)
// the built-in server is used. It is read at every sending, so a changed value counts from the
// next OK on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace gx {

inline constexpr const char* kReportServerValue = "REPORT_SERVER";
inline constexpr const char* kDefaultReportServer = "http://update.brevane.example";

// "http://host[:port]" without a trailing slash when the text is such an address (scheme letter
// case ignored, spaces around it ignored); empty otherwise.
std::string NormalisedReportServer(std::string_view text);

// The server from the registry, else the built-in one. Never raises: a hive that cannot be
// opened or a value that is not a text counts as no value.
std::string ReportServerBase();

// The customer code that the dialogs send as `id` (CUSTOMER_CODE, as the update check sends
// it); 0 when there is none. Never raises.
std::uint16_t ReportCustomerCode();

}  // namespace gx
