// A console with a recording engine that accepts every offered update: the program side of the
// hand-over test. Started by UpdateRestartTest as a child process from a folder of its own,
// which holds the stand-in restart program. It writes on stderr when it closes the
// update-applied notice ("notice closed at <monotonic ns>"); after that the process must end
// by the quit timer with status 0. Status 3 means the event loop ended instead, 4 that the
// protection did not start.
#include <time.h>

#include <QApplication>
#include <QTimer>
#include <cstdio>

#include "UpdateTestSupport.h"
#include "update/gx_update.h"

namespace {

long long MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    gx::test::RecordingServices services;
    gx::TFormGardalix console(services.Table());
    console.EndProgram = [](int) { QCoreApplication::exit(3); };
    if (!console.FormCreate()) {
        return 5;
    }
    console.Updater().CreateDialogs();
    gx::test::UpdateAnswerer answerer(true);
    answerer.onApplied = [] {
        std::fprintf(stderr, "notice closed at %lld\n", MonotonicNs());
        std::fflush(stderr);
    };
    QObject::connect(&console, &gx::TFormGardalix::TimedStartDone, &console, [&](bool started) {
        if (!started) {
            QCoreApplication::exit(4);
            return;
        }
        console.Label_MiseAJourClick();
        std::fprintf(stderr, "check ended, protection %s, StopDriver %d\n",
                     console.ProtectionActive() ? "on" : "off", services.Count("StopDriver"));
        std::fflush(stderr);
    });
    QApplication::exec();
    return 3;
}
