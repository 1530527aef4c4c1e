// The texts of the update exchange: lines, fields, values, sizes, encoding, addresses, replies
// and progress.
#include <gtest/gtest.h>

#include "update/UpdateProtocol.h"

namespace gx {
namespace {

TEST(UpdateProtocolTest, LinesEndAtCrLfCrOrLfAndALastLineWithoutEndCounts) {
    const struct {
        std::string text;
        std::vector<std::string> lines;
    } cases[] = {
        {"", {}},
        {"OK", {"OK"}},
        {"OK\r\n", {"OK"}},
        {"a\rb\nc\r\nd", {"a", "b", "c", "d"}},
        {"a\n\nb\r\r", {"a", "", "b", ""}},
        {"\r\n", {""}},
        {"\n\r", {"", ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(SplitLines(c.text), c.lines);
    }
}

TEST(UpdateProtocolTest, AFieldIsReturnedOnlyWhenASeparatorEndsIt) {
    const struct {
        std::string text;
        int n;
        std::string field;
    } cases[] = {
        {"SOFTWARE_FILE=setup.exe;", 2, "setup.exe"},
        {"SOFTWARE_FILE=setup.exe", 2, ""},
        {"SOFTWARE_SIZE=1=2;", 2, "1"},
        {"SOFTWARE_SIZE=1=2;", 3, "2"},
        {"SOFTWARE_SIZE=1=2;", 1, "SOFTWARE_SIZE"},
        {"KEY=;", 2, ""},
        {"", 2, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text + " #" + std::to_string(c.n));
        EXPECT_EQ(ExtractUpdateField(c.text, c.n), c.field);
    }
}

TEST(UpdateProtocolTest, TheFirstLineHoldingAKeyGivesItsValueCountedFromTheLineStart) {
    const std::vector<std::string> lines = {"# FILES_LOCATION=ignored/;", "X=1;SOFTWARE_FILE=a;",
                                            "SOFTWARE_FILE=b;", "FILES_LOCATION=http://f/;"};
    EXPECT_EQ(GetUpdateValue(lines, "SOFTWARE_FILE="), "1");
    EXPECT_EQ(GetUpdateValue(lines, "FILES_LOCATION="), "ignored/");
    EXPECT_EQ(GetUpdateValue(lines, "SOFTWARE_SIZE="), "");
    EXPECT_EQ(GetUpdateValue(lines, "software_file="), "");  // letter case counts
    EXPECT_TRUE(HasUpdateKey(lines, "SOFTWARE_FILE="));
    EXPECT_FALSE(HasUpdateKey(lines, "SOFTWARE_SHA256="));
}

TEST(UpdateProtocolTest, ASizeIsADecimal32BitNumberOrZero) {
    const struct {
        std::string text;
        std::int32_t size;
    } cases[] = {{"12345", 12345},  {"abc", 0}, {"", 0},
                 {"-5", -5},        {"+7", 7},  {"2147483647", 2147483647},
                 {"2147483648", 0}, {"12a", 0}, {" 7", 0},
                 {"+-7", 0},        {"0x10", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ParseSoftwareSize(c.text), c.size);
    }
}

TEST(UpdateProtocolTest, QueryValuesArePercentEncodedExceptPlainCharacters) {
    const struct {
        std::string value;
        std::string encoded;
    } cases[] = {
        {"Abc-1.2_z", "Abc-1.2_z"}, {"", ""},
        {"a b", "a%20b"},           {"x&w=9", "x%26w%3D9"},
        {"id#frag", "id%23frag"},   {"100%+1", "100%25%2B1"},
        {"caf\xE9", "caf%E9"},      {"\x01\x7F", "%01%7F"},
        {"a/b?c", "a%2Fb%3Fc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(EncodeQueryValue(c.value), c.encoded);
    }
}

TEST(UpdateProtocolTest, TheConnectAddressCarriesSevenKeysAndTheFallbackFour) {
    const ConnectValues values{"C 1", "6.1", "123456", 42};
    EXPECT_EQ(ConnectUrl("http://u.example:8080", values, false),
              "http://u.example:8080/update2024/gardalix/connect.php?id=C%201&w=6.1&l=&v=&h=123456"
              "&kdv=1.5.0&idc=42");
    EXPECT_EQ(ConnectUrl("http://u2.example", values, true),
              "http://u2.example/update2024/gardalix/connect.php?id=C%201&w=6.1&l=&v=");
    EXPECT_EQ(ConnectUrl("http://u.example", ConnectValues{}, false),
              "http://u.example/update2024/gardalix/connect.php?id=&w=&l=&v=&h=&kdv=1.5.0&idc=0");
}

TEST(UpdateProtocolTest, OnlyAFirstLineOfExactlyOkAccepts) {
    EXPECT_EQ(ConnectRefusal("OK"), std::nullopt);
    EXPECT_EQ(ConnectRefusal("OK\r\nanything"), std::nullopt);
    EXPECT_EQ(ConnectRefusal("ok"), "ok");
    EXPECT_EQ(ConnectRefusal("OK "), "OK ");
    EXPECT_EQ(ConnectRefusal(" OK"), " OK");
    EXPECT_EQ(ConnectRefusal("\r\nOK"), "");
    EXPECT_EQ(ConnectRefusal(""),
              "Impossible d'\xE9tablir la connexion avec le serveur de mise \xE0 jour.");
}

TEST(UpdateProtocolTest, ProgressIsRoundedToTheNearestWithHalvesToEven) {
    const struct {
        std::int64_t received;
        std::int64_t expected;
        std::optional<int> percent;
    } cases[] = {
        {500, 1000, 50},
        {1000, 1000, 100},
        {3000, 1000, 300},
        {1, 8, 12} /* 12.5 */,
        {3, 8, 38} /* 37.5 */,
        {5, 1000, 0} /* 0.5 */,
        {15, 1000, 2} /* 1.5 */,
        {0, 10, 0},
        {10, 0, std::nullopt},
        {10, -1, std::nullopt},
        {std::int64_t{1} << 60, 1, 2147483647},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.received) + "/" + std::to_string(c.expected));
        EXPECT_EQ(ProgressPercent(c.received, c.expected), c.percent);
    }
}

}  // namespace
}  // namespace gx
