// The maker's side of the build file: packing a program directory, compressing and signing it
// (SignedPayload.h), and the Ed25519 key pair that signs. The format is described in
// BuildFile.h.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "update/BuildFile.h"

namespace gx {

// The entries of a program directory, in a stable order (folders before what they hold); links
// are kept as links, never followed. nullopt with a French reason when a file cannot be read or
// an entry would not pass the reader's checks.
std::optional<std::vector<ArchiveEntry>> CollectProgramDir(const std::string& folder,
                                                           std::string& reason);

// The inflated archive of the entries, with its end entry.
std::string EncodeArchive(const std::vector<ArchiveEntry>& entries);

// The whole build file: header, the compressed archive and the signature made with the
// private key given in PEM. nullopt when the key cannot sign or the version is not digits and
// dots.
std::optional<std::string> WriteBuildFile(const std::string& buildVersion,
                                          const std::vector<ArchiveEntry>& entries,
                                          const std::string& privateKeyPem);

// A new Ed25519 key pair in PEM: the private key (PKCS#8) and the public key.
struct KeyPairPem {
    std::string privatePem;
    std::string publicPem;
};
std::optional<KeyPairPem> GenerateKeyPair();

}  // namespace gx
