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

namespace gx {

int TrustRoot(bool userOnly);
int UntrustRoot(bool userOnly);
// Prints the HTTPS lines; true when interception is on for the user (the marker names the root).
bool ShowTrustStatus();

}  // namespace gx
