#include "platform/text/Hex.h"

#include <gtest/gtest.h>

namespace gx {
namespace {

TEST(Hex, DigitsAreReadInEitherCaseAndNothingElseIsADigit) {
    EXPECT_EQ(HexValue('0'), 0);
    EXPECT_EQ(HexValue('9'), 9);
    EXPECT_EQ(HexValue('a'), 10);
    EXPECT_EQ(HexValue('F'), 15);
    for (const char c : {'g', 'G', ' ', '/', ':', '@', '`', '\0', '\xE9'}) {
        EXPECT_EQ(HexValue(c), -1) << static_cast<int>(c);
    }
}

TEST(Hex, WrittenInLowerCaseAndReadBackToTheSameBytes) {
    const std::vector<unsigned char> bytes = {0x00, 0x0f, 0xa5, 0xff, 0x10};
    EXPECT_EQ(LowerHex(bytes), "000fa5ff10");
    EXPECT_EQ(LowerHex(std::string_view("\x01\xfe", 2)), "01fe");
    std::vector<unsigned char> read;
    ASSERT_TRUE(ParseHex("000FA5ff10", bytes.size(), read));
    EXPECT_EQ(read, bytes);
}

TEST(Hex, ParsingRefusesAnythingButExactlyTheDigitsAsked) {
    struct Case {
        const char* description;
        std::string_view text;
        std::size_t bytes;
    };
    const Case cases[] = {
        {"one digit short", "abc", 2},
        {"one digit more", "abcde", 2},
        {"a sign, which a number parser would take", "+a", 1},
        {"a blank", " a", 1},
        {"a letter beyond f", "0g", 1},
        {"a prefix", "0x", 1},
    };
    for (const Case& c : cases) {
        std::vector<unsigned char> out;
        EXPECT_FALSE(ParseHex(c.text, c.bytes, out)) << c.description;
    }
}

}  // namespace
}  // namespace gx
