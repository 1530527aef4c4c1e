// The console on a real registry hive in a temporary folder: the child-protection setting and
// the history, as they are stored.
#include <QCheckBox>
#include <QLineEdit>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <set>
#include <thread>

#include "ConsoleTestSupport.h"
#include "console/SidePages.h"
#include "engine/ChildProtection.h"
#include "platform/registry/HiveLocation.h"
#include "platform/registry/Registry.h"
#include "store/ParentalCode.h"

namespace gx::test {
namespace {

class ConsoleStoreTest : public ConsoleTest {
  protected:
    void SetUp() override {
        ConsoleTest::SetUp();
        ASSERT_TRUE(folder_.isValid());
        qputenv(kHivePathVariable, folder_.filePath("registry.db").toLocal8Bit());
        CloseProcessHive();
    }
    void TearDown() override {
        CloseProcessHive();
        qunsetenv(kHivePathVariable);
    }

    // Recording services whose settings and history are the program's own store.
    std::unique_ptr<TFormGardalix> StoreConsole() {
        ConsoleServices table = services.Table();
        const ConsoleServices program = ProgramServices();
        table.ReadPornFilter = program.ReadPornFilter;
        table.WritePornFilter = program.WritePornFilter;
        table.AddBlockLogEntry = program.AddBlockLogEntry;
        table.ReadLogEntries = program.ReadLogEntries;
        table.ReadParentalCode = program.ReadParentalCode;
        table.WriteParentalCode = program.WriteParentalCode;
        table.RemoveParentalCode = program.RemoveParentalCode;
        auto console = std::make_unique<TFormGardalix>(table);
        console->EndProgram = [this](int status) { endStatuses.push_back(status); };
        return console;
    }

    static std::optional<int32_t> StoredAdultFilter() {
        Registry registry;
        if (!registry.OpenKey(kGardalixKey, false) || !registry.ValueExists(kAdultFilterValue)) {
            return std::nullopt;
        }
        return registry.ReadInteger(kAdultFilterValue);
    }

    static void Store(const std::function<void(Registry&)>& write) {
        Registry registry;
        ASSERT_TRUE(registry.OpenKey(kGardalixKey, true));
        write(registry);
    }

