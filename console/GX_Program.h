// The program's start: one running copy, the hand-off of a second launch, the Qt application,
// the console, and the message loop.
#pragma once

namespace gx {

// The whole program; returns the process's exit status.
int RunGardalix(int argc, char** argv);

// True when neither DISPLAY nor WAYLAND_DISPLAY names a display.
bool NoDisplay();

// Loads Qt's own French texts ("Oui", "Non", "Annuler" on standard buttons) into the running
// application. False when the translation files are not installed.
bool InstallFrenchTranslations();

}  // namespace gx
