// Every input kept under tests/fuzz/corpus/<target>/ (the seeds, and each input that once made
// a target fail) is run through its target in the normal build: a fixed crash never returns.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz/FuzzTargets.h"

namespace gx::fuzz {
namespace {

TEST(FuzzCorpus, EveryKeptInputRunsThroughItsTarget) {
    const std::filesystem::path corpus = std::filesystem::path(GX_SOURCE_DIR) / "tests/fuzz/corpus";
    for (const Target& target : Targets()) {
        SCOPED_TRACE(target.name);
        size_t inputs = 0;
        for (const auto& entry : std::filesystem::directory_iterator(corpus / target.name)) {
            if (!entry.is_regular_file() || entry.path().filename().string().starts_with(".")) {
                continue;
            }
            SCOPED_TRACE(entry.path().filename().string());
            std::ifstream in(entry.path(), std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
            EXPECT_EQ(target.run(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0);
            ++inputs;
        }
        EXPECT_GT(inputs, 0u) << "every target keeps seeds";
    }
}

}  // namespace
}  // namespace gx::fuzz
