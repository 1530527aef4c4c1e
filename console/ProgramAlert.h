// The alert for a program that is not a browser: a browser that follows a bad link is an
// everyday event, but another program that asks for a listed malicious address is the sign of
// an infected machine, so the console warns the user in a tray balloon.
//
// Known browsers are recognised by the name of their executable (the last part of its path,
// letter case ignored), from this table:
//
//   firefox, firefox-esr, firefox-bin, librewolf, waterfox, floorp, seamonkey  (Gecko family)
//   chromium, chromium-browser, chrome, google-chrome, google-chrome-stable,
//   brave, brave-browser, msedge, microsoft-edge, opera, vivaldi, vivaldi-bin  (Chromium family)
//   epiphany, epiphany-browser, falkon, konqueror, midori, qutebrowser          (others)
//   webkitnetworkprocess, qtwebengineprocess  (the helpers through which Epiphany, Falkon and
//   Konqueror send their requests)
//
// An adult-site block never alerts (any program may show such a page), nor does a block whose
// program is unknown (the connection came from another machine, or its process had ended). At
// most one alert per program (its full path) per hour.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "engine/GX_Main.h"

namespace gx {

// True when the executable's name is in the table of browsers.
bool IsKnownBrowser(std::string_view programPath);

// Decides which blocks alert. Safe to call from several threads.
class ProgramAlerts {
  public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    static constexpr std::chrono::hours kQuietPeriod{1};

    explicit ProgramAlerts(Clock now = &std::chrono::steady_clock::now);

    // True when this block alerts; it then starts the program's quiet hour.
    bool ShouldAlert(const BlockEvent& block);

  private:
    static constexpr size_t kRemembered = 1024;  // programs; older hours are dropped beyond it
    Clock now_;
    std::mutex mutex_;
    std::unordered_map<std::string, std::chrono::steady_clock::time_point> lastAlert_;
};

// The balloon's French title and text (UTF-8) for a block.
std::string ProgramAlertTitle();
std::string ProgramAlertText(const BlockEvent& block);

}  // namespace gx
