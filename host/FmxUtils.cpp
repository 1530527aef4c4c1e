#include "host/FmxUtils.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

namespace gx {

namespace {

bool IsExecutableFile(const QString& path) {
    const QFileInfo info(path);
    return !path.contains(QLatin1String("://")) && info.isFile() && info.isExecutable();
}

}  // namespace

bool ShellOpen(const std::string& file, const std::string& parameters, const std::string& directory,
               int /*show*/) {
    const QString target = QString::fromStdString(file);
    if (target.isEmpty()) {
        return false;
    }
    if (IsExecutableFile(target)) {
        const QString workingDirectory =
            directory.empty() ? QDir::currentPath() : QString::fromStdString(directory);
        return QProcess::startDetached(QFileInfo(target).absoluteFilePath(),
                                       QProcess::splitCommand(QString::fromStdString(parameters)),
                                       workingDirectory);
    }
    const QUrl url = QFileInfo::exists(target)
                         ? QUrl::fromLocalFile(QFileInfo(target).absoluteFilePath())
                         : QUrl::fromUserInput(target);
    return url.isValid() && QDesktopServices::openUrl(url);
}

}  // namespace gx
