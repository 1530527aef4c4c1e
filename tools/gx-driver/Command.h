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

// Runs `program ARGUMENTS...` (a path, or a name looked up in PATH), with `input` on its
// standard input (nothing when empty). The input is written whole before the output is read:
// keep it under a pipe's buffer (a ruleset, a certificate).
CommandResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& input = "");

// The program named by the environment variable when it is set, else the first of the
// candidates that can be run, else "" (none found).
std::string FindProgram(const char* variable, const std::vector<std::string>& candidates);

}  // namespace gx
