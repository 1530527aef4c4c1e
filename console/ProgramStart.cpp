#include "console/ProgramStart.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/auxv.h>
#include <unistd.h>

#include <QApplication>
#include <QLibraryInfo>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "console/ConsoleTexts.h"
#include "console/GX_Main.h"
#include "lists/GX_MalwareURL.h"
#include "lists/GX_PornURL.h"
#include "platform/codepage/Cp1252.h"
#include "platform/instance/InstanceLock.h"
#include "platform/instance/ShowConsoleChannel.h"
#include "store/GX_ConfigReg.h"
#include "update/ListsRefresh.h"
#include "update/gx_update.h"

namespace gx {

namespace {

// SIGTERM and SIGINT end the program through its normal shutdown: the handler only writes to a
// pipe that the event loop watches.
int signalPipe[2] = {-1, -1};

void OnEndSignal(int /*signal*/) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
}

void EndOnSignals(QObject* owner) {
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [] {
        char byte = 0;
        while (read(signalPipe[0], &byte, 1) > 0) {
        }
        QCoreApplication::exit(0);
    });
    struct sigaction action {};
    action.sa_handler = OnEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

void TellNoDisplay(bool started, const std::string& proxyAddress) {
    std::string notice = text::kHeadlessNotice;
    if (!started) {
        notice += text::kHeadlessNotRunning;
    } else if (proxyAddress.empty()) {
        notice += std::string(text::kHeadlessRunning) + ".";
    } else {
        notice += text::kHeadlessRunning + (text::kHeadlessProxy + proxyAddress) + ".";
    }
    std::fprintf(stderr, "%s\n", notice.c_str());
}

// A field of a history line: UTF-8, without the tabs and line breaks that would split it.
std::string HistoryField(const std::string& cp1252) {
    std::string field = Cp1252ToUtf8(cp1252);
    for (char& c : field) {
        if (c == '\t' || c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return field;
}

// `gardalix --lists`: the lists that a start would put in use, as the Filtrage tab shows them.
int PrintLists() {
    if (!LoadPornURLList() || !LoadMalwareURLList()) {
        std::fprintf(stderr, "%s\n", text::kListsUnreadable);
        return 1;
    }
    TakeStoredLists(ProgramListsPlaces());
    std::printf("%s\n", ListsSummary().c_str());
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

int PrintHistory() {
    const std::string lines = HistoryLines();
    std::fwrite(lines.data(), 1, lines.size(), stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

}  // namespace

std::string HistoryLines() {
    std::string lines;
    for (const LogEntry& entry : ReadLogRecords()) {
        lines += HistoryField(entry.date) + '\t' + HistoryField(entry.url) + '\t' +
                 HistoryField(entry.reason) + '\t' + HistoryField(entry.program) + '\n';
    }
    return lines;
}

bool NoDisplay() {
    return !IsSet("DISPLAY") && !IsSet("WAYLAND_DISPLAY");
}

bool InstallFrenchTranslations() {
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    bool loaded = false;
    for (const char* name : {"qtbase_fr", "qt_fr"}) {
        auto* translator = new QTranslator(QCoreApplication::instance());
        if (translator->load(QLatin1String(name), folder)) {
            QCoreApplication::installTranslator(translator);
            loaded = true;
        } else {
            delete translator;
        }
    }
    return loaded;
}

bool StartedWithRaisedPrivileges() {
    return ::getauxval(AT_SECURE) != 0;
}

void ForgetCallersQtSettings(bool privileged) {
    if (!privileged) {
        return;
    }
    std::vector<std::string> names;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view variable(*entry);
        if (variable.starts_with("QT_") || variable.starts_with("QML")) {
            names.emplace_back(variable.substr(0, variable.find('=')));
        }
    }
    for (const auto& name : names) {
        ::unsetenv(name.c_str());
    }
}

int RunGardalix(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]) == "--history") {
        return PrintHistory();
    }
    if (argc == 2 && std::string_view(argv[1]) == "--lists") {
        return PrintLists();
    }
    ForgetCallersQtSettings(StartedWithRaisedPrivileges());
    // Sockets need no start-up on this system: the engine and the HTTP client use them directly.
    const std::string folder = InstanceFolder();
    if (AcquireInstanceLock(folder) == InstanceState::AnotherCopyRuns) {
        // Whether or not a console answered, this copy ends here without a window.
        SendShowConsoleMessage(folder);
        return 0;
    }

    // Without a display the protection still runs, on a platform that draws nowhere.
    const bool noDisplay = NoDisplay();
    if (noDisplay && !IsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("gardalix"));
    QApplication::setApplicationDisplayName(QString::fromUtf8(text::kApplicationTitle));
    QApplication::setQuitOnLastWindowClosed(false);
    InstallFrenchTranslations();
    EndOnSignals(&application);

    TellOnStderrInsteadOfBoxes(noDisplay);
    TFormGardalix console(ProgramServices());
    ShowConsoleServer showConsole([&console] { console.CoolTray2DblClick(); });
    console.OnInstallMessageHandler = [&] { showConsole.Listen(folder); };
    if (!console.FormCreate()) {
        return 0;
    }
    console.Updater().CreateDialogs();
    if (noDisplay) {
        // Told once, after the timed start, when the proxy's port is known.
        QObject::connect(
            &console, &TFormGardalix::TimedStartDone, &console,
            [](bool started) { TellNoDisplay(started, ProgramServices().ProxyAddress()); },
            Qt::SingleShotConnection);
    } else if (QSystemTrayIcon::isSystemTrayAvailable()) {
        console.TrayIcon()->show();
    } else {
        // No tray to open it from: the console shows itself.
        console.CoolTray2DblClick();
    }
    const int status = QApplication::exec();
    // The proxy's threads live in this process: stop them before the program's objects go away,
    // which also lets every block under way hand its address over before the last entry is
    // recorded.
    if (console.ProtectionActive()) {
        ProgramServices().StopDriver();
    }
    console.FlushPendingHistory();
    return status;
}

}  // namespace gx
