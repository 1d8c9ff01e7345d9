#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/win_base.h"

namespace {

bool isRegular(const struct stat& info) {
    return S_ISREG(info.st_mode);
}

}  // namespace

std::FILE* openRegularFile(const char* name) {
    // Looked at before opening, so that no device is opened at all; opened without waiting, as
    // opening a FIFO for reading otherwise waits for a writer; and looked at again once open, as
    // the name may have been given to something else in between.
    struct stat info;
    if (stat(name, &info) != 0 || !isRegular(info)) return nullptr;
    const int fd = open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    if (fstat(fd, &info) != 0 || !isRegular(info)) {
        close(fd);
        return nullptr;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(fd);
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "rb");
    if (file == nullptr) close(fd);
    return file;
}
