#include "link/serial_line.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "link/custom_baud.h"

namespace {

struct RateConstant {
    int baud;
    speed_t constant;
};

constexpr RateConstant kStandardRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

// B0 is not a rate: it means "hang up".
speed_t StandardRate(int baud) {
    for (const auto& rate : kStandardRates) {
        if (rate.baud == baud) {
            return rate.constant;
        }
    }
    return B0;
}

// Drivers round an arbitrary rate to what their clock divides to; a UART still frames
// bytes correctly within about 2 %, further off the driver has in effect refused the rate.
bool CloseEnough(int wanted, int got) {
    return got > 0 && std::abs(static_cast<long long>(got) - wanted) * 50 <= wanted;
}

}  // namespace

int OpenSerialDevice(const std::string& path) {
    if (path.empty()) {
        return -1;
    }
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool ConfigureSerialLine(int fd, int baud) {
    if (fd < 0 || baud <= 0) {
        return false;
    }
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) {
        return false;
    }
    cfmakeraw(&settings);
    settings.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= ~(IXON | IXOFF | IXANY);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    const speed_t standard = StandardRate(baud);
    if (standard != B0) {
        cfsetispeed(&settings, standard);
        cfsetospeed(&settings, standard);
    }
    if (tcsetattr(fd, TCSANOW, &settings) != 0) {
        return false;
    }
    if (standard == B0 && !SetCustomBaudRate(fd, baud)) {
        return false;
    }
    // tcsetattr succeeds when any part of the change was made, so read the rate back.
    termios applied{};
    if (tcgetattr(fd, &applied) != 0) {
        return false;
    }
    if (standard != B0 ? cfgetospeed(&applied) != standard
                       : !CloseEnough(baud, ReadCustomBaudRate(fd))) {
        return false;
    }
    ioctl(fd, TIOCEXCL);
    tcflush(fd, TCIFLUSH);
    return true;
}

std::unique_ptr<termios> SaveLineSettings(int fd) {
    auto settings = std::make_unique<termios>();
    if (fd < 0 || tcgetattr(fd, settings.get()) != 0) {
        return nullptr;
    }
    return settings;
}

void CloseSerialDevice(int fd, const termios* saved) {
    if (fd < 0) {
        return;
    }
    if (saved != nullptr) {
        tcsetattr(fd, TCSANOW, saved);
    }
    ioctl(fd, TIOCNXCL);
    close(fd);
}
