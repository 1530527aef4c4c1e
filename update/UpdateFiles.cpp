#include "update/UpdateFiles.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>

#include "platform/program/GX_COM.h"
#include "platform/text/Hex.h"
#include "update/BuildFile.h"

namespace gx {

namespace {

std::string WithSeparator(std::string folder) {
    if (folder.empty() || folder.back() != kPathSeparator) {
        folder += kPathSeparator;
    }
    return folder;
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

// A folder of this user's alone: created with mode 0700 when missing; an existing one must be a
// real folder (not a link) that this user owns, and loses any rights of others.
bool EnsurePrivateFolder(const std::string& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    struct stat status;
    if (::lstat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_uid != ::geteuid()) {
        return false;
    }
    return (status.st_mode & 0077) == 0 || ::chmod(folder.c_str(), 0700) == 0;
}

std::string UserCacheFolder() {
    const std::string cache = Environment("XDG_CACHE_HOME");
    if (!cache.empty() && cache.front() == kPathSeparator) {
        return WithSeparator(cache);
    }
    const std::string home = Environment("HOME");
    if (home.empty()) {
        return {};
    }
    return WithSeparator(home) + ".cache/";
}

}  // namespace

std::string GetTempDirectory() {
    for (const char* variable : {"TMPDIR", "XDG_RUNTIME_DIR"}) {
        const std::string folder = Environment(variable);
        if (!folder.empty()) {
            return WithSeparator(folder);
        }
    }
    const std::string cache = UserCacheFolder();
    if (cache.empty()) {
        return kNoTempDirectory;
    }
    ::mkdir(cache.c_str(), 0700);  // an existing cache folder is the user's own business
    const std::string folder = cache + "gardalix-tmp";
    return EnsurePrivateFolder(folder) ? WithSeparator(folder) : std::string(kNoTempDirectory);
}

bool ForceDeleteFile(const std::string& path) {
    struct stat status;
    if (::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
        ::chmod(path.c_str(), (status.st_mode & 07777) | S_IWUSR);
    }
    return ::unlink(path.c_str()) == 0;
}

void DeleteOldInstallers(const std::string& programDir, const std::string& tempDir) {
    const std::string name = std::string(kOldInstallerName) + kExecutableSuffix;
    ::unlink((programDir + name).c_str());
    if (tempDir != kNoTempDirectory) {
        ::unlink((WithSeparator(tempDir) + name).c_str());
    }
}

std::unique_ptr<FileStream> CreateDownloadTarget(const std::string& path) {
    return FileStream::CreateNew(path);
}

std::optional<std::string> FileSha256Hex(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    bool ok = context != nullptr && EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1;
    std::array<char, 64 * 1024> buffer;
    while (ok) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        ok = EVP_DigestUpdate(context, buffer.data(), static_cast<std::size_t>(got)) == 1;
    }
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest;
    unsigned int digestLength = 0;
    ok = ok && EVP_DigestFinal_ex(context, digest.data(), &digestLength) == 1;
    EVP_MD_CTX_free(context);
    ::close(fd);
    if (!ok) {
        return std::nullopt;
    }
    return LowerHex(digest.data(), digestLength);
}

bool FileMatchesSha256(const std::string& path, std::string_view expectedHex) {
    const std::optional<std::string> actual = FileSha256Hex(path);
    if (!actual || expectedHex.size() != actual->size()) {
        return false;
    }
    for (std::size_t i = 0; i < expectedHex.size(); ++i) {
        const char c = expectedHex[i];
        const char lower = (c >= 'A' && c <= 'F') ? static_cast<char>(c - 'A' + 'a') : c;
        if (lower != (*actual)[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace gx
