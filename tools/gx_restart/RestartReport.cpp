#include "RestartReport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <cstdlib>
#include <ctime>
#include <iostream>

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

std::string Now() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
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
    struct stat status;
    if (::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
        status.st_size > kLogBound) {
        ::rename(path.c_str(), (path + ".1").c_str());
    }
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return;
    }
    const std::string line = Now() + " " + text + "\n";
    [[maybe_unused]] const ssize_t written = ::write(fd, line.data(), line.size());
    ::close(fd);
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
