// The console on a real registry hive in a temporary folder: the child-protection setting and
// the history, as they are stored.
#include <QCheckBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <thread>

#include "ConsoleTestSupport.h"
#include "console/GX_SidePages.h"
#include "engine/PornFilter.h"
#include "platform/registry/HiveLocation.h"
#include "platform/registry/Registry.h"

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
        auto console = std::make_unique<TFormGardalix>(table);
        console->EndProgram = [this](int status) { endStatuses.push_back(status); };
        return console;
    }

    static std::optional<int32_t> StoredPornFilter() {
        TRegistry registry;
        if (!registry.OpenKey(kGardalixKey, false) || !registry.ValueExists(kPornFilterValue)) {
            return std::nullopt;
        }
        return registry.ReadInteger(kPornFilterValue);
    }

    static void Store(const std::function<void(TRegistry&)>& write) {
        TRegistry registry;
        ASSERT_TRUE(registry.OpenKey(kGardalixKey, true));
        write(registry);
    }

    QTemporaryDir folder_;
};

TEST_F(ConsoleStoreTest, TheSettingFollowsApplyAndDefaultAcrossRestarts) {
    {
        auto console = StoreConsole();
        ASSERT_TRUE(console->FormCreate());
        EXPECT_EQ(StoredPornFilter(), 0);  // created on the first start
        auto* box = Child<QCheckBox>(*console, "checkBlockPorn");
        EXPECT_FALSE(box->isChecked());

        box->click();
        EXPECT_EQ(StoredPornFilter(), 0);  // nothing happens before Apply
        Child<QPushButton>(*console, "buttonAppliquerConfiguration")->click();
        EXPECT_EQ(StoredPornFilter(), 1);
        EXPECT_TRUE(PornFilterOn);
    }
    PornFilterOn = false;
    {
        auto console = StoreConsole();  // the next start
        ASSERT_TRUE(console->FormCreate());
        EXPECT_TRUE(PornFilterOn);
        EXPECT_TRUE(Child<QCheckBox>(*console, "checkBlockPorn")->isChecked());
        Child<QPushButton>(*console, "buttonConfigurationDefaut")->click();
        EXPECT_EQ(StoredPornFilter(), 0);
        EXPECT_FALSE(PornFilterOn);
        EXPECT_FALSE(Child<QCheckBox>(*console, "checkBlockPorn")->isChecked());
    }
}

TEST_F(ConsoleStoreTest, AStoredTwoReadsAsOffAndStaysUntilApply) {
    Store([](TRegistry& registry) { registry.WriteInteger(kPornFilterValue, 2); });
    auto console = StoreConsole();
    ASSERT_TRUE(console->FormCreate());
    EXPECT_FALSE(PornFilterOn);
    EXPECT_FALSE(Child<QCheckBox>(*console, "checkBlockPorn")->isChecked());
    EXPECT_EQ(StoredPornFilter(), 2);
    Child<QPushButton>(*console, "buttonAppliquerConfiguration")->click();
    EXPECT_EQ(StoredPornFilter(), 0);
}

TEST_F(ConsoleStoreTest, ASettingOfTheWrongTypeIsShownCountsAsOffAndTheProtectionStarts) {
    Store([](TRegistry& registry) { registry.WriteString(kPornFilterValue, "1"); });
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

TEST_F(ConsoleStoreTest, ABlockBecomesOneStoredEntryListedByTheHistoryTab) {
    auto console = StoreConsole();
    ASSERT_TRUE(console->FormCreate());
    console->TimerUpDateEventLogTimer()->setInterval(200);  // the countdown is not under test here
    {
        std::lock_guard guard(services.lock);
        services.lastBlock = BlockEvent{"bad.example/a|b", "Site malveillant"};
    }
    std::thread worker(services.hook);
    worker.join();
    ASSERT_TRUE(SpinUntil([&] { return !ProgramServices().ReadLogEntries().empty(); }));

    const std::vector<std::string> entries = ProgramServices().ReadLogEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_TRUE(entries[0].ends_with("|bad.example/a|b|Site malveillant")) << entries[0];

    console->CoolTray2DblClick();
    console->Pages()->TabButton(2)->click();
    auto* grid = Child<QTableWidget>(*console, "TabHistoriqueAlertes");
    ASSERT_NE(grid->item(0, 0), nullptr);
    EXPECT_FALSE(grid->item(0, 0)->text().isEmpty());
    EXPECT_EQ(grid->item(0, 1)->text(), "bad.example/a");
    EXPECT_EQ(grid->item(0, 2)->text(), "b");
    EXPECT_EQ(grid->rowCount(), 49);
}

}  // namespace
}  // namespace gx::test
