#include "platform/tls/TrustMarker.h"

#include <unistd.h>

#include <fstream>

#include "platform/tls/RootAuthority.h"

namespace gx::tls {

bool WriteTrustMarker(const std::string& folder, const std::string& fingerprint) {
    return WriteFileAtomically(folder + "/" + kTrustMarkerFile, fingerprint + "\n", 0644);
}

void RemoveTrustMarker(const std::string& folder) {
    ::unlink((folder + "/" + kTrustMarkerFile).c_str());
}

bool TrustMarkerNames(const std::string& folder, const std::string& fingerprint) {
    std::ifstream in(folder + "/" + kTrustMarkerFile);
    std::string line;
    return !fingerprint.empty() && std::getline(in, line) && line == fingerprint;
}

bool TrustState::Enabled() {
    auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex_);
    if (checkedAt_ == std::chrono::steady_clock::time_point{} ||
        now - checkedAt_ >= std::chrono::seconds(1)) {
        enabled_ = TrustMarkerNames(folder_, fingerprint_);
        checkedAt_ = now;
    }
    return enabled_;
}

}  // namespace gx::tls
