// Wrong parental codes in a row and the growing wait they impose, on a clock of the test's own.
#include <gtest/gtest.h>

#include "console/CodeAttempts.h"

namespace gx::test {
namespace {

using std::chrono::minutes;
using std::chrono::seconds;

class CodeAttemptsTest : public ::testing::Test {
  protected:
    std::chrono::steady_clock::time_point now{std::chrono::hours(10)};
    CodeAttempts attempts{[this] { return now; }};

    void Wrong(int times) {
        for (int i = 0; i < times; ++i)
            attempts.RecordWrong();
    }
};

TEST_F(CodeAttemptsTest, TheFifthWrongCodeInARowLocksForAMinute) {
    Wrong(4);
    EXPECT_EQ(attempts.SecondsLocked(), 0);
    Wrong(1);
    EXPECT_EQ(attempts.SecondsLocked(), 60);
    now += seconds(59) + std::chrono::milliseconds(500);
    EXPECT_EQ(attempts.SecondsLocked(), 1);  // rounded up
    now += std::chrono::milliseconds(500);
    EXPECT_EQ(attempts.SecondsLocked(), 0);
}

TEST_F(CodeAttemptsTest, EachFurtherWrongCodeDoublesTheWaitUpToAnHour) {
    Wrong(5);
    const int expected[] = {120, 240, 480, 960, 1920, 3600, 3600};
    for (int wait : expected) {
        SCOPED_TRACE(wait);
        now += minutes(61);
        Wrong(1);
        EXPECT_EQ(attempts.SecondsLocked(), wait);
    }
}

TEST_F(CodeAttemptsTest, ARightCodeStartsAfresh) {
    Wrong(5);
    now += minutes(1);
    Wrong(1);
    now += minutes(2);
    attempts.RecordRight();
    EXPECT_EQ(attempts.WrongInARow(), 0);
    Wrong(4);
    EXPECT_EQ(attempts.SecondsLocked(), 0);
    Wrong(1);
    EXPECT_EQ(attempts.SecondsLocked(), 60);
}

}  // namespace
}  // namespace gx::test
