#include "RestartReport.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <cstdlib>
#include <iostream>

#include "platform/program/CappedLog.h"
#include "platform/registry/HiveLocation.h"

namespace gx {

namespace {

constexpr off_t kLogBound = 256 * 1024;
constexpr int kBoxLifetimeMs = 5 * 60 * 1000;

bool HasDisplay() {
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && value[0] != '\0') {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string RestartLogPath() {
    const std::string hive = HivePath(true);
    const std::size_t slash = hive.rfind('/');
    return slash == std::string::npos ? std::string() : hive.substr(0, slash + 1) + kRestartLogName;
}

void LogLine(const std::string& text) {
    std::cerr << "gx_restart : " << text << "\n";
    const std::string path = RestartLogPath();
    if (path.empty()) {
        return;
    }
    AppendLogLine(path, text, kLogBound);
}

void TellUser(const std::string& sentence) {
    std::cerr << sentence << "\n";
    if (!HasDisplay()) {
        return;
    }
    int argc = 1;
    char name[] = "gx_restart";
    char* argv[] = {name, nullptr};
    QApplication application(argc, argv);
    QMessageBox box(QMessageBox::Warning, "Gardalix : mise à jour",
                    QString::fromStdString(sentence), QMessageBox::Ok);
    QTimer::singleShot(kBoxLifetimeMs, &box, &QMessageBox::reject);
    box.exec();
}

}  // namespace gx
