#include "platform/registry/Registry.h"

#include <gtest/gtest.h>

#include "platform/codepage/Cp1252.h"
#include "platform/registry/TempHive.h"

namespace gx {
namespace {

using RegistryWrapperTest = testing::TempHiveTest;

TEST_F(RegistryWrapperTest, TheThreeMessagesAreTheFrenchTextsWithTheName) {
    EXPECT_EQ(GetDataFailedMessage("PORN_FILTER"),
              Cp1252("Echec à l'obtention des données pour 'PORN_FILTER'"));
    EXPECT_EQ(WrongDataTypeMessage("PORN_FILTER"),
              Cp1252("Type de données incorrect pour 'PORN_FILTER'"));
    EXPECT_EQ(SetDataFailedMessage(Cp1252("Déjà")),
              Cp1252("Echec à la définition des données pour 'Déjà'"));
    EXPECT_STREQ(ERegistryException(Cp1252("é")).what(), "\xe9");
}

// Reading a number from each kind of stored data: what fits in 4 bytes but is no number has the
// wrong type; anything larger cannot even be fetched.
TEST_F(RegistryWrapperTest, ReadIntegerAcceptsOnlyNumbers) {
    struct Case {
        const char* label;
        RegValue stored;
        std::string expectedMessage;  // empty: reads as 42
    };
    const Case cases[] = {
        {"number", RegValue::FromDWord(42), ""},
        {"text of 3 letters (4 bytes with its end)", RegValue::FromString("abc"),
         WrongDataTypeMessage("v")},
        {"empty text", RegValue::FromString(""), WrongDataTypeMessage("v")},
        {"text of 4 letters", RegValue::FromString("1234"), GetDataFailedMessage("v")},
        {"binary of 4 bytes", {RegDataType::Binary, "\x2a\0\0\0"}, WrongDataTypeMessage("v")},
        {"binary of 8 bytes",
         {RegDataType::Binary, std::string(8, '\0')},
         GetDataFailedMessage("v")},
    };
    auto hive = ProcessHive();
    const auto key = hive->OpenKey("K", true);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ASSERT_TRUE(hive->SetValue(*key, "V", c.stored));
        Registry registry;
        ASSERT_TRUE(registry.OpenKey("K", false));
        if (c.expectedMessage.empty()) {
            EXPECT_EQ(registry.ReadInteger("v"), 42);
            continue;
        }
        try {
            registry.ReadInteger("v");
            ADD_FAILURE() << "no error";
        } catch (const ERegistryException& error) {
            EXPECT_EQ(error.Message(), c.expectedMessage);
        }
    }
}

TEST_F(RegistryWrapperTest, IntegersAndStringsRoundTrip) {
    Registry registry;
    ASSERT_TRUE(registry.OpenKey("SOFTWARE\\Brevane\\Gardalix", true));
    registry.WriteInteger("n", -5);
    registry.WriteString("s", Cp1252("réglé"));
    EXPECT_EQ(registry.ReadInteger("N"), -5);
    EXPECT_EQ(registry.ReadString("S"), Cp1252("réglé"));
    EXPECT_EQ(registry.ReadString("missing"), "");
    EXPECT_THROW(registry.ReadString("n"), ERegistryException);
    EXPECT_THROW(registry.ReadInteger("missing"), ERegistryException);
    EXPECT_TRUE(registry.ValueExists("n"));
    EXPECT_FALSE(registry.ValueExists("missing"));
}

TEST_F(RegistryWrapperTest, AFailingWriteRaisesTheDefinitionError) {
    Registry registry;
    ASSERT_TRUE(registry.OpenKey("K", true));
    ProcessHive()->FailNextWrite();
    try {
        registry.WriteInteger("PORN_FILTER", 1);
        ADD_FAILURE() << "no error";
    } catch (const ERegistryException& error) {
        EXPECT_EQ(error.Message(), SetDataFailedMessage("PORN_FILTER"));
    }
    const std::string tooLong(kMaxValueNameLength + 1, 'x');
    EXPECT_THROW(registry.WriteString(tooLong, ""), ERegistryException);
}

TEST_F(RegistryWrapperTest, WithoutAHiveEveryOpenFailsQuietly) {
    UseHive(folder_ + "/missing folder/registry.db");
    Registry registry;
    EXPECT_FALSE(registry.OpenKey("SOFTWARE\\Brevane\\Gardalix", true));
    EXPECT_FALSE(registry.ValueExists("PORN_FILTER"));
    std::vector<std::string> names{"stale"};
    registry.GetValueNames(names);
    EXPECT_TRUE(names.empty());
    EXPECT_THROW(registry.WriteInteger("PORN_FILTER", 1), ERegistryException);
}

}  // namespace
}  // namespace gx
