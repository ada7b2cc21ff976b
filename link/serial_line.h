#pragma once

#include <memory>
#include <string>

struct termios;

// Opens an existing serial device for exclusive use, or -1. Never creates a file: a missing
// path fails. The lock (flock) keeps a second channel or process off the port, even for root;
// TIOCEXCL is set later by ConfigureSerialLine once the descriptor is known to be a terminal.
int OpenSerialDevice(const std::string& path);

// Raw 8N1 at `baud`, receiver on, modem lines ignored, no flow control; then flushes the input.
// False for a descriptor that is not a terminal, for a rate <= 0 and for a rate the driver
// does not take.
bool ConfigureSerialLine(int fd, int baud);

// A line's settings as they were before this program changed them; null when they could not
// be read (then there is nothing to put back).
std::unique_ptr<termios> SaveLineSettings(int fd);

// Puts `saved` back, drops exclusive mode and closes. The settings belong to the line, not to
// the descriptor: left raw, a terminal given as the port stays unusable after the program.
// Exclusive mode outlives the descriptor on a pseudo-terminal whose other side stays open,
// which would refuse the next open of the same path.
void CloseSerialDevice(int fd, const termios* saved = nullptr);
