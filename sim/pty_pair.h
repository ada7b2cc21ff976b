#pragma once

#include <string>

// Both sides of a pseudo-terminal in raw mode. The simulated instrument talks on the master;
// the program opens slavePath as it opens a real port. The simulator's own descriptor of the
// slave keeps the master from reading EIO while the program has the port closed.
struct PtyPair {
    int master = -1;  // non-blocking
    int slave = -1;
    std::string slavePath;
};

// False (and nothing left open) when the system has no pseudo-terminal to give.
bool OpenPtyPair(PtyPair& pair);
void ClosePtyPair(PtyPair& pair);
