// The parental code's hash: what is stored, what matches it, and stored texts that match nothing.
#include <gtest/gtest.h>

#include "platform/registry/Registry.h"
#include "platform/registry/TempHive.h"
#include "store/GX_ConfigReg.h"
#include "store/ParentalCode.h"

namespace gx {
namespace {

using ParentalCodeTest = testing::TempHiveTest;

TEST_F(ParentalCodeTest, TheHashIsSaltedAndMatchesOnlyItsCode) {
    const std::string hash = HashParentalCode("1234");
    // scheme $ iterations $ 16-byte salt $ 32-byte key, in hexadecimal
    EXPECT_EQ(hash.rfind("pbkdf2-sha256$300000$", 0), 0u) << hash;
    EXPECT_EQ(hash.size(), std::string("pbkdf2-sha256$300000$").size() + 32 + 1 + 64);
    EXPECT_EQ(hash.find("1234"), std::string::npos);
    EXPECT_NE(HashParentalCode("1234"), hash) << "a fresh salt for every code set";

    const struct {
        const char* code;
        bool matches;
    } cases[] = {{"1234", true},   {"1235", false}, {"123", false},
                 {"12345", false}, {"", false},     {"1234 ", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(ParentalCodeMatches(c.code, hash), c.matches);
    }
}

TEST_F(ParentalCodeTest, ACodeOutsideAsciiRoundTrips) {
    const std::string code = "été€ß";
    EXPECT_EQ(ParentalCodeLength(code), 5u);
    EXPECT_TRUE(ParentalCodeMatches(code, HashParentalCode(code)));
}

TEST_F(ParentalCodeTest, AStoredTextOfAnotherFormMatchesNothing) {
    const std::string good = HashParentalCode("abcd");
    const std::string salt = good.substr(good.find('$', 15) + 1, 32);
    const std::string key = good.substr(good.rfind('$') + 1);
    const struct {
        const char* what;
        std::string stored;
    } cases[] = {
        {"the code itself", "abcd"},
        {"another scheme", "sha1$300000$" + salt + "$" + key},
        {"no iteration count", "pbkdf2-sha256$$" + salt + "$" + key},
        {"too few iterations", "pbkdf2-sha256$999$" + salt + "$" + key},
        {"absurdly many iterations", "pbkdf2-sha256$4000000000$" + salt + "$" + key},
        {"short salt", "pbkdf2-sha256$300000$" + salt.substr(2) + "$" + key},
        {"not hexadecimal", "pbkdf2-sha256$300000$" + std::string(32, 'z') + "$" + key},
        {"a fifth part", good + "$00"},
        {"empty", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(ParentalCodeMatches("abcd", c.stored));
    }
}

TEST_F(ParentalCodeTest, LengthCountsCharactersAndRefusesBrokenUtf8) {
    EXPECT_EQ(ParentalCodeLength("abcd"), 4u);
    EXPECT_EQ(ParentalCodeLength("\xC3\xA9t\xC3\xA9"), 3u);
    EXPECT_EQ(ParentalCodeLength("\xC3"), std::string_view::npos);
    EXPECT_EQ(ParentalCodeLength("\xE9t\xE9"), std::string_view::npos);
}

TEST_F(ParentalCodeTest, TheHashIsKeptInTheProgramsKeyAndRemoved) {
    EXPECT_EQ(ReadParentalCodeHash(), "");
    const std::string hash = HashParentalCode("4242");
    WriteParentalCodeHash(hash);
    CloseProcessHive();
    EXPECT_EQ(ReadParentalCodeHash(), hash);
    Registry registry;
    ASSERT_TRUE(registry.OpenKey(kGardalixKey, false));
    EXPECT_EQ(registry.ReadString(kParentalCodeValue), hash);

    RemoveParentalCode();
    EXPECT_EQ(ReadParentalCodeHash(), "");
    RemoveParentalCode();  // none set: nothing happens
}

TEST_F(ParentalCodeTest, AValueOfTheWrongTypeRaisesRatherThanCountAsNoCode) {
    Registry registry;
    ASSERT_TRUE(registry.OpenKey(kGardalixKey, true));
    registry.WriteInteger(kParentalCodeValue, 1);
    EXPECT_THROW(ReadParentalCodeHash(), ERegistryException);
}

}  // namespace
}  // namespace gx
