// The program directory: the folder of the running executable, with one trailing separator.
// Files that the program keeps beside itself are opened as ProgramDir() plus the bare name.
#pragma once

#include <string>
#include <string_view>

namespace gx {

inline constexpr char kPathSeparator = '/';

// Executables carry this suffix on Windows; Linux names them without one.
#ifdef _WIN32
inline constexpr char kExecutableSuffix[] = ".exe";
#else
inline constexpr char kExecutableSuffix[] = "";
#endif

// Computed once, on first use, from /proc/self/exe (symbolic links resolved); never changes.
const std::string& ProgramDir();

// The folder part of an executable's full path: everything up to and including its last
// separator, with a separator appended when the result does not end in one.
std::string ProgramDirOf(std::string_view executablePath);

}  // namespace gx
