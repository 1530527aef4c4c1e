#include "lists/ListFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace gx {
namespace {

// Reads in blocks of about a megabyte: a list of a million records is read at the disk's pace.
constexpr size_t kBlockBytes = 1 << 20;

// Reads exactly `size` bytes at `offset` unless the file ends first; -1 on a read error.
ssize_t ReadAt(int fd, char* buffer, size_t size, off_t offset) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n =
            ::pread(fd, buffer + done, size - done, offset + static_cast<off_t>(done));
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

ListFile::~ListFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool ListFile::Open(const std::string& path, size_t recordSize) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd_ < 0 || ::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    recordSize_ = recordSize;
    recordCount_ = static_cast<size_t>(info.st_size) / recordSize;
    return true;
}

bool ListFile::ReadBlocks(size_t first, size_t count,
                          const std::function<void(std::span<char> records)>& onBlock) const {
    const size_t blockRecords = std::max<size_t>(1, kBlockBytes / recordSize_);
    std::vector<char> block(std::min(count, blockRecords) * recordSize_);
    size_t next = first;
    const size_t end = first + count;
    while (next < end) {
        const size_t wanted = std::min(end - next, blockRecords);
        const ssize_t got =
            ReadAt(fd_, block.data(), wanted * recordSize_, static_cast<off_t>(next * recordSize_));
        if (got < 0) {
            return false;
        }
        const size_t records = static_cast<size_t>(got) / recordSize_;
        onBlock({block.data(), records * recordSize_});
        if (records < wanted) {
            return false;  // the file shrank while it was read
        }
        next += records;
    }
    return true;
}

bool ReadListRecords(const std::string& path, size_t recordSize,
                     const std::function<void(size_t recordCount)>& onRecordCount,
                     const std::function<void(std::string_view entry)>& onEntry) {
    ListFile file;
    if (!file.Open(path, recordSize)) {
        return false;
    }
    onRecordCount(file.RecordCount());
    return file.ReadBlocks(0, file.RecordCount(), [&](std::span<char> records) {
        for (size_t offset = 0; offset < records.size(); offset += recordSize) {
            onEntry(UnscrambleRecord(records.subspan(offset, recordSize)));
        }
    });
}

}  // namespace gx
