#include "tools/gx-driver/Command.h"
#include "platform/program/FdText.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace gx {
namespace {

// The child's exit status when the program could not be started at all.
constexpr int kCannotRun = 127;

bool Runnable(const std::string& path) {
    return ::access(path.c_str(), X_OK) == 0;
}

// `name` looked up in PATH, or "".
std::string InPath(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return Runnable(name) ? name : "";
    }
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= folders.size()) {
        const size_t end = std::min(folders.find(':', start), folders.size());
        const std::string folder = folders.substr(start, end - start);
        if (!folder.empty() && Runnable(folder + "/" + name)) {
            return folder + "/" + name;
        }
        start = end + 1;
    }
    return "";
}

}  // namespace

std::string FindProgram(const char* variable, const std::vector<std::string>& candidates) {
    if (const char* configured = std::getenv(variable); configured && configured[0] != '\0') {
        return configured;
    }
    for (const std::string& candidate : candidates) {
        if (std::string found = InPath(candidate); !found.empty()) {
            return found;
        }
    }
    return "";
}

CommandResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& input) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    int toChild[2] = {-1, -1};
    int fromChild[2];
    if (::pipe2(fromChild, O_CLOEXEC) != 0) {
        return {false, -1, std::string("pipe : ") + std::strerror(errno)};
    }
    if (!input.empty() && ::pipe2(toChild, O_CLOEXEC) != 0) {
        ::close(fromChild[0]);
        ::close(fromChild[1]);
        return {false, -1, std::string("pipe : ") + std::strerror(errno)};
    }
    const pid_t child = ::fork();
    if (child == 0) {
        const int in = input.empty() ? ::open("/dev/null", O_RDONLY) : toChild[0];
        ::dup2(in, STDIN_FILENO);
        ::dup2(fromChild[1], STDOUT_FILENO);
        ::dup2(fromChild[1], STDERR_FILENO);
        ::execvp(argv[0], argv.data());
        const std::string message =
            std::string("impossible de lancer ") + argv[0] + " : " + std::strerror(errno) + "\n";
        [[maybe_unused]] auto ignored = ::write(STDERR_FILENO, message.data(), message.size());
        ::_exit(kCannotRun);
    }
    ::close(fromChild[1]);
    if (!input.empty()) {
        ::close(toChild[0]);
    }
    if (child < 0) {
        ::close(fromChild[0]);
        if (!input.empty()) {
            ::close(toChild[1]);
        }
        return {false, -1, std::string("fork : ") + std::strerror(errno)};
    }
    if (!input.empty()) {
        const auto oldPipeHandler = ::signal(SIGPIPE, SIG_IGN);  // a child that does not read
        WriteAll(toChild[1], input);
        ::close(toChild[1]);
        ::signal(SIGPIPE, oldPipeHandler);
    }
    CommandResult result;
    result.output = ReadAll(fromChild[0]);
    ::close(fromChild[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.ran = result.status != kCannotRun;
    return result;
}

}  // namespace gx
