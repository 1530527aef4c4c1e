// Running the outside programs that install a root's trust (update-ca-certificates, certutil),
// without a shell.
#pragma once

#include <string>
#include <vector>

namespace gx {

struct CommandResult {
    bool ran = false;    // the program was started
    int status = -1;     // its exit status, -1 when it did not exit normally
    std::string output;  // what it wrote (standard output and error), or why it could not run
    bool ok() const { return ran && status == 0; }
};

// Runs `program ARGUMENTS...` (a path, or a name looked up in PATH).
CommandResult RunProgram(const std::string& program, const std::vector<std::string>& arguments);

// The program named by the environment variable when it is set, else the first of the
// candidates that can be run, else "" (none found).
std::string FindProgram(const char* variable, const std::vector<std::string>& candidates);

}  // namespace gx
