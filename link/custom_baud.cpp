#include "link/custom_baud.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

bool SetCustomBaudRate(int fd, int baud) {
    if (baud <= 0) {
        return false;
    }
    struct termios2 settings {};
    if (ioctl(fd, TCGETS2, &settings) != 0) {
        return false;
    }
    settings.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    settings.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    settings.c_ispeed = static_cast<speed_t>(baud);
    settings.c_ospeed = static_cast<speed_t>(baud);
    return ioctl(fd, TCSETS2, &settings) == 0;
}

int ReadCustomBaudRate(int fd) {
    struct termios2 settings {};
    if (ioctl(fd, TCGETS2, &settings) != 0) {
        return 0;
    }
    return static_cast<int>(settings.c_ospeed);
}
