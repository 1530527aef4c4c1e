// The nftables table of the transparent mode, as text for `nft -f -`.
#pragma once

#include <string>

#include "platform/driver/DriverConfig.h"

namespace gx {

// Creates the table, or replaces it whole if it exists: nft applies a file as one
// transaction, so there is never a moment with half a table or none.
std::string BuildInstallRuleset(const DriverConfig& config);

// Removes the table; harmless when it does not exist.
std::string BuildRemoveRuleset();

}  // namespace gx
