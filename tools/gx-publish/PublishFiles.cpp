#include "PublishFiles.h"
#include "platform/program/FdText.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace gx {

bool WriteNewFile(const std::string& path, const std::string& contents, unsigned mode) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) {
        return false;
    }
    // The mode asked for, whatever the umask left of it.
    bool written = ::fchmod(fd, mode) == 0 && WriteAll(fd, contents) && ::fsync(fd) == 0;
    written = ::close(fd) == 0 && written;
    if (!written) {
        ::unlink(path.c_str());
    }
    return written;
}

}  // namespace gx
