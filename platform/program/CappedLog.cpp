#include "platform/program/CappedLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

#include "platform/program/FdText.h"
#include "platform/program/LocalTime.h"

namespace gx {

void AppendLogLine(const std::string& path, std::string_view text, off_t boundBytes) {
    struct stat status;
    if (::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
        status.st_size > boundBytes) {
        ::rename(path.c_str(), (path + ".1").c_str());
    }
    const int fd = ::open(
        path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) {
        return;
    }
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
        std::string line = LocalTimeText(std::time(nullptr), "%Y-%m-%d %H:%M:%S");
        line += ' ';
        line += text;
        line += '\n';
        WriteAll(fd, line);
    }
    ::close(fd);
}

}  // namespace gx
