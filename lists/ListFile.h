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

inline constexpr size_t kPornRecordSize = 129;     // gx_pu.dat: 1 + 128 characters
inline constexpr size_t kMalwareRecordSize = 256;  // gx_mu.dat: 1 + 255 characters

// Unscrambles one record in place and returns its entry: the first min(L, record size - 1)
// characters after the length byte.
std::string_view UnscrambleRecord(std::span<char> record);

// One record of the given size holding the entry scrambled, zero filler after it. The entry
// must fit (at most record size - 1 bytes).
std::string ScrambleRecord(std::string_view entry, size_t recordSize);

// Reads every whole record of the file in order and hands each unscrambled entry to onEntry,
// after telling onRecordCount how many whole records the file holds. The file is opened for
// reading only. False when it cannot be opened or a read fails; entries handed over before a
// read error stay handed over. An empty file is not a failure.
bool ReadListRecords(const std::string& path, size_t recordSize,
                     const std::function<void(size_t recordCount)>& onRecordCount,
                     const std::function<void(std::string_view entry)>& onEntry);

// The number of whole records in a file of that size.
inline size_t RecordCount(size_t fileSize, size_t recordSize) {
    return fileSize / recordSize;
}

}  // namespace gx
