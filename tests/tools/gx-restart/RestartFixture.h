// A program directory of a test's own, with the real restart program in it, and everything
// around it that the restart program uses: the user's temporary folder, the runtime folder of
// the single-instance lock, the registry hive's folder (and so the log). The "program" is a
// small script that records its start and then holds the instance lock, as the real one does.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/RunCommand.h"
#include "support/TempFolder.h"
#include "tools/gx_restart/InstanceWatch.h"

namespace gx::testing {

namespace fs = std::filesystem;

inline std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void WriteText(const fs::path& path, const std::string& text, fs::perms mode) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    fs::permissions(path, mode);
}

// Every entry below a folder: kind, permissions and content (a link's target), by path.
inline std::map<std::string, std::string> Snapshot(const fs::path& folder) {
    std::map<std::string, std::string> entries;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        const fs::path& path = it->path();
        struct stat status;
        ::lstat(path.c_str(), &status);
        std::string description = std::to_string(status.st_mode) + " ";
        if (S_ISLNK(status.st_mode)) {
            description += "-> " + fs::read_symlink(path).string();
        } else if (S_ISREG(status.st_mode)) {
            description += ReadText(path);
        }
        entries[fs::relative(path, folder).string()] = description;
    }
    return entries;
}

struct ProcessRun {
    int status = -1;  // exit status; -1 when killed or out of time
    std::string errors;
};

// A program started from the given environment, its standard error kept, waited for at most
// `limit`; run as another user when uid is not -1 (the test runs as root then).
inline ProcessRun RunProgram(const std::string& program, const std::string& folder,
                             const std::vector<std::string>& environment, const fs::path& errors,
                             uid_t uid = static_cast<uid_t>(-1),
                             std::chrono::seconds limit = std::chrono::seconds(120)) {
    std::vector<char*> envp;
    for (const std::string& entry : environment) {
        envp.push_back(const_cast<char*>(entry.c_str()));
    }
    envp.push_back(nullptr);
    const int errorFd = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    ::fchmod(errorFd, 0666);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(errorFd, 2);
        const int nothing = ::open("/dev/null", O_RDWR);
        ::dup2(nothing, 0);
        ::dup2(nothing, 1);
        if (uid != static_cast<uid_t>(-1) && (::setgid(uid) != 0 || ::setuid(uid) != 0)) {
            ::_exit(126);
        }
        if (::chdir(folder.c_str()) != 0) {
            ::_exit(126);
        }
        ::execle(program.c_str(), program.c_str(), static_cast<char*>(nullptr), envp.data());
        ::_exit(127);
    }
    ::close(errorFd);
    ProcessRun run;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            run.errors = ReadText(errors);
            return run;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.errors = ReadText(errors);
    return run;
}

