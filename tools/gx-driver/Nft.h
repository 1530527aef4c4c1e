// Running the nft command.
#pragma once

#include <string>
#include <vector>

namespace gx {

struct NftResult {
    bool ok = false;     // nft ran and exited with status 0
    std::string output;  // what it wrote (standard output and error), or why it could not run
};

// Runs `nft ARGUMENTS...`, giving it `input` on its standard input.
NftResult RunNft(const std::vector<std::string>& arguments, const std::string& input = "");

// Applies a ruleset atomically (`nft -f -`).
NftResult ApplyRuleset(const std::string& ruleset);

// True when the table `inet gardalix` exists.
bool DriverTableExists();

// The address families the running program has armed, as "IPv4", "IPv6", "IPv4, IPv6", or
// empty when none is (or there is no table).
std::string ArmedFamilies();

// The accounts whose program armed the redirect, as "1000 (alice), 1001 (bob)"; empty when
// none, or when every account's traffic is redirected (the set holds no account).
std::string ArmedAccounts();

}  // namespace gx
