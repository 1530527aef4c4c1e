// The root certificate authority of this installation: a key made on this machine, never
// shipped and never shared, and its self-signed certificate, kept in the interception
// library's data folder:
//   root-ca.key   the private key (PEM, mode 0600)
//   root-ca.pem   the certificate (PEM), for the user and the tools that install its trust
// Both are written to a temporary file first and renamed into place, the key before the
// certificate, so that a crash never leaves half a key. A pair that cannot be read, that does
// not belong together or whose subject is another one is set aside (renamed with a
// ".damaged-YYYYMMDD-HHMMSS" suffix) and a new root is made.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/program/OpenSslHandles.h"

namespace gx::tls {

inline constexpr char kRootKeyFile[] = "root-ca.key";
inline constexpr char kRootCertificateFile[] = "root-ca.pem";

struct RootAuthority {
    std::shared_ptr<EVP_PKEY> key;
    std::shared_ptr<X509> certificate;
    std::string fingerprint;      // SHA-256 of the certificate, lower-case hex
    std::string certificatePath;  // folder + "/" + kRootCertificateFile
};

// The root kept in `folder` (created with mode 0700 when missing), made on first use with the
// subject's text as its common name, valid for 10 years. `notice` receives a French line when
// a damaged root was set aside. nullopt when no root can be read or written there.
std::optional<RootAuthority> LoadOrCreateRoot(const std::string& folder, const std::string& subject,
                                              std::string* notice = nullptr);

// The root kept in `folder`, without making one; nullopt when there is none usable.
std::optional<RootAuthority> LoadRoot(const std::string& folder, const std::string& subject);

// Writes `contents` to `path` through a temporary file in the same folder, with `mode`, synced,
// then renamed over the path. False (and nothing changed) on any failure.
bool WriteFileAtomically(const std::string& path, const std::string& contents, unsigned mode);

}  // namespace gx::tls
