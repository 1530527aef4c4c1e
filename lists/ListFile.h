// The scrambled list files beside the program: a plain sequence of fixed-size records, no header.
// Each record holds the entry's length L (one byte, not scrambled), then its L characters, each
// XOR kListKey, then filler up to the record size. A trailing partial record is ignored.
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace gx {

// The program's one-byte scrambling key; the loaders and the list tool share it.
inline constexpr unsigned char kListKey = 0x5A;

inline constexpr size_t kAdultRecordSize = 129;    // gx_pu.dat: 1 + 128 characters
inline constexpr size_t kMalwareRecordSize = 256;  // gx_mu.dat: 1 + 255 characters

// Unscrambles one record in place and returns its entry: the first min(L, record size - 1)
// characters after the length byte.
std::string_view UnscrambleRecord(std::span<char> record);

// One record of the given size holding the entry scrambled, zero filler after it. The entry
// must fit (at most record size - 1 bytes).
std::string ScrambleRecord(std::string_view entry, size_t recordSize);

// A list file opened for reading only: the lists belong to the installation (root-owned and
// read-only on Linux) and the program never writes them.
class ListFile {
  public:
    ListFile() = default;
    ~ListFile();
    ListFile(const ListFile&) = delete;
    ListFile& operator=(const ListFile&) = delete;

    // False when the file is missing, unreadable or not a regular file.
    bool Open(const std::string& path, size_t recordSize);
    // Whole records in the file; a trailing partial record does not count.
    size_t RecordCount() const { return recordCount_; }
    // Reads records [first, first + count) in order, a block of whole records at a time. False
    // on a read error (blocks handed over before stay handed over). Safe to call from several
    // threads at once for different ranges.
    bool ReadBlocks(size_t first, size_t count,
                    const std::function<void(std::span<char> records)>& onBlock) const;

  private:
    int fd_ = -1;
    size_t recordSize_ = 0;
    size_t recordCount_ = 0;
};

// Reads every whole record of the file in order and hands each unscrambled entry to onEntry,
// after telling onRecordCount how many whole records the file holds. False when the file
// cannot be opened or a read fails. An empty file is not a failure.
bool ReadListRecords(const std::string& path, size_t recordSize,
                     const std::function<void(size_t recordCount)>& onRecordCount,
                     const std::function<void(std::string_view entry)>& onEntry);

}  // namespace gx
