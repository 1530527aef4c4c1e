// Where the machine's trust store takes the root of this installation: the file
// gardalix-root.crt in the folder that update-ca-certificates reads the local authorities from,
// /usr/local/share/ca-certificates. GARDALIX_CA_DIR names another folder (the tests use a
// temporary one). `gx-driver trust` writes the file, `gx-driver untrust` removes it; the console
// reads it to know whether an undo needs the administrator.
#pragma once

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/tls/CertificateBuilder.h"

namespace gx::tls {

inline constexpr char kSystemStoreFolder[] = "/usr/local/share/ca-certificates";
inline constexpr char kSystemStoreFolderVariable[] = "GARDALIX_CA_DIR";
inline constexpr char kSystemStoreFileName[] = "gardalix-root.crt";

inline std::string SystemStoreFolder() {
    const char* configured = std::getenv(kSystemStoreFolderVariable);
    return configured != nullptr && configured[0] != '\0' ? std::string(configured)
                                                          : std::string(kSystemStoreFolder);
}

inline std::string SystemStoreCertificatePath() {
    return SystemStoreFolder() + "/" + kSystemStoreFileName;
}

// True when the store's file holds the certificate with this fingerprint.
inline bool SystemStoreHolds(const std::string& fingerprint) {
    std::ifstream in(SystemStoreCertificatePath(), std::ios::binary);
    if (!in || fingerprint.empty()) {
        return false;
    }
    std::ostringstream pem;
    pem << in.rdbuf();
    X509Handle certificate = CertificateFromPem(pem.str());
    return certificate && Fingerprint(certificate.get()) == fingerprint;
}

// True when the store holds a file of ours, whichever root it names.
inline bool SystemStoreHasOurFile() {
    std::ifstream in(SystemStoreCertificatePath());
    return static_cast<bool>(in);
}

}  // namespace gx::tls
