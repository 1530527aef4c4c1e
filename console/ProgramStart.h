// The program's start: one running copy, the hand-off of a second launch, the Qt application,
// the console, and the message loop.
#pragma once

#include <string>

namespace gx {

// The whole program; returns the process's exit status. `gardalix --history` only prints the
// history (HistoryLines) on stdout and ends, whether or not another copy runs.
int RunGardalix(int argc, char** argv);

// The history as `gardalix --history` prints it: one line per entry, in the store's order, with
// four tab-separated fields: date, address, reason, program (empty when unknown). UTF-8; a tab
// or a line break inside a field is written as a blank, so that every entry stays one line.
std::string HistoryLines();

// When the program runs with privileges that its caller lacks (the capability that the driver
// installation grants it), forgets the environment variables through which the caller could
// make Qt load code of the caller's choosing (plugin and import paths, and every other QT_ and
// QML setting), so that nobody borrows those privileges. Does nothing otherwise.
void ForgetCallersQtSettings(bool privileged);

// True when the kernel started this process in secure mode (it gained privileges at exec).
bool StartedWithRaisedPrivileges();

// True when neither DISPLAY nor WAYLAND_DISPLAY names a display.
bool NoDisplay();

// Loads Qt's own French texts ("Oui", "Non", "Annuler" on standard buttons) into the running
// application. False when the translation files are not installed.
bool InstallFrenchTranslations();

}  // namespace gx
