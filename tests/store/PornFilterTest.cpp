#include <gtest/gtest.h>

#include "platform/codepage/Cp1252.h"
#include "platform/registry/TempHive.h"
#include "store/GX_ConfigReg.h"

namespace gx {
namespace {

class ConfigRegPornFilterTest : public testing::TempHiveTest {
  protected:
    // The stored PORN_FILTER, read straight from the hive; nullopt when missing.
    std::optional<RegValue> Stored() {
        const auto key = ProcessHive()->OpenKey(kGardalixKey, false);
        return key ? ProcessHive()->GetValue(*key, kAdultFilterValue) : std::nullopt;
    }
    void Store(const RegValue& value) {
        ASSERT_TRUE(ProcessHive()->SetValue(*ProcessHive()->OpenKey(kGardalixKey, true),
                                            kAdultFilterValue, value));
    }
};

TEST_F(ConfigRegPornFilterTest, OnACleanMachineTheSwitchIsCreatedAsOff) {
    EXPECT_FALSE(ReadPornFilter());
    ASSERT_TRUE(Stored());
    EXPECT_EQ(Stored()->type, RegDataType::DWord);
    EXPECT_EQ(Stored()->data, RegValue::FromDWord(0).data);
}

// Only 1 means on; any other number reads as off and is left as it is.
TEST_F(ConfigRegPornFilterTest, OnlyOneReadsAsOnAndOtherNumbersAreLeftAlone) {
    const struct {
        uint32_t stored;
        bool on;
    } cases[] = {{0, false}, {1, true}, {2, false}, {0xFFFFFFFF, false}, {0x101, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        Store(RegValue::FromDWord(c.stored));
        EXPECT_EQ(ReadPornFilter(), c.on);
        EXPECT_EQ(Stored()->data, RegValue::FromDWord(c.stored).data);
    }
}

TEST_F(ConfigRegPornFilterTest, WritesOneOrZeroAndSurvivesARestart) {
    WritePornFilter(true);
    EXPECT_EQ(Stored()->data, RegValue::FromDWord(1).data);
    CloseProcessHive();  // as a new run of the program would
    EXPECT_TRUE(ReadPornFilter());
    WritePornFilter(false);
    EXPECT_EQ(Stored()->data, RegValue::FromDWord(0).data);
    EXPECT_FALSE(ReadPornFilter());
}

TEST_F(ConfigRegPornFilterTest, DataOfTheWrongTypeRaisesTheFrenchErrors) {
    const struct {
        const char* label;
        RegValue stored;
        std::string message;
    } cases[] = {
        {"text", RegValue::FromString("1"), Cp1252("Type de données incorrect pour 'PORN_FILTER'")},
        {"longer text", RegValue::FromString("oui !"),
         Cp1252("Echec à l'obtention des données pour 'PORN_FILTER'")},
        {"8 bytes",
         {RegDataType::Binary, std::string("\1\0\0\0\0\0\0\0", 8)},
         Cp1252("Echec à l'obtention des données pour 'PORN_FILTER'")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Store(c.stored);
        try {
            ReadPornFilter();
            ADD_FAILURE() << "no error";
        } catch (const ERegistryException& error) {
            EXPECT_EQ(error.Message(), c.message);
        }
        EXPECT_EQ(Stored()->data, c.stored.data);  // the bad value is not replaced
    }
}

TEST_F(ConfigRegPornFilterTest, AFailingWriteRaisesTheDefinitionError) {
    WritePornFilter(false);
    ProcessHive()->FailNextWrite();
    try {
        WritePornFilter(true);
        ADD_FAILURE() << "no error";
    } catch (const ERegistryException& error) {
        EXPECT_EQ(error.Message(), Cp1252("Echec à la définition des données pour 'PORN_FILTER'"));
    }
    EXPECT_FALSE(ReadPornFilter());
}

TEST_F(ConfigRegPornFilterTest, WithoutAHiveTheSwitchReadsOffAndWritesAreSkipped) {
    UseHive(folder_ + "/not writable/registry.db");
    EXPECT_FALSE(ReadPornFilter());
    EXPECT_NO_THROW(WritePornFilter(true));
    EXPECT_FALSE(ReadPornFilter());
}

}  // namespace
}  // namespace gx
