// The fixture of the engine's unit tests, which run against the recording fake of the
// interception library.
#pragma once

#include "support/InterceptionFake.h"
#include "tests/engine/EngineFixture.h"

namespace gx::test {

// The unit tests' fixture: the recording fake of the interception library starts empty, and at
// the end every protocol object has been freed exactly once.
class EngineTest : public EngineTestBase {
  protected:
    void SetUp() override {
        fake::Reset();
        EngineTestBase::SetUp();
    }
    void TearDown() override {
        EngineTestBase::TearDown();
        EXPECT_EQ(fake::LiveObjects(), 0) << "every object is freed once";
        EXPECT_EQ(fake::BadFrees(), 0);
    }
};

}  // namespace gx::test
