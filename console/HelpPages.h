// The help: French HTML pages beside the program, one per help context, opened in the user's
// browser. Context 1 is the user guide, context 7 the page about the program.
#pragma once

#include <string>

namespace gx {

inline constexpr int kHelpContextGuide = 1;
inline constexpr int kHelpContextAbout = 7;

// ProgramDir() + "help/".
std::string DefaultHelpFolder();

// folder + "gardalix-<context>.html".
std::string HelpPagePath(const std::string& folder, int context);

// Opens the page of that context in the browser. A missing page opens nothing and shows nothing;
// the browser's own result is not looked at.
void OpenHelpPage(const std::string& folder, int context);

}  // namespace gx
