#include "link/posix_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

bool WriteAll(int fd, std::string_view data) {
    const char* next = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        const ssize_t written = write(fd, next, left);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (written == 0) {
            errno = EIO;
            return false;
        }
        next += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

bool SyncData(int fd) {
    while (fdatasync(fd) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

void SyncFolder(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}
