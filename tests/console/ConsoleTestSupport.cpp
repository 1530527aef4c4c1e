#include "ConsoleTestSupport.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QElapsedTimer>
#include <QUrl>
#include <algorithm>
#include <thread>
#include <utility>

namespace gx::test {

QApplication& App() {
    static int argc = 1;
    static char name[] = "gx_console_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* application = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        auto* app = new QApplication(argc, argv);
        QApplication::setApplicationDisplayName(QStringLiteral("Gardalix 2024"));
        QApplication::setQuitOnLastWindowClosed(false);
        return app;
    }();
    return *application;
}

bool SpinUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return done();
}

ConsoleServices RecordingServices::Table() {
    ConsoleServices table;
    auto note = [this](const std::string& call) {
        std::lock_guard guard(lock);
        calls.push_back(call);
    };
    table.LoadPornURLList = [this, note] {
        note("LoadPornURLList");
        return pornListLoads;
    };
    table.LoadMalwareURLList = [this, note] {
        note("LoadMalwareURLList");
        return malwareListLoads;
    };
    table.StartDriver = [this, note] {
        note("StartDriver");
        return driverStarts;
    };
    table.StopDriver = [note] { note("StopDriver"); };
    table.ClearExemptionTables = [note] { note("ClearExemptionTables"); };
    table.TakeBlockEvents = [this] {
        std::lock_guard guard(lock);
        return std::exchange(pendingBlocks, {});
    };
    table.SetArmBlockTimerHook = [this, note](ArmBlockTimerHook armHook) {
        note(armHook ? "SetArmBlockTimerHook" : "ClearArmBlockTimerHook");
        hook = armHook;
    };
    table.SetBlockAlertHook = [this, note](BlockAlertHook armHook) {
        note(armHook ? "SetBlockAlertHook" : "ClearBlockAlertHook");
        alertHook = armHook;
    };
    table.ProxyAddress = [] { return std::string("127.0.0.1:3128"); };
    table.ReadPornFilter = [this, note] {
        note("ReadPornFilter");
        return pornFilterStored;
    };
    table.WritePornFilter = [this, note](bool on) {
        note("WritePornFilter");
        if (throwOnApply) {
            throwOnApply();
        }
        writes.push_back(on);
        pornFilterStored = on;
    };
    table.AddBlockLogEntry = [this, note](const std::string& url, const std::string& reason,
                                          const std::string& program) {
        note("AddBlockLogEntry");
        logEntries.push_back("date|" + url + "|" + reason);
        logPrograms.resize(logEntries.size() - 1);
        logPrograms.push_back(program);
    };
    table.ReadLogEntries = [this] {
        std::lock_guard guard(lock);
        std::vector<LogValue> values;
        for (size_t i = 0; i < logEntries.size(); ++i) {
            values.push_back({logEntries[i], i < logPrograms.size() ? logPrograms[i] : ""});
        }
        return values;
    };
    table.ReadParentalCode = [this] { return parentalCode; };
    table.WriteParentalCode = [this, note](const std::string& hash) {
        note("WriteParentalCode");
        parentalCode = hash;
    };
    table.RemoveParentalCode = [this, note] {
        note("RemoveParentalCode");
        parentalCode.clear();
    };
    return table;
}

int RecordingServices::Count(const std::string& call) {
    std::lock_guard guard(lock);
    return static_cast<int>(std::count(calls.begin(), calls.end(), call));
}

ModalAnswerer::ModalAnswerer(QMessageBox::StandardButton answer,
                             std::function<void(QWidget*)> onDialog)
    : answer_(answer), onDialog_(std::move(onDialog)) {
    connect(&timer_, &QTimer::timeout, this, &ModalAnswerer::Poll);
    timer_.start(20);
}

void ModalAnswerer::Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible()) {
        return;
    }
    SeenBox box;
    box.title = modal->windowTitle();
    box.className = QString::fromLatin1(modal->metaObject()->className());
    if (auto* message = qobject_cast<QMessageBox*>(modal)) {
        box.text = message->text();
        box.icon = message->icon();
        seen.push_back(box);
        if (QAbstractButton* button = message->button(answer_)) {
            button->click();
        } else {
            message->reject();
        }
        return;
    }
    seen.push_back(box);
    if (onDialog_) {
        onDialog_(modal);
    } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
        dialog->accept();
    }
}

OpenedUrls::OpenedUrls() {
    for (const char* scheme : {"http", "https", "file"}) {
        QDesktopServices::setUrlHandler(QLatin1String(scheme), this, "Open");
    }
}

OpenedUrls::~OpenedUrls() {
    for (const char* scheme : {"http", "https", "file"}) {
        QDesktopServices::unsetUrlHandler(QLatin1String(scheme));
    }
}

void OpenedUrls::Open(const QUrl& url) {
    urls.push_back(url.toString());
}

}  // namespace gx::test
