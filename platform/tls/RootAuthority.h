// The root certificate authority of this installation: a key made on this machine, never
// shipped and never shared, and its self-signed certificate, kept in the interception
// library's data folder:
//   root-ca.key   the private key (PEM, mode 0600)
//   root-ca.pem   the certificate (PEM), for the user and the tools that install its trust
// Both are written to a temporary file first and renamed into place, the key before the
// certificate, so that a crash never leaves half a key. A pair that cannot be read, that does
// not belong together is set aside (renamed with a ".damaged-YYYYMMDD-HHMMSS" suffix) and a new
// root is made; so is a sound pair whose common name is another one (a root made under a former
// name), with a ".renamed-..." suffix. Either way the new root must be trusted again.
//
// The root's subject says what it is and whose it is, for a person who opens a certificate
// viewer: the common name given (the program's "Gardalix Root CA"), the organisation "Gardalix"
// and as unit the account and machine it was made for ("camille@portable").
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/program/OpenSslHandles.h"

namespace gx::tls {

inline constexpr char kRootKeyFile[] = "root-ca.key";
inline constexpr char kRootCertificateFile[] = "root-ca.pem";
inline constexpr char kRootOrganization[] = "Gardalix";

struct RootAuthority {
    std::shared_ptr<EVP_PKEY> key;
    std::shared_ptr<X509> certificate;
    std::string fingerprint;      // SHA-256 of the certificate, lower-case hex
    std::string certificatePath;  // folder + "/" + kRootCertificateFile
};

// The root kept in `folder` (created with mode 0700 when missing), made on first use with the
// subject's text as its common name, valid for 10 years. `notice` receives a French line when
// a root was set aside (damaged, or made under another name). nullopt when no root can be read
// or written there.
std::optional<RootAuthority> LoadOrCreateRoot(const std::string& folder, const std::string& subject,
                                              std::string* notice = nullptr);

// The root kept in `folder`, without making one; nullopt when there is none usable.
std::optional<RootAuthority> LoadRoot(const std::string& folder, const std::string& subject);

// "account@machine" of the calling process, for the root's unit.
std::string AccountLabel();

// Writes `contents` to `path` through a temporary file in the same folder, with `mode`, synced,
// then renamed over the path. False (and nothing changed) on any failure.
bool WriteFileAtomically(const std::string& path, const std::string& contents, unsigned mode);

}  // namespace gx::tls
