#include <gtest/gtest.h>

#include <ctime>

#include "platform/codepage/Cp1252.h"
#include "platform/registry/TempHive.h"
#include "store/GX_ConfigReg.h"

namespace gx {
namespace {

using ConfigRegLogTest = testing::TempHiveTest;

const std::string kMalware = Cp1252("Site malveillant");
const std::string kAdult = Cp1252("Site adulte");

TEST_F(ConfigRegLogTest, EntriesRoundTripByteExactInTheOrderWritten) {
    const std::string longAddress = "very.long.example/" + std::string(182, 'p');
    ASSERT_EQ(longAddress.size(), 200u);
    const struct {
        std::string date, url, reason;
    } written[] = {
        {"31/12/2024 23:59:59", "z.example/", kMalware},
        {"01/01/2024", Cp1252("héhé.example/été?q=ü€"), kAdult},
        {"15/06/2024 08:00:00", longAddress, Cp1252("URL de test (sans danger)")},
        {"15/06/2024 08:00:00", "a.example/", kMalware},
    };
    for (const auto& entry : written) {
        ASSERT_TRUE(AddLogEntry(entry.date, entry.url, entry.reason));
    }
    CloseProcessHive();
    std::vector<std::string> names{"left over from before"};
    ReadLogEntries(names);
    const auto records = ReadLogRecords();
    ASSERT_EQ(names.size(), std::size(written));
    ASSERT_EQ(records.size(), std::size(written));
    for (size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(names[i], written[i].date + "|" + written[i].url + "|" + written[i].reason);
        EXPECT_EQ(records[i].date, written[i].date);
        EXPECT_EQ(records[i].url, written[i].url);
        EXPECT_EQ(records[i].reason, written[i].reason);
    }
}

// A "|" inside the address is not escaped: its tail takes the reason's column.
TEST_F(ConfigRegLogTest, AnAddressHoldingTheSeparatorShiftsTheColumns) {
    ASSERT_TRUE(AddLogEntry("07/02/2024 14:05:09", "bad.example/a|b", kMalware));
    std::vector<std::string> names;
    ReadLogEntries(names);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0], "07/02/2024 14:05:09|bad.example/a|b|" + kMalware);
    const auto records = ReadLogRecords();
    EXPECT_EQ(records[0].url, "bad.example/a");
    EXPECT_EQ(records[0].reason, "b");
}

TEST_F(ConfigRegLogTest, EntriesDifferingOnlyInLetterCaseCollapse) {
    ASSERT_TRUE(AddLogEntry("07/02/2024 14:05:09", Cp1252("Bad.Example/Été"), kMalware));
    ASSERT_TRUE(AddLogEntry("07/02/2024 14:05:10", "other.example/", kMalware));
    ASSERT_TRUE(
        AddLogEntry("07/02/2024 14:05:09", Cp1252("bad.example/éTÉ"), Cp1252("SITE MALVEILLANT")));
    std::vector<std::string> names;
    ReadLogEntries(names);
    EXPECT_EQ(names, (std::vector<std::string>{
                         "07/02/2024 14:05:09|" + Cp1252("Bad.Example/Été") + "|" + kMalware,
                         "07/02/2024 14:05:10|other.example/|" + kMalware}));
}

TEST_F(ConfigRegLogTest, ANameLongerThanTheRegistryAllowsRaisesTheDefinitionError) {
    const std::string date = "07/02/2024 14:05:09";
    const std::string reason = kMalware;
    const size_t fixed = date.size() + 2 + reason.size();
    const std::string fits(16383 - fixed, 'u');
    const std::string tooLong(16384 - fixed, 'u');
    EXPECT_TRUE(AddLogEntry(date, fits, reason));
    try {
        AddLogEntry(date, tooLong, reason);
        ADD_FAILURE() << "no error";
    } catch (const ERegistryException& error) {
        EXPECT_EQ(error.Message(), Cp1252("Echec à la définition des données pour '") + date + "|" +
                                       tooLong + "|" + reason + "'");
    }
    std::vector<std::string> names;
    ReadLogEntries(names);
    EXPECT_EQ(names.size(), 1u);
}

TEST_F(ConfigRegLogTest, WithoutAHiveEntriesAreDroppedQuietly) {
    UseHive(folder_ + "/not writable/registry.db");
    EXPECT_FALSE(AddLogEntry("d", "u", "r"));
    EXPECT_FALSE(WriteBlockEventLog("u", "r"));
    std::vector<std::string> names{"stale"};
    ReadLogEntries(names);
    EXPECT_TRUE(names.empty());
    EXPECT_TRUE(ReadLogRecords().empty());
}

