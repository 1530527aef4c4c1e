// Whether HTTPS interception is switched on for this user: the file "https-enabled" in the
// interception library's data folder, beside the root, holding the fingerprint of the root that
// was made trusted (by `gx-driver trust`). Interception runs only while the file names the root
// in use: a root made anew (a damaged one set aside) is not trusted by anyone yet, so nothing
// is intercepted until its trust is installed again.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

namespace gx::tls {

inline constexpr char kTrustMarkerFile[] = "https-enabled";

// Records that the root with this fingerprint is trusted. False when the file cannot be written.
bool WriteTrustMarker(const std::string& folder, const std::string& fingerprint);
// Removes the record; harmless when there is none.
void RemoveTrustMarker(const std::string& folder);
// True when the folder's record names this fingerprint.
bool TrustMarkerNames(const std::string& folder, const std::string& fingerprint);

// The marker as the proxy's threads ask about it, for every TLS connection: the file is looked
// at again at most once a second, so switching interception on or off takes effect in a running
// program without a restart.
class TrustState {
  public:
    TrustState(std::string folder, std::string fingerprint)
        : folder_(std::move(folder)), fingerprint_(std::move(fingerprint)) {}
    bool Enabled();

  private:
    const std::string folder_;
    const std::string fingerprint_;
    std::mutex mutex_;
    std::chrono::steady_clock::time_point checkedAt_{};
    bool enabled_ = false;
};

}  // namespace gx::tls
