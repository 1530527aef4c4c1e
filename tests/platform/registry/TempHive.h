// A fixture that gives each test its own hive file in a fresh temporary folder, chosen through
// GARDALIX_REGISTRY as the program's own hive.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/registry/HiveLocation.h"

namespace gx::testing {

class TempHiveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "gx-hive-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        path_ = folder_ + "/registry.db";
        UseHive(path_);
    }

    void TearDown() override {
        CloseProcessHive();
        unsetenv(kHivePathVariable);
        std::filesystem::remove_all(folder_);
    }

    // Makes the program's hive the given file from the next registry access on.
    static void UseHive(const std::string& path) {
        CloseProcessHive();
        setenv(kHivePathVariable, path.c_str(), 1);
    }

    // The files of the temporary folder whose names start with the prefix.
    std::vector<std::string> FilesStartingWith(const std::string& prefix) const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind(prefix, 0) == 0) {
                names.push_back(name);
            }
        }
        return names;
    }

    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    std::string folder_;
    std::string path_;
};

}  // namespace gx::testing
