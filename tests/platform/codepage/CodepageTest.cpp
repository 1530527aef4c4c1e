#include <gtest/gtest.h>

#include "platform/codepage/CaseFold.h"
#include "platform/codepage/Cp1252.h"

namespace gx {
namespace {

TEST(Cp1252, EveryByteRoundTripsThroughUtf8) {
    std::string all;
    for (int b = 0; b < 256; ++b) {
        all += static_cast<char>(b);
    }
    const auto back = Utf8ToCp1252(Cp1252ToUtf8(all));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, all);
}

TEST(Cp1252, MapsTheHighBytesToTheirCharacters) {
    struct Case {
        unsigned char byte;
        const char* utf8;
    };
    const Case cases[] = {
        {0x80, "€"},      {0x81, "\u0081"}, {0x8A, "Š"},      {0x8D, "\u008D"}, {0x8F, "\u008F"},
        {0x90, "\u0090"}, {0x9C, "œ"},      {0x9D, "\u009D"}, {0x9F, "Ÿ"},      {0xA0, "\u00A0"},
        {0xE9, "é"},      {0xFF, "ÿ"},      {'a', "a"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.byte));
        EXPECT_EQ(Cp1252ToUtf8(std::string(1, static_cast<char>(c.byte))), c.utf8);
        EXPECT_EQ(Utf8ToCp1252(c.utf8), std::string(1, static_cast<char>(c.byte)));
    }
}

TEST(Cp1252, RefusesWhatItCannotRepresent) {
    const char* refused[] = {"日本",
                             "\xC3",
                             "\xC3\x28",
                             "\xE2\x82",
                             "\xF0\x9F\x98\x80",
                             "\xC0\x80" /* overlong NUL */,
                             "\xED\xA0\x80" /* surrogate */};
    for (const char* text : refused) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(Utf8ToCp1252(text).has_value());
    }
    EXPECT_EQ(Cp1252("contenu bloqué"), "contenu bloqu\xE9");
}

TEST(CaseFold, FoldsEveryCapitalOfTheCodePageAndNothingElse) {
    struct Case {
        unsigned char upper, lower;
    };
    const Case pairs[] = {{'A', 'a'},   {'Z', 'z'},   {0xC0, 0xE0}, {0xC9, 0xE9}, {0xDE, 0xFE},
                          {0x8A, 0x9A}, {0x8C, 0x9C}, {0x8E, 0x9E}, {0x9F, 0xFF}};
    for (const auto& p : pairs) {
        SCOPED_TRACE(static_cast<int>(p.upper));
        EXPECT_EQ(FoldCase(p.upper), p.lower);
        EXPECT_EQ(FoldCase(p.lower), p.lower);
    }
    for (const int unchanged :
         {0xD7 /* × */, 0xF7 /* ÷ */, 0xDF /* ß */, int{'@'}, int{'['}, int{'_'}}) {
        SCOPED_TRACE(static_cast<int>(unchanged));
        EXPECT_EQ(FoldCase(static_cast<unsigned char>(unchanged)), unchanged);
    }
}

TEST(CaseFold, OrdersByFoldedBytesThenLength) {
    struct Case {
        std::string a, b;
        int sign;
    };
    const Case cases[] = {
        {"abc", "ABC", 0},
        {"bad.example/", "BAD.EXAMPLE/", 0},
        {"\xC9t\xE9", "\xE9T\xC9", 0},  // Été, éTÉ
        {"ab", "abc", -1},              // a prefix sorts first
        {"abc", "ab", 1},
        {"a_", "AZ", -1},  // '_' (0x5F) sorts before 'z' (0x7A) once folded
        {"", "", 0},
        {"", "a", -1},
        {"\xD7", "\xF7", -1},  // × and ÷ are not letters
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.a + " / " + c.b);
        const int result = CompareTextNoCase(c.a, c.b);
        EXPECT_EQ((result > 0) - (result < 0), c.sign);
        EXPECT_EQ(SameTextNoCase(c.a, c.b), c.sign == 0);
        EXPECT_EQ(SameTextNoCase(c.a, c.b), FoldText(c.a) == FoldText(c.b));
    }
}

}  // namespace
}  // namespace gx
