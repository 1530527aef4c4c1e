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
    // addresses included; 0: directly), in a fresh profile (nothing cached), nullopt when the
    // browser did not run. The browser's own traffic (updates, reports, background checks) is
    // switched off: it asks for the test's pages alone.
    std::optional<std::string> Load(const std::string& url, uint16_t proxyPort) {
        const std::filesystem::path profile =
            home_.Path() / ("profile-" + std::to_string(++loads_));
        std::string command = "HOME='" + home_.Path().string() + "' timeout 90 " + kChromium +
                              " --headless=new --no-sandbox --disable-gpu --no-first-run"
                              " --disable-extensions --disable-background-networking"
                              " --disable-component-update --disable-sync --no-pings"
                              " --disable-domain-reliability --disable-breakpad"
                              " --disable-client-side-phishing-detection --user-data-dir='" +
                              profile.string() + "' ";
        if (proxyPort != 0) {
            command += "--proxy-server=http://127.0.0.1:" + std::to_string(proxyPort) +
                       " --proxy-bypass-list='<-loopback>' ";
        }
        const CommandRun run = RunCommand(command + "--dump-dom '" + url + "' 2>/dev/null");
        std::error_code ignored;
        std::filesystem::remove_all(profile, ignored);
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
