#pragma once

// Line speeds outside the B-constant set go through the kernel's arbitrary-rate interface.
// Kept apart because <asm/termbits.h> can't share a translation unit with <termios.h>.

// Sets input and output speed to `baud`; true when the driver took it.
bool SetCustomBaudRate(int fd, int baud);
// The output speed the driver reports, or 0 when it can't be read.
int ReadCustomBaudRate(int fd);
