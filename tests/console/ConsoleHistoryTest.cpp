// The history tab and the block-event timer.
#include <QHeaderView>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <thread>

#include "ConsoleTestSupport.h"
#include "console/SidePages.h"

namespace gx::test {
namespace {

class ConsoleHistoryTest : public ConsoleTest {
  protected:
    static QString Cell(QTableWidget* grid, int row, int column) {
        QTableWidgetItem* item = grid->item(row, column);
        return item == nullptr ? QString() : item->text();
    }

    // A block as the engine reports it: queued, then the hook runs on a worker thread.
    void BlockOnWorker(const std::string& url, const std::string& reason) {
        {
            std::lock_guard guard(services.lock);
            services.pendingBlocks.push_back(BlockEvent{url, reason, "/usr/bin/wget", 99});
        }
        ASSERT_NE(services.hook, nullptr);
        std::thread worker(services.hook);
        worker.join();
    }
};

TEST_F(ConsoleHistoryTest, TheTabListsEveryEntryEachTimeItIsShown) {
    for (int i = 0; i < 59; ++i) {
        services.logEntries.push_back("07/02/2024 14:05:" + std::to_string(10 + i) +
                                      "|bad.example/" + std::to_string(i) + "|Site malveillant");
    }
    services.logEntries.push_back("07/02/2024 15:00:00|pipe.example/a|b|Site adulte");
    services.logEntries.push_back("08/02/2024|caf\xE9.example/|Site malveillant");  // Windows-1252
    auto console = CreatedConsole();
    console->CoolTray2DblClick();
    auto* grid = Child<QTableWidget>(*console, "TabHistoriqueAlertes");

    console->Pages()->TabButton(2)->click();

    ASSERT_EQ(grid->rowCount(), 61);
    EXPECT_EQ(Cell(grid, 0, 0), "07/02/2024 14:05:10");
    EXPECT_EQ(Cell(grid, 0, 1), "bad.example/0");
    EXPECT_EQ(Cell(grid, 0, 2), "Site malveillant");
    EXPECT_EQ(Cell(grid, 58, 1), "bad.example/58");
    EXPECT_EQ(Cell(grid, 59, 1), "pipe.example/a");
    EXPECT_EQ(Cell(grid, 59, 2), "b");
    EXPECT_EQ(Cell(grid, 60, 0), "08/02/2024");
    EXPECT_EQ(Cell(grid, 60, 1), QString::fromUtf8("café.example/"));
    EXPECT_EQ(grid->item(59, 1)->textAlignment(), Qt::AlignCenter);
    EXPECT_EQ(grid->horizontalHeader()->defaultAlignment(), Qt::AlignCenter);
    EXPECT_EQ(grid->columnWidth(0), 120);
    EXPECT_EQ(grid->columnWidth(1), 230);
    EXPECT_EQ(grid->columnWidth(2), 75);
    EXPECT_EQ(grid->editTriggers(), QAbstractItemView::NoEditTriggers);

    // Shown again after a new entry: refilled; back to few entries: never under 49 rows.
    services.logEntries.resize(2);
    services.logEntries.push_back("09/02/2024 10:00:00|new.example/|Site malveillant");
    console->Pages()->TabButton(0)->click();
    console->Pages()->TabButton(2)->click();
    EXPECT_EQ(grid->rowCount(), 49);
    EXPECT_EQ(Cell(grid, 2, 1), "new.example/");
    EXPECT_EQ(Cell(grid, 3, 1), "");

    // Hidden in the tray with the tab selected, and opened again: refilled too.
    services.logEntries.push_back("09/02/2024 10:00:01|later.example/|Site malveillant");
    console->close();
    console->CoolTray2DblClick();
    EXPECT_EQ(Cell(grid, 3, 1), "later.example/");
}

TEST_F(ConsoleHistoryTest, ABurstOfBlocksBeforeTheTickMakesOneEntryEachInOrder) {
    auto console = CreatedConsole();
    QTimer* timer = console->TimerUpDateEventLogTimer();
    EXPECT_EQ(timer->interval(), 5000);

    BlockOnWorker("one.example/", "Site malveillant");
    ASSERT_TRUE(SpinUntil([&] { return timer->isActive(); }));
    SpinUntil([] { return false; }, 700);
    const int remainingAfterFirst = timer->remainingTime();
    BlockOnWorker("two.example/", "Site adulte");
    SpinUntil([] { return false; }, 700);
    BlockOnWorker("three.example/x", "URL de test (sans danger)");
    SpinUntil([] { return false; }, 50);
    // The later blocks did not restart the countdown.
    EXPECT_LT(timer->remainingTime(), remainingAfterFirst);
    EXPECT_TRUE(services.logEntries.empty());

    ASSERT_TRUE(SpinUntil([&] { return !services.logEntries.empty(); }, 15000));
    SpinUntil([] { return false; }, 200);
    EXPECT_EQ(services.logEntries, (std::vector<std::string>{
                                       "date|one.example/|Site malveillant",
                                       "date|two.example/|Site adulte",
                                       "date|three.example/x|URL de test (sans danger)",
                                   }));
    EXPECT_FALSE(timer->isActive());

    // A block after the tick arms the timer again.
    BlockOnWorker("four.example/", "Site malveillant");
    ASSERT_TRUE(SpinUntil([&] { return timer->isActive(); }));
}

TEST_F(ConsoleHistoryTest, AnEntryStillWaitingAtTheEndIsRecordedNotLost) {
    auto console = CreatedConsole();
    console->FlushPendingHistory();
    EXPECT_TRUE(services.logEntries.empty());  // nothing waiting, nothing written

    BlockOnWorker("late.example/", "Site malveillant");
    ASSERT_TRUE(SpinUntil([&] { return console->TimerUpDateEventLogTimer()->isActive(); }));
    console->FlushPendingHistory();
    EXPECT_EQ(services.logEntries, std::vector<std::string>{"date|late.example/|Site malveillant"});
    EXPECT_FALSE(console->TimerUpDateEventLogTimer()->isActive());
}

TEST_F(ConsoleHistoryTest, TheHookIsRemovedWhenTheConsoleGoesAway) {
    {
        auto console = CreatedConsole();
        EXPECT_NE(services.hook, nullptr);
        EXPECT_NE(services.alertHook, nullptr);
    }
    EXPECT_EQ(services.hook, nullptr);
    EXPECT_EQ(services.alertHook, nullptr);
    // A late block from the engine reaches no console and does no harm.
    TFormGardalix::ArmBlockTimerFromWorker();
    TFormGardalix::AlertFromWorker(BlockEvent{"bad.example/", "Site malveillant", "/usr/bin/x", 1});
    QApplication::processEvents();
}

}  // namespace
}  // namespace gx::test
