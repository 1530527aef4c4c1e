// Shared by the console tests: the Qt application, a recording table of services, and an answerer
// for modal boxes.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "console/ConsoleServices.h"
#include "engine/ChildProtection.h"

class QApplication;

// Readable failures.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace gx::test {

// The one QApplication of the test process (offscreen), made on first use.
QApplication& App();

// Runs the event loop until `done` holds or the time-out passes; returns `done()`.
bool SpinUntil(const std::function<bool()>& done, int timeoutMs = 10000);

// Services that record what the console asks, with answers the test sets.
struct RecordingServices {
    std::mutex lock;
    std::vector<std::string> calls;  // in call order
    bool pornListLoads = true;
    bool malwareListLoads = true;
    bool driverStarts = true;
    bool pornFilterStored = false;
    std::vector<bool> writes;               // WritePornFilter arguments
    std::vector<std::string> logEntries;    // names
    std::vector<std::string> logPrograms;   // the program of each entry, where the test sets one
    std::vector<BlockEvent> pendingBlocks;  // as the engine queues them
    ArmBlockTimerHook hook = nullptr;
    BlockAlertHook alertHook = nullptr;
    std::string parentalCode;            // the stored hash, "" = none
    std::function<void()> throwOnApply;  // run inside WritePornFilter when set

    ConsoleServices Table();
    int Count(const std::string& call);
};

struct SeenBox {
    QString title;
    QString text;
    QString className;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Answers every modal box that opens while it lives: message boxes with `answer`, other dialogs
// by `onDialog` (accept() when empty). Records what it saw.
class ModalAnswerer : public QObject {
  public:
    explicit ModalAnswerer(QMessageBox::StandardButton answer,
                           std::function<void(QWidget*)> onDialog = {});
    std::vector<SeenBox> seen;

  private:
    void Poll();
    QMessageBox::StandardButton answer_;
    std::function<void(QWidget*)> onDialog_;
    QTimer timer_;
};

// Records the addresses that the program hands to the desktop's opener.
class OpenedUrls : public QObject {
    Q_OBJECT
  public:
    OpenedUrls();
    ~OpenedUrls() override;
    QStringList urls;

  public slots:
    void Open(const QUrl& url);
};

}  // namespace gx::test

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <memory>

#include "console/GX_Main.h"
#include "store/GX_ConfigReg.h"

namespace gx::test {

// A console built around recording services; EndProgram only records.
class ConsoleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        App();
        PornFilterOn = false;
    }

    std::unique_ptr<TFormGardalix> MakeConsole() {
        auto console = std::make_unique<TFormGardalix>(services.Table());
        console->EndProgram = [this](int status) { endStatuses.push_back(status); };
        return console;
    }

    // A console after a creation without boxes.
    std::unique_ptr<TFormGardalix> CreatedConsole() {
        auto console = MakeConsole();
        EXPECT_TRUE(console->FormCreate());
        return console;
    }

    template <typename T>
    static T* Child(TFormGardalix& console, const char* name) {
        T* child = console.findChild<T*>(QLatin1String(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }

    static QAction* TrayItem(TFormGardalix& console, const char* name) {
        return console.TrayMenu()->findChild<QAction*>(QLatin1String(name));
    }

    static QColor LabelColour(TFormGardalix& console) {
        return Child<QLabel>(console, "StatusLabel")->palette().color(QPalette::WindowText);
    }

    RecordingServices services;
    std::vector<int> endStatuses;
};

}  // namespace gx::test
