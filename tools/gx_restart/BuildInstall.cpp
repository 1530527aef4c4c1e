#include "BuildInstall.h"
#include "platform/program/FdText.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace gx {

namespace {

bool WriteEntry(const std::string& root, const ArchiveEntry& entry) {
    const std::string path = root + "/" + entry.path;
    switch (entry.kind) {
        case EntryKind::Folder:
            // The owner keeps the right to write in it, or the next update could not replace it.
            return ::mkdir(path.c_str(), 0700) == 0 &&
                   ::chmod(path.c_str(), (entry.mode & 07777) | S_IRWXU) == 0;
        case EntryKind::Link:
            return ::symlink(entry.data.c_str(), path.c_str()) == 0;
        case EntryKind::File: {
            const int fd =
                ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (fd < 0) {
                return false;
            }
            bool written = WriteAll(fd, entry.data) &&
                           ::fchmod(fd, (entry.mode & 0777) | S_IRUSR | S_IWUSR) == 0;
            written = ::fsync(fd) == 0 && written;
            return ::close(fd) == 0 && written;
        }
    }
    return false;
}

bool Exists(const std::string& path) {
    struct stat status;
    return ::lstat(path.c_str(), &status) == 0;
}

// Exchanges two names at once, where the file system can.
bool Exchange(const std::string& a, const std::string& b) {
    return ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0;
}

}  // namespace

std::optional<std::string> ReadBuildFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat status;
    const std::uint64_t largest = kBuildHeaderSize + kMaxPayloadBytes + kBuildSignatureSize;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
        static_cast<std::uint64_t>(status.st_size) > largest) {
        ::close(fd);
        return std::nullopt;
    }
    std::string bytes;
    char chunk[64 * 1024];
    while (true) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0 || bytes.size() + static_cast<std::size_t>(got) > largest) {
            ::close(fd);
            return got == 0 ? std::optional<std::string>(std::move(bytes)) : std::nullopt;
        }
        bytes.append(chunk, static_cast<std::size_t>(got));
    }
}

InstallPaths PathsOf(const std::string& programDirWithSeparator) {
    InstallPaths paths;
    paths.programDir = programDirWithSeparator;
    while (paths.programDir.size() > 1 && paths.programDir.back() == '/') {
        paths.programDir.pop_back();
    }
    paths.previousDir = paths.programDir + ".previous";
    const std::size_t slash = paths.programDir.rfind('/');
    paths.parentDir =
        slash == 0 || slash == std::string::npos ? "/" : paths.programDir.substr(0, slash);
    return paths;
}

bool CanReplace(const InstallPaths& paths) {
    return ::access(paths.programDir.c_str(), W_OK) == 0 &&
           ::access(paths.parentDir.c_str(), W_OK) == 0;
}

std::optional<std::string> UnpackBeside(const InstallPaths& paths,
                                        const std::vector<ArchiveEntry>& entries) {
    const std::size_t slash = paths.programDir.rfind('/');
    std::string folder =
        paths.parentDir + "/." + paths.programDir.substr(slash + 1) + ".new-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) {
        return std::nullopt;
    }
    struct stat current;
    const mode_t mode = ::stat(paths.programDir.c_str(), &current) == 0
                            ? (current.st_mode & 07777) | S_IRWXU
                            : 0755;
    bool written = ::chmod(folder.c_str(), mode) == 0;
    for (const ArchiveEntry& entry : entries) {
        if (!written) {
            break;
        }
        written = WriteEntry(folder, entry);
    }
    if (!written) {
        RemoveTree(folder);
        return std::nullopt;
    }
    return folder;
}

bool SwapIn(const InstallPaths& paths, const std::string& unpackedDir) {
    if (Exists(paths.previousDir)) {
        RemoveTree(paths.previousDir);
    }
    if (Exists(paths.previousDir)) {
        return false;
    }
    if (Exchange(unpackedDir, paths.programDir)) {
        // The unpacked folder's name now holds the old program directory.
        if (::rename(unpackedDir.c_str(), paths.previousDir.c_str()) == 0) {
            return true;
        }
        Exchange(unpackedDir, paths.programDir);  // the old directory back in its place
        return false;
    }
    // Without an atomic exchange, two renames: the program directory is missing in between.
    if (::rename(paths.programDir.c_str(), paths.previousDir.c_str()) != 0) {
        return false;
    }
    if (::rename(unpackedDir.c_str(), paths.programDir.c_str()) != 0) {
        ::rename(paths.previousDir.c_str(), paths.programDir.c_str());
        return false;
    }
    return true;
}

bool SwapBack(const InstallPaths& paths) {
    if (!Exchange(paths.previousDir, paths.programDir)) {
        const std::string failed = paths.programDir + ".failed";
        RemoveTree(failed);
        if (::rename(paths.programDir.c_str(), failed.c_str()) != 0 ||
            ::rename(paths.previousDir.c_str(), paths.programDir.c_str()) != 0) {
            return false;
        }
        RemoveTree(failed);
        return true;
    }
    // previousDir now holds the build that failed.
    RemoveTree(paths.previousDir);
    return true;
}

void RemoveTree(const std::string& path) {
    std::error_code error;
    std::filesystem::remove_all(path, error);  // removes links, never what they point to
}

}  // namespace gx
