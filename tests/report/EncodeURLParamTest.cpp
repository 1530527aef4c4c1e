#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/codepage/Cp1252.h"
#include "report/EncodeURLParam.h"

namespace gx {
namespace {

TEST(ReportEncodingTest, EncodesTheServersTableAndWhatWouldBreakTheQuery) {
    const struct {
        std::string typed;  // Windows-1252
        const char* sent;
    } cases[] = {
        // The server's table.
        {" \"#%", "%20%22%23%25"},
        {"'", "%60"},
        {"(),./", "%28%29%2C%2E%2F"},
        {";<>?@", "%3B%3C%3E%3F%40"},
        {"[\\]^", "%5B%5C%5D%5E"},
        {"{|}~", "%7B%7C%7D%7E"},
        {Cp1252("àâäçèéêëîïô"), "%E0%E2%E4%E7%E8%E9%EA%EB%EE%EF%F4"},
        {"a b/c.d", "a%20b%2Fc%2Ed"},
        {"%20", "%2520"},
        {"ligne 1<br>ligne 2", "ligne%201%3Cbr%3Eligne%202"},
        {"l'avis", "l%60avis"},
        // Left as they are.
        {"AZaz09", "AZaz09"},
        {"!$*-:_`", "!$*-:_`"},
        {"", ""},
        // A new key, the end of a key and a space in a query.
        {"&x=1", "%26x%3D1"},
        {"a+b", "a%2Bb"},
        // Control bytes and bytes above 127 that the table leaves out.
        {"\t\r\n", "%09%0D%0A"},
        {std::string("\0\x01\x1F\x7F", 4), "%00%01%1F%7F"},
        {Cp1252("ùûüœÉ€"), "%F9%FB%FC%9C%C9%80"},
        {"\xFF\x81", "%FF%81"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Cp1252ToUtf8(c.typed));
        EXPECT_EQ(EncodeURLParam(c.typed), c.sent);
    }
}

// Every byte goes either as itself (a letter, a digit or a harmless mark) or as "%" and two
// capital hex digits of its own value, except the apostrophe.
TEST(ReportEncodingTest, EveryByteGoesAsItselfOrAsItsOwnCode) {
    const std::string unchanged =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789!$*-:_`";
    for (int value = 0; value < 256; ++value) {
        SCOPED_TRACE(value);
        const std::string byte(1, static_cast<char>(value));
        const std::string sent = EncodeURLParam(byte);
        if (unchanged.find(byte) != std::string::npos) {
            EXPECT_EQ(sent, byte);
        } else if (value == '\'') {
            EXPECT_EQ(sent, "%60");
        } else {
            char expected[4];
            std::snprintf(expected, sizeof expected, "%%%02X", value);
            EXPECT_EQ(sent, expected);
        }
    }
}

}  // namespace
}  // namespace gx
