// The HTTPS commands of gx-driver: trust, untrust and the HTTPS part of status. Each prints its
// French messages and returns the exit status of the tool.
//
// trust    makes (or reads) the root authority in the user's interception folder, installs it
//          in the machine's store (not with --user), in the user's NSS databases where certutil
//          is installed, then writes the trust marker that switches interception on.
// untrust  removes the marker first (interception stops within a second), then the root from
//          the NSS databases and (not with --user) from the machine's store. The root's key
//          stays in the folder for a later trust.
#pragma once

#include <string>

namespace gx {

struct TrustOptions {
    bool userOnly = false;  // --user: the user's browsers only, not the machine's store
    std::string dataHome;   // --data-home: the user's data folder; empty = from the environment
};

int TrustRoot(const TrustOptions& options);
int UntrustRoot(const TrustOptions& options);
// Prints the HTTPS lines; true when interception is on for the user (the marker names the root).
bool ShowTrustStatus(const TrustOptions& options);

}  // namespace gx
