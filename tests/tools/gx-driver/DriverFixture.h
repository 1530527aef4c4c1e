// A network namespace of the test's own with gx-driver run inside it, its configuration file
// and its program (a copy of a small binary) in a temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "DriverTestSupport.h"
#include "platform/driver/DriverConfig.h"

namespace gx::testing {

class DriverFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string unavailable = NamespaceTestsUnavailable();
        if (!unavailable.empty()) {
            GTEST_SKIP() << unavailable;
        }
        if (!namespace_.created()) {
            GTEST_SKIP() << "cannot create a network namespace here: " << namespace_.error();
        }
        program_ = MakeProgram("gardalix");
    }

    // A program file for the capability: a copy of a small system binary.
    std::string MakeProgram(const std::string& name) {
        const std::string path = folder_.File(name);
        std::filesystem::copy_file("/bin/true", path);
        return path;
    }

    // gx-driver run inside the namespace, as root, with the test's configuration path.
    CommandRun Tool(const std::string& arguments) const {
        return namespace_.Run("env " + std::string(kDriverConfigEnvironment) + "=" + ConfigPath() +
                              " " GX_PROGRAM_DIR "/gx-driver " + arguments);
    }

    CommandRun Install(const std::string& arguments = "") const {
        return Tool("install --program " + program_ + " " + arguments);
    }

    // The table as nft prints it; empty when there is none.
    std::string Table() const {
        const CommandRun list = namespace_.Run("nft list table inet gardalix");
        return list.status == 0 ? list.output : "";
    }

    std::string Capabilities(const std::string& path) const {
        return RunCommand("getcap " + path).output;
    }

    std::string ConfigPath() const { return folder_.File("etc/driver.conf"); }

    TempFolder folder_;
    NetworkNamespace namespace_;
    std::string program_;
};

}  // namespace gx::testing
