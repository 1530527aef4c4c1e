// Writes list files for tests into a temporary folder of their own.
#pragma once

#include <fstream>
#include <string>
#include <vector>

#include "lists/ListFile.h"
#include "support/TempFolder.h"

namespace gx::testing {

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string Records(const std::vector<std::string>& entries, size_t recordSize) {
    std::string bytes;
    for (const auto& entry : entries) {
        bytes += ScrambleRecord(entry, recordSize);
    }
    return bytes;
}

}  // namespace gx::testing