TEST(ConfigRegExtractFieldTest, FieldsAreSplitAtEverySeparator) {
    const struct {
        std::string text;
        int n;
        std::string field;
    } cases[] = {
        {"d|u|r", 1, "d"},
        {"d|u|r", 2, "u"},
        {"d|u|r", 3, "r"},
        {"d|u|r", 4, ""},
        {"no separator", 1, "no separator"},
        {"no separator", 2, ""},
        {"no separator", 3, ""},
        {"a||c", 2, ""},
        {"a||c", 3, "c"},
        {"|lead", 1, ""},
        {"|lead", 2, "lead"},
        {"trail|", 2, ""},
        {"trail|", 3, ""},
        {"", 1, ""},
        {"d|host/a|b|r", 3, "b"},
        {"d|u|r", 0, ""},
        {"d|u|r", -1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text + " #" + std::to_string(c.n));
        EXPECT_EQ(ExtractField(c.text, c.n), c.field);
    }
}

std::tm At(int hour, int minute, int second) {
    std::tm time{};
    time.tm_year = 2024 - 1900;
    time.tm_mon = 1;
    time.tm_mday = 7;
    time.tm_hour = hour;
    time.tm_min = minute;
    time.tm_sec = second;
    time.tm_wday = 3;
    return time;
}

TEST(ConfigRegDateTest, TheTimeIsLeftOutOnlyInTheFirstSecondAfterMidnight) {
    const DateTimeFormat french{"%d/%m/%Y", "%H:%M:%S"};
    const DateTimeFormat american{"%m/%d/%y", "%I:%M:%S %p"};
    const struct {
        std::tm time;
        DateTimeFormat format;
        std::string text;
    } cases[] = {
        {At(0, 0, 0), french, "07/02/2024"},
        {At(0, 0, 1), french, "07/02/2024 00:00:01"},
        {At(0, 1, 0), french, "07/02/2024 00:01:00"},
        {At(12, 0, 0), french, "07/02/2024 12:00:00"},
        {At(23, 59, 59), french, "07/02/2024 23:59:59"},
        {At(0, 0, 0), american, "02/07/24"},
        {At(14, 5, 9), american, "02/07/24 02:05:09 PM"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(FormatLogDateTime(c.time, c.format), c.text);
    }
}

TEST(ConfigRegDateTest, WithoutRegionalSettingsTheFrenchFormatIsUsed) {
    for (const char* name : {"C", "POSIX", "C.UTF-8", "xx_NOWHERE.UTF-8"}) {
        SCOPED_TRACE(name);
        setenv("LC_ALL", name, 1);
        const auto format = UserDateTimeFormat();
        EXPECT_EQ(format.shortDate, "%d/%m/%Y");
        EXPECT_EQ(format.longTime, "%H:%M:%S");
    }
    unsetenv("LC_ALL");
}

TEST_F(ConfigRegLogTest, ABlockEventIsRecordedWithTheCurrentDateAndTime) {
    const std::string before = CurrentLogDateTime();
    ASSERT_TRUE(WriteBlockEventLog(Cp1252("bad.example/page?é"), kMalware));
    const std::string after = CurrentLogDateTime();
    const auto records = ReadLogRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_TRUE(records[0].date == before || records[0].date == after) << records[0].date;
    EXPECT_EQ(records[0].url, Cp1252("bad.example/page?é"));
    EXPECT_EQ(records[0].reason, kMalware);
}

TEST_F(ConfigRegLogTest, ABlockOfAnAddressTooLongForAValueNameIsRecordedCut) {
    const std::string longest = "adult.example/?q=" + std::string(20000, 'x');
    ASSERT_TRUE(WriteBlockEventLog(longest, kAdult));
    const auto records = ReadLogRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_TRUE(records[0].url.ends_with("xxx...")) << records[0].url.substr(0, 40);
    EXPECT_EQ(records[0].url.substr(0, 20), longest.substr(0, 20));
    EXPECT_EQ(records[0].reason, kAdult);
    std::vector<std::string> names;
    ReadLogEntries(names);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].size(), kMaxValueNameLength);

    // An address that fits is kept whole.
    const std::string fits = "adult.example/?q=" + std::string(1000, 'y');
    ASSERT_TRUE(WriteBlockEventLog(fits, kAdult));
    EXPECT_EQ(ReadLogRecords().back().url, fits);
}

}  // namespace
}  // namespace gx
