#pragma once

#include <string>

// The simulated shaker a newcomer picks as "Simulator" in the port list. It is started on
// first use, lives on its own thread, and stays up until the program ends.
class CEmbeddedSimulator {
  public:
    // Starts the simulator if it is not running yet and returns the path of its port;
    // empty if no pseudo-terminal could be made.
    static std::string StartAndGetPort();
    // Whether `port` is the running simulator's: its runs' journals say they were simulated.
    static bool IsItsPort(const std::string& port);
    // Stops it; called once the channel is closed at exit.
    static void Shutdown();
};
