// Writes list files for tests into a temporary folder of their own.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "lists/ListFile.h"

namespace gx::testing {

class TempFolder {
  public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "gx-test-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempFolder() { std::filesystem::remove_all(path_); }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

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
