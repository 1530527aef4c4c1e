// Common ground of the engine's tests: the exemption tables are emptied, child protection is off,
// the console's timer hook counts its calls and the block lists are loaded from list files
// written into a temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/ChildProtection.h"
#include "engine/GX_Main.h"
#include "lists/GX_MalwareURL.h"
#include "lists/GX_PornURL.h"
#include "lists/ListFile.h"

namespace gx::test {

inline std::atomic<int> armHookCalls{0};
inline void CountArmHookCall() {
    armHookCalls.fetch_add(1);
}

class EngineTestBase : public ::testing::Test {
  protected:
    void SetUp() override {
        ClearExemptionTables();
        PornFilterOn = false;
        armHookCalls = 0;
        SetArmBlockTimerHook(CountArmHookCall);
        folder_ = std::filesystem::temp_directory_path() /
                  ("gx-engine-test-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder_);
        LoadLists({}, {});
    }

    void TearDown() override {
        SetArmBlockTimerHook(nullptr);
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    // Windows-1252 entries, written as list files and loaded as the console does.
    void LoadLists(const std::vector<std::string>& malware, const std::vector<std::string>& adult) {
        ASSERT_TRUE(LoadMalwareURLList(WriteList("gx_mu.dat", malware, kMalwareRecordSize)));
        ASSERT_TRUE(LoadPornURLList(WriteList("gx_pu.dat", adult, kAdultRecordSize)));
    }

    std::string WriteList(const std::string& name, const std::vector<std::string>& entries,
                          size_t recordSize) {
        std::string path = (folder_ / name).string();
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        for (const auto& entry : entries)
            file << ScrambleRecord(entry, recordSize);
        return path;
    }

    std::filesystem::path folder_;
};

}  // namespace gx::test
