// Where the update client finds its servers and the installation's identifiers: string and
// number values in the program's registry key, written by whoever installs the program (and by
// `gx-reg` for tests and trials). Read anew at every check, so a change applies without a
// restart. A key that cannot be opened gives the defaults; a value of the wrong type raises the
// registry's error.
//
//   UPDATE_SERVER, UPDATE_SERVER_FALLBACK   "http://host[:port]" (text)
// The installation's identifiers (CUSTOMER_ID, CUSTOMER_CODE) are the store's, shared with the
// report dialogs.
#pragma once

#include <cstdint>
#include <string>

#include "store/GX_ConfigReg.h"

namespace gx {

inline constexpr char kUpdateServerValue[] = "UPDATE_SERVER";
inline constexpr char kUpdateServerFallbackValue[] = "UPDATE_SERVER_FALLBACK";

// Used until the maker names real servers.
inline constexpr char kDefaultUpdateServer[] = "http://update.brevane.example";
inline constexpr char kDefaultUpdateServerFallback[] = "http://update2.brevane.example";

// The base addresses, without a trailing "/" (the paths that follow begin with one).
std::string UpdateServerBase();
std::string UpdateServerFallbackBase();

// What the connect request reports as the system's version: the kernel's "major.minor"
// release (for example 6.1); empty when it cannot be read.
std::string SystemVersionText();
// The 32-bit identifier of the root file system, in decimal; empty when it cannot be read.
std::string SystemVolumeSerial();

}  // namespace gx
