// The places a root's trust is installed in: the machine's store (a file read by
// update-ca-certificates) and the users' NSS databases, where Chromium (~/.pki/nssdb) and
// Firefox (each profile folder under ~/.mozilla/firefox) look for the authorities they trust.
//
// Environment (the tests point everything at temporary folders and scripts):
//   GARDALIX_CA_DIR                   the machine store's folder
//                                     (/usr/local/share/ca-certificates)
//   GARDALIX_UPDATE_CA_CERTIFICATES   the program that rebuilds the machine store
//                                     (update-ca-certificates)
//   GARDALIX_CERTUTIL                 NSS's certutil (from libnss3-tools); a path that cannot
//                                     be run counts as certutil missing
#pragma once

#include <string>
#include <vector>

#include "tools/gx-driver/Command.h"

namespace gx {

inline constexpr char kUpdateCaVariable[] = "GARDALIX_UPDATE_CA_CERTIFICATES";
inline constexpr char kCertutilVariable[] = "GARDALIX_CERTUTIL";
// The name the root carries in the NSS databases.
inline constexpr char kNssNickname[] = "Gardalix";

// ---- The machine's store ----

// Writes the certificate into the store's folder and rebuilds the store. False with `error`.
bool InstallInSystemStore(const std::string& certificatePem, std::string* error);
// Removes our file and rebuilds the store when there was one. `removed` tells whether it was.
bool RemoveFromSystemStore(bool* removed, std::string* error);

// ---- NSS databases ----

// certutil's path, or "" when it is not installed.
std::string Certutil();

// The NSS databases (folders holding cert9.db) of a home folder: Chromium's, then Firefox's
// profiles in name order.
std::vector<std::string> NssDatabases(const std::string& home);

// A short name for a database in messages: "Chromium (~/.pki/nssdb)", "Firefox (profil X)".
std::string DescribeDatabase(const std::string& home, const std::string& database);

// Puts the certificate in the database as a trusted authority for web sites, in place of any
// certificate of ours that it held. False with certutil's words in `error`.
bool AddToNss(const std::string& certutil, const std::string& database,
              const std::string& certificatePath, std::string* error);
// Removes every certificate of ours; the number removed.
int RemoveFromNss(const std::string& certutil, const std::string& database);
// True when the database holds this certificate (PEM) under our name.
bool NssHolds(const std::string& certutil, const std::string& database,
              const std::string& certificatePem);

}  // namespace gx
