// Headless Chromium as the tests' browser: a page loaded through the proxy, with a certificate
// database of its own that trusts one authority alone (the program's root), as a user's browser
// trusts it once `gx-driver trust` ran. The page's DOM once it has loaded is what the test
// reads (a page's script may write what it measured into it).
#pragma once

#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

#include "support/RunCommand.h"
#include "support/TempFolder.h"

namespace gx::testing {

inline constexpr char kChromium[] = "/usr/bin/chromium";
inline constexpr char kCertutil[] = "/usr/bin/certutil";

// Why no browser test can run here; empty when one can.
inline std::string BrowserMissing() {
    if (::access(kChromium, X_OK) != 0) {
        return "chromium is not installed (./gx setup installs it)";
    }
    if (::access(kCertutil, X_OK) != 0) {
        return "certutil is not installed (./gx setup installs libnss3-tools)";
    }
    return {};
}

class HeadlessBrowser {
  public:
    // Trusts the authority whose PEM certificate is at `authorityPem`, and nothing else.
    explicit HeadlessBrowser(const std::string& authorityPem) {
        const std::filesystem::path nss = home_.Path() / ".pki/nssdb";
        std::filesystem::create_directories(nss);
        const std::string db = "sql:" + nss.string();
        RunCommand(std::string(kCertutil) + " -N -d " + db + " --empty-password");
        RunCommand(std::string(kCertutil) + " -A -n gardalix-test-root -t 'C,,' -i '" +
                   authorityPem + "' -d " + db);
    }

    // The DOM of the page at `url` loaded through the proxy on 127.0.0.1:proxyPort (loopback
    // addresses included), nullopt when the browser did not run.
    std::optional<std::string> Load(const std::string& url, uint16_t proxyPort) {
        const std::string profile =
            (home_.Path() / ("profile-" + std::to_string(++loads_))).string();
        const CommandRun run = RunCommand(
            "HOME='" + home_.Path().string() + "' timeout 90 " + kChromium +
            " --headless=new --no-sandbox --disable-gpu --no-first-run --disable-extensions"
            " --user-data-dir='" +
            profile + "' --proxy-server=http://127.0.0.1:" + std::to_string(proxyPort) +
            " --proxy-bypass-list='<-loopback>' --dump-dom '" + url + "' 2>/dev/null");
        if (run.status == 124 || run.status == 127) {
            return std::nullopt;
        }
        return run.output;
    }

  private:
    TempFolder home_;
    int loads_ = 0;
};

}  // namespace gx::testing
