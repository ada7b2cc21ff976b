#include "sim/pty_pair.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

bool OpenPtyPair(PtyPair& pair) {
    ClosePtyPair(pair);
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (master < 0) {
        return false;
    }
    char name[128];
    if (grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name, sizeof(name)) != 0) {
        close(master);
        return false;
    }
    const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        close(master);
        return false;
    }
    // Without raw mode the line discipline would hold bytes back until a line end and
    // translate or echo others.
    termios settings{};
    if (tcgetattr(slave, &settings) == 0) {
        cfmakeraw(&settings);
        tcsetattr(slave, TCSANOW, &settings);
    }
    pair.master = master;
    pair.slave = slave;
    pair.slavePath = name;
    return true;
}

void ClosePtyPair(PtyPair& pair) {
    if (pair.master >= 0) {
        close(pair.master);
    }
    if (pair.slave >= 0) {
        close(pair.slave);
    }
    pair = PtyPair{};
}
