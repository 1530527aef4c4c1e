// Runs a command line through the shell as a user would, collecting what it prints.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace gx::testing {

struct CommandRun {
    int status = -1;     // exit status, -1 when it did not exit normally
    std::string output;  // standard output and error together
};

inline CommandRun RunCommand(const std::string& command) {
    CommandRun run;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) {
        return run;
    }
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        run.output.append(buffer.data(), n);
    }
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

}  // namespace gx::testing
