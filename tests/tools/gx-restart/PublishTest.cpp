// gx-publish as the maker runs it: the private key is the owner's alone and never replaced,
// and a build that an installation would refuse is not made at all.
#include <gtest/gtest.h>

#include "RestartFixture.h"

namespace gx::testing {
namespace {

class PublishTest : public RestartFixture {};

TEST_F(PublishTest, KeygenWritesAPrivateKeyOnlyItsOwnerReadsAndNeverReplacesIt) {
    const fs::path key = root() / "keys" / "test.key";
    EXPECT_EQ(fs::status(key).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    const std::string before = ReadText(key);
    EXPECT_NE(before.find("PRIVATE KEY"), std::string::npos);

    const CommandRun again = RunCommand("timeout 60 " GX_PUBLISH_PROGRAM " keygen " + key.string() +
                                        " " + (root() / "keys" / "again.pub").string());

    EXPECT_EQ(again.status, 1) << again.output;
    EXPECT_NE(again.output.find("existe"), std::string::npos) << again.output;
    EXPECT_EQ(ReadText(key), before);
}

TEST_F(PublishTest, BuildsThatWouldBeRefusedAreNotMade) {
    const fs::path good = MakeProgramDir("good", "1.6.0");
    const fs::path noProgram = MakeProgramDir("no-program", "1.6.0");
    fs::remove(noProgram / "gardalix");
    const fs::path linkOut = MakeProgramDir("link-out", "1.6.0");
    fs::create_symlink("../../etc/passwd", linkOut / "out");
    struct Case {
        const char* name;
        std::string arguments;
    };
    const std::string key = (root() / "keys" / "test.key").string();
    const std::string output = (root() / "builds" / "out.dat").string();
    const Case cases[] = {
        {"bad version", key + " 1.6a " + good.string() + " " + output},
        {"no program", key + " 1.6.0 " + noProgram.string() + " " + output},
        {"link out", key + " 1.6.0 " + linkOut.string() + " " + output},
        {"public key to sign",
         (root() / "keys" / "test.pub").string() + " 1.6.0 " + good.string() + " " + output},
        {"missing key", key + ".none 1.6.0 " + good.string() + " " + output},
        {"too few arguments", key + " 1.6.0 " + good.string()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CommandRun run = RunCommand("timeout 60 " GX_PUBLISH_PROGRAM " build " + c.arguments);
        EXPECT_EQ(run.status, 1) << run.output;
        EXPECT_FALSE(run.output.empty());
        EXPECT_FALSE(fs::exists(output));
    }
}

}  // namespace
}  // namespace gx::testing
