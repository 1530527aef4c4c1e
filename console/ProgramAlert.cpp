#include "console/ProgramAlert.h"

#include <algorithm>
#include <array>

#include "console/ConsoleTexts.h"
#include "engine/RequestVerdict.h"
#include "platform/codepage/Cp1252.h"
#include "platform/text/AsciiText.h"

namespace gx {
namespace {

constexpr std::array<std::string_view, 28> kBrowserExecutables = {"firefox",
                                                                  "firefox-esr",
                                                                  "firefox-bin",
                                                                  "librewolf",
                                                                  "waterfox",
                                                                  "floorp",
                                                                  "seamonkey",
                                                                  "chromium",
                                                                  "chromium-browser",
                                                                  "chrome",
                                                                  "google-chrome",
                                                                  "google-chrome-stable",
                                                                  "brave",
                                                                  "brave-browser",
                                                                  "msedge",
                                                                  "microsoft-edge",
                                                                  "opera",
                                                                  "vivaldi",
                                                                  "vivaldi-bin",
                                                                  "epiphany",
                                                                  "epiphany-browser",
                                                                  "falkon",
                                                                  "konqueror",
                                                                  "midori",
                                                                  "qutebrowser",
                                                                  "webkitnetworkprocess",
                                                                  "qtwebengineprocess",
                                                                  "microsoft-edge-stable"};

std::string_view ExecutableName(std::string_view path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool IsKnownBrowser(std::string_view programPath) {
    const std::string name = ascii::Lower(ExecutableName(programPath));
    return std::find(kBrowserExecutables.begin(), kBrowserExecutables.end(), name) !=
           kBrowserExecutables.end();
}

ProgramAlerts::ProgramAlerts(Clock now) : now_(std::move(now)) {}

bool ProgramAlerts::ShouldAlert(const BlockEvent& block) {
    if (block.reason == kReasonAdult || block.program.empty() || IsKnownBrowser(block.program))
        return false;
    const auto now = now_();
    std::lock_guard lock(mutex_);
    if (auto found = lastAlert_.find(block.program); found != lastAlert_.end()) {
        if (now - found->second < kQuietPeriod)
            return false;
        found->second = now;
        return true;
    }
    if (lastAlert_.size() >= kRemembered) {
        std::erase_if(lastAlert_,
                      [&](const auto& entry) { return now - entry.second >= kQuietPeriod; });
        if (lastAlert_.size() >= kRemembered)
            return false;  // a thousand programs alerting within the hour: the user knows by now
    }
    lastAlert_.emplace(block.program, now);
    return true;
}

std::string ProgramAlertTitle() {
    return text::kProgramAlertTitle;
}

std::string ProgramAlertText(const BlockEvent& block) {
    std::string program = Cp1252ToUtf8(block.program);
    if (block.processId != 0)
        program += " (processus " + std::to_string(block.processId) + ")";
    return std::string(text::kProgramAlertLead) + program + text::kProgramAlertMiddle +
           Cp1252ToUtf8(block.url) + " (" + Cp1252ToUtf8(block.reason) + ").\n" +
           text::kProgramAlertAdvice;
}

}  // namespace gx
