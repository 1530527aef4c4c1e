#include "http/Streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace gx {

bool MemoryStream::Seek(std::int64_t position) {
    if (position < 0) {
        return false;
    }
    fPosition = position;
    return true;
}

bool MemoryStream::Write(const char* data, std::size_t length) {
    const auto position = static_cast<std::size_t>(fPosition);
    if (fData.size() < position + length) {
        fData.resize(position + length);
    }
    fData.replace(position, length, data, length);
    fPosition += static_cast<std::int64_t>(length);
    return true;
}

bool MemoryStream::SetSize(std::int64_t size) {
    if (size < 0) {
        return false;
    }
    fData.resize(static_cast<std::size_t>(size));
    if (fPosition > size) {
        fPosition = size;
    }
    return true;
}

void MemoryStream::Clear() {
    fData.clear();
    fPosition = 0;
}

std::unique_ptr<FileStream> FileStream::Create(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return nullptr;
    }
    return std::unique_ptr<FileStream>(new FileStream(fd));
}

std::unique_ptr<FileStream> FileStream::CreateNew(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return nullptr;
    }
    return std::unique_ptr<FileStream>(new FileStream(fd));
}

FileStream::~FileStream() {
    ::close(fFd);
}

std::int64_t FileStream::Size() const {
    struct stat status;
    return ::fstat(fFd, &status) == 0 ? static_cast<std::int64_t>(status.st_size) : 0;
}

bool FileStream::Seek(std::int64_t position) {
    if (position < 0) {
        return false;
    }
    fPosition = position;
    return true;
}

bool FileStream::Write(const char* data, std::size_t length) {
    while (length > 0) {
        const ssize_t written = ::pwrite(fFd, data, length, static_cast<off_t>(fPosition));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        data += written;
        length -= static_cast<std::size_t>(written);
        fPosition += written;
    }
    return true;
}

bool FileStream::SetSize(std::int64_t size) {
    if (size < 0 || ::ftruncate(fFd, static_cast<off_t>(size)) != 0) {
        return false;
    }
    if (fPosition > size) {
        fPosition = size;
    }
    return true;
}

}  // namespace gx