    QTemporaryDir folder_;
};

TEST_F(ConsoleStoreTest, TheSettingFollowsApplyAndDefaultAcrossRestarts) {
    {
        auto console = StoreConsole();
        ASSERT_TRUE(console->FormCreate());
        EXPECT_EQ(StoredAdultFilter(), 0);  // created on the first start
        auto* box = Child<QCheckBox>(*console, "checkBlockPorn");
        EXPECT_FALSE(box->isChecked());

        box->click();
        EXPECT_EQ(StoredAdultFilter(), 0);  // nothing happens before Apply
        Child<QPushButton>(*console, "buttonAppliquerConfiguration")->click();
        EXPECT_EQ(StoredAdultFilter(), 1);
        EXPECT_TRUE(PornFilterOn);
    }
    PornFilterOn = false;
    {
        auto console = StoreConsole();  // the next start
        ASSERT_TRUE(console->FormCreate());
        EXPECT_TRUE(PornFilterOn);
        EXPECT_TRUE(Child<QCheckBox>(*console, "checkBlockPorn")->isChecked());
        Child<QPushButton>(*console, "buttonConfigurationDefaut")->click();
        EXPECT_EQ(StoredAdultFilter(), 0);
        EXPECT_FALSE(PornFilterOn);
        EXPECT_FALSE(Child<QCheckBox>(*console, "checkBlockPorn")->isChecked());
    }
}

TEST_F(ConsoleStoreTest, AStoredTwoReadsAsOffAndStaysUntilApply) {
    Store([](Registry& registry) { registry.WriteInteger(kAdultFilterValue, 2); });
    auto console = StoreConsole();
    ASSERT_TRUE(console->FormCreate());
    EXPECT_FALSE(PornFilterOn);
    EXPECT_FALSE(Child<QCheckBox>(*console, "checkBlockPorn")->isChecked());
    EXPECT_EQ(StoredAdultFilter(), 2);
    Child<QPushButton>(*console, "buttonAppliquerConfiguration")->click();
    EXPECT_EQ(StoredAdultFilter(), 0);
}

TEST_F(ConsoleStoreTest, ASettingOfTheWrongTypeIsShownCountsAsOffAndTheProtectionStarts) {
    Store([](Registry& registry) { registry.WriteString(kAdultFilterValue, "1"); });
    auto console = StoreConsole();
    ModalAnswerer answerer(QMessageBox::Ok);

    EXPECT_TRUE(console->FormCreate());

    ASSERT_EQ(answerer.seen.size(), 1u);
    EXPECT_EQ(answerer.seen[0].title, "Gardalix 2024");
    EXPECT_EQ(answerer.seen[0].text,
              QString::fromUtf8("Type de données incorrect pour 'PORN_FILTER'"));
    EXPECT_TRUE(console->TimerStartDriverTimer()->isActive());
    EXPECT_FALSE(Child<QCheckBox>(*console, "checkBlockPorn")->isChecked());
}

// A page with a hundred listed resources: a hundred stored entries, none lost to the timer.
TEST_F(ConsoleStoreTest, ABurstOfAHundredBlocksMakesAHundredStoredEntries) {
    auto console = StoreConsole();
    ASSERT_TRUE(console->FormCreate());
    console->TimerUpDateEventLogTimer()->setInterval(200);  // the countdown is not under test here
    {
        std::lock_guard guard(services.lock);
        for (int i = 0; i < 100; ++i) {
            services.pendingBlocks.push_back(BlockEvent{"bad.example/" + std::to_string(i),
                                                        "Site malveillant", "/usr/bin/wget", 7});
        }
    }
    std::thread worker(services.hook);
    worker.join();
    ASSERT_TRUE(SpinUntil([&] { return ProgramServices().ReadLogEntries().size() >= 100; }));
    std::set<std::string> addresses;
    for (const LogValue& entry : ProgramServices().ReadLogEntries()) {
        addresses.insert(entry.name.substr(entry.name.find('|') + 1));
    }
    EXPECT_EQ(addresses.size(), 100u);
    EXPECT_EQ(addresses.count("bad.example/42|Site malveillant"), 1u);
}

TEST_F(ConsoleStoreTest, ABlockBecomesOneStoredEntryWithItsProgramListedByTheHistoryTab) {
    auto console = StoreConsole();
    ASSERT_TRUE(console->FormCreate());
    console->TimerUpDateEventLogTimer()->setInterval(200);  // the countdown is not under test here
    {
        std::lock_guard guard(services.lock);
        services.pendingBlocks.push_back(
            BlockEvent{"bad.example/a|b", "Site malveillant", "/usr/bin/wget", 4321});
    }
    std::thread worker(services.hook);
    worker.join();
    ASSERT_TRUE(SpinUntil([&] { return !ProgramServices().ReadLogEntries().empty(); }));

    // The name is as it always was; the program is the value's data.
    const std::vector<LogValue> entries = ProgramServices().ReadLogEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_TRUE(entries[0].name.ends_with("|bad.example/a|b|Site malveillant")) << entries[0].name;
    EXPECT_EQ(entries[0].program, "/usr/bin/wget");
    Registry registry;
    ASSERT_TRUE(registry.OpenKey(kLogsKey, false));
    EXPECT_EQ(registry.ReadString(entries[0].name), "/usr/bin/wget");

    console->CoolTray2DblClick();
    console->Pages()->TabButton(2)->click();
    auto* grid = Child<QTableWidget>(*console, "TabHistoriqueAlertes");
    ASSERT_NE(grid->item(0, 0), nullptr);
    EXPECT_FALSE(grid->item(0, 0)->text().isEmpty());
    EXPECT_EQ(grid->item(0, 1)->text(), "bad.example/a");
    EXPECT_EQ(grid->item(0, 2)->text(), "b");
    EXPECT_EQ(grid->rowCount(), 49);
    EXPECT_TRUE(grid->item(0, 2)->toolTip().endsWith("Programme : /usr/bin/wget"));
}

TEST_F(ConsoleStoreTest, TheParentalCodeSetOnTheTabIsStoredAsAHashThatDoesNotHoldTheCode) {
    auto console = StoreConsole();
    ASSERT_TRUE(console->FormCreate());
    const QString code = QStringLiteral("7391");
    {
        ModalAnswerer answerer(QMessageBox::Ok, [&](QWidget* dialog) {
            dialog->findChild<QLineEdit*>(QStringLiteral("EditNewCode"))->setText(code);
            dialog->findChild<QLineEdit*>(QStringLiteral("EditConfirmCode"))->setText(code);
            dialog->findChild<QPushButton*>(QStringLiteral("OKButton"))->click();
        });
        Child<QPushButton>(*console, "buttonDefinirCode")->click();
        ASSERT_EQ(answerer.seen.size(), 2u);  // the dialog, then "Le code parental est défini."
    }

    Registry registry;
    ASSERT_TRUE(registry.OpenKey(kGardalixKey, false));
    const std::string stored = registry.ReadString(kParentalCodeValue);
    EXPECT_TRUE(stored.starts_with("pbkdf2-sha256$")) << stored;
    EXPECT_EQ(stored.find(code.toStdString()), std::string::npos) << stored;
    EXPECT_TRUE(ParentalCodeMatches(code.toStdString(), stored));
    EXPECT_EQ(Child<QPushButton>(*console, "buttonDefinirCode")->text(),
              QString::fromUtf8("&Changer le code..."));
}

}  // namespace
}  // namespace gx::test