// Waits, polling, at most `limit`, for a condition.
template <typename Condition>
bool WaitFor(Condition condition, std::chrono::seconds limit = std::chrono::seconds(60)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// Whether a process has ended but not been reaped yet.
inline bool ProcessIsZombie(pid_t pid) {
    const std::string status = ReadText("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t close = status.rfind(')');
    return close != std::string::npos && close + 2 < status.size() && status[close + 2] == 'Z';
}

// The fake program: records "<version> <pid> <folder>" in marks/started, then holds the
// instance lock (through flock(1)) for up to two minutes. A broken one records and ends.
inline std::string ProgramScript(const std::string& version, bool broken = false) {
    std::string script =
        "#!/bin/sh\necho \"" + version + " $$ $(pwd)\" >> \"$GX_TEST_MARKS/started\"\n";
    script += broken ? "exit 3\n" : "exec flock -n \"$XDG_RUNTIME_DIR/Gardalix.lock\" sleep 120\n";
    return script;
}

class RestartFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::permissions(root(), fs::perms(0755));
        for (const char* folder : {"app", "tmp", "run", "hive", "marks", "keys", "builds"}) {
            fs::create_directory(root() / folder);
        }
        for (const char* folder : {"tmp", "run", "marks"}) {
            fs::permissions(root() / folder, fs::perms(0700));
        }
        MakeKey("test");
        const fs::path app = root() / "app";
        fs::copy_file(GX_RESTART_PROGRAM, app / "gx_restart");
        fs::copy_file(root() / "keys" / "test.pub", app / "gx_update.pub");
        WriteText(app / "gardalix", ProgramScript("1.5.0"), fs::perms(0755));
        WriteText(app / "notes.txt", "old notes\n", fs::perms(0644));
        fs::create_directory(app / "help");
        WriteText(app / "help" / "index.html", "<p>old</p>\n", fs::perms(0644));
    }

    void TearDown() override {
        StopPrograms();
        std::error_code ignored;
        fs::permissions(root() / "app", fs::perms(0755), ignored);
    }

    const fs::path& root() const { return folder_.Path(); }
    fs::path app() const { return root() / "app"; }
    fs::path buildFile() const { return root() / "tmp" / "gxsoft.dat"; }

    void MakeKey(const std::string& name) {
        const std::string keys = (root() / "keys").string();
        const CommandRun made = RunCommand("timeout 60 " GX_PUBLISH_PROGRAM " keygen " + keys +
                                           "/" + name + ".key " + keys + "/" + name + ".pub");
        ASSERT_EQ(made.status, 0) << made.output;
    }

    // A program directory for a build: the program script and a few files.
    fs::path MakeProgramDir(const std::string& name, const std::string& version,
                            bool broken = false) {
        const fs::path dir = root() / "builds" / name;
        fs::create_directories(dir / "help");
        WriteText(dir / "gardalix", ProgramScript(version, broken), fs::perms(0755));
        WriteText(dir / "notes.txt", "notes of " + version + "\n", fs::perms(0644));
        WriteText(dir / "help" / "index.html", "<p>" + version + "</p>\n", fs::perms(0644));
        fs::create_symlink("help/index.html", dir / "start.html");
        fs::copy_file(root() / "keys" / "test.pub", dir / "gx_update.pub");
        return dir;
    }

    // Packs a program directory with gx-publish into the given file.
    void Publish(const fs::path& dir, const std::string& version, const fs::path& output,
                 const std::string& key = "test") {
        const CommandRun built =
            RunCommand("timeout 60 " GX_PUBLISH_PROGRAM " build " + (root() / "keys").string() +
                       "/" + key + ".key " + version + " " + dir.string() + " " + output.string());
        ASSERT_EQ(built.status, 0) << built.output;
    }

    std::vector<std::string> Environment() const {
        return {"PATH=/usr/bin:/bin",
                "HOME=" + root().string(),
                "TMPDIR=" + (root() / "tmp").string(),
                "XDG_RUNTIME_DIR=" + (root() / "run").string(),
                "GARDALIX_REGISTRY=" + (root() / "hive" / "registry.db").string(),
                "GX_TEST_MARKS=" + (root() / "marks").string()};
    }

    ProcessRun RunRestart(uid_t uid = static_cast<uid_t>(-1)) {
        return RunProgram((app() / "gx_restart").string(), app().string(), Environment(),
                          root() / "restart-errors.txt", uid);
    }

    // The lines of marks/started: "<version> <pid> <folder>".
    std::vector<std::string> Started() const {
        std::vector<std::string> lines;
        std::istringstream in(ReadText(root() / "marks" / "started"));
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    // Waits until `count` starts are recorded and the last one holds the lock.
    bool WaitForRunningProgram(std::size_t count) {
        return WaitFor([&] { return Started().size() >= count && LockHeld(); });
    }

    // Read from /proc/locks, never by taking the lock: a probe could make a start fail.
    bool LockHeld() const { return SomeoneHoldsLock((root() / "run" / "Gardalix.lock").string()); }

    // Ends every recorded program (each leads its own session) and waits for the lock to free.
    void StopPrograms() {
        for (const pid_t copy : runningCopies_) {
            ::kill(-copy, SIGKILL);
            ::waitpid(copy, nullptr, 0);
        }
        runningCopies_.clear();
        for (const std::string& line : Started()) {
            std::istringstream fields(line);
            std::string version;
            pid_t pid = 0;
            fields >> version >> pid;
            if (pid > 1) {
                ::kill(-pid, SIGKILL);
            }
        }
        EXPECT_TRUE(WaitFor([&] { return !LockHeld(); }));
        std::error_code ignored;
        fs::remove(root() / "marks" / "started", ignored);
    }

    // A running copy of the program: holds the instance lock for `seconds`, in its own session.
    pid_t StartRunningCopy(int seconds) {
        const std::string lock = (root() / "run" / "Gardalix.lock").string();
        const std::string duration = std::to_string(seconds);
        const pid_t child = ::fork();
        if (child == 0) {
            ::setsid();
            ::execlp("flock", "flock", "-n", lock.c_str(), "sleep", duration.c_str(),
                     static_cast<char*>(nullptr));
            ::_exit(127);
        }
        runningCopies_.push_back(child);
        return child;
    }

    std::string Log() const { return ReadText(root() / "hive" / "gx_restart.log"); }

    // Names beside the program directory, but the folders of the fixture.
    std::vector<std::string> Neighbours() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(root())) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("app", 0) == 0 && name != "app") {
                names.push_back(name);
            }
            if (name.rfind(".app", 0) == 0) {
                names.push_back(name);
            }
        }
        return names;
    }

  private:
    TempFolder folder_;
    std::vector<pid_t> runningCopies_;
};

}  // namespace gx::testing
