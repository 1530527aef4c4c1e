// The maker's side of the build file: packing a program directory, compressing and signing it,
// and the Ed25519 key pair that signs. The format is described in GX_BuildFile.h.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "update/GX_BuildFile.h"

namespace gx {

// The entries of a program directory, in a stable order (folders before what they hold); links
// are kept as links, never followed. nullopt with a French reason when a file cannot be read or
// an entry would not pass the reader's checks.
std::optional<std::vector<ArchiveEntry>> CollectProgramDir(const std::string& folder,
                                                           std::string& reason);

// The inflated archive of the entries, with its end entry.
std::string EncodeArchive(const std::vector<ArchiveEntry>& entries);

// The zlib stream of the bytes, at the best compression.
std::optional<std::string> Deflate(const std::string& bytes);

// The maker's Ed25519 signature (64 bytes) of the message with the private key in PEM; nullopt
// when the key is not an Ed25519 private key. Everything the maker publishes is signed by this.
std::optional<std::string> SignAsMaker(const std::string& message,
                                       const std::string& privateKeyPem);

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
