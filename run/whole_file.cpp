#include "run/whole_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

std::optional<std::string> ReadWholeFile(const std::string& path) {
    // A link is followed: a journal or a key may live elsewhere, named from here.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string text;
    char buffer[65536];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
        if (n > 0) {
            text.append(buffer, static_cast<std::size_t>(n));
        }
    }
    const int readErrno = errno;
    close(fd);
    if (n < 0) {
        errno = readErrno;
        return std::nullopt;
    }
    return text;
}
