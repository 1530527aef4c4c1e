#include "lists/ListFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace gx {
namespace {

// Reads in large blocks: a list of a million records is read at the disk's pace.
constexpr size_t kReadBlockRecords = 4096;

// Reads exactly `size` bytes unless the file ends first; -1 on a read error.
ssize_t ReadFully(int fd, char* buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, buffer + done, size - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

}  // namespace

std::string_view UnscrambleRecord(std::span<char> record) {
    if (record.empty()) {
        return {};
    }
    const size_t length = static_cast<unsigned char>(record[0]);
    const size_t kept = length < record.size() - 1 ? length : record.size() - 1;
    char* chars = record.data() + 1;
    for (size_t i = 0; i < kept; ++i) {
        chars[i] = static_cast<char>(chars[i] ^ kListKey);
    }
    return {chars, kept};
}

std::string ScrambleRecord(std::string_view entry, size_t recordSize) {
    std::string record(recordSize, '\0');
    record[0] = static_cast<char>(entry.size());
    for (size_t i = 0; i < entry.size() && i + 1 < recordSize; ++i) {
        record[i + 1] = static_cast<char>(entry[i] ^ kListKey);
    }
    return record;
}

bool ReadListRecords(const std::string& path, size_t recordSize,
                     const std::function<void(size_t recordCount)>& onRecordCount,
                     const std::function<void(std::string_view entry)>& onEntry) {
    // Read-only: the lists belong to the installation (root-owned, read-only on Linux), and the
    // program never writes them.
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        return false;
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    size_t remaining = RecordCount(static_cast<size_t>(info.st_size), recordSize);
    onRecordCount(remaining);
    std::vector<char> block(recordSize * kReadBlockRecords);
    while (remaining > 0) {
        const size_t wanted = std::min(remaining, kReadBlockRecords);
        const ssize_t got = ReadFully(file.get(), block.data(), wanted * recordSize);
        if (got < 0) {
            return false;
        }
        const size_t records = static_cast<size_t>(got) / recordSize;
        for (size_t i = 0; i < records; ++i) {
            onEntry(UnscrambleRecord({block.data() + i * recordSize, recordSize}));
        }
        if (records < wanted) {
            return false;  // the file shrank while it was read
        }
        remaining -= records;
    }
    return true;
}

}  // namespace gx
