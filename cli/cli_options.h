#pragma once

#include <optional>
#include <string>

// What the command line asked for, checked by the parser.
struct CliOptions {
    enum class Command { Ports, Identify, Run, Stop };
    Command command = Command::Ports;
    std::string port;  // a device path, a bare /dev name, "COMn", or kSimulatorPort
    int baud = 9600;
    std::optional<int> speed;
    int time = 0;
    std::string out;  // the export written when the run ends; empty: none
    bool json = false;
    int reconnectTimeoutS = 60;
    std::string notify;  // run: the webhook URL; empty: the configuration's, if any
};

// The port name that starts the embedded simulated shaker.
inline constexpr const char* kSimulatorPort = "simulator";

// The program's exit codes.
enum ExitCode : int {
    kExitOk = 0,
    kExitUsage = 1,
    kExitNoInstrument = 2,
    kExitRefused = 3,
    kExitUnlisted = 4,
    kExitLinkLost = 5,
    // The run ended as it should, but its journal does not hold every sample.
    kExitJournalIncomplete = 6,
    // audit verify, verify: the record was changed after it was written.
    kExitAltered = 7,
    // run: an alarm was raised during the run (and no code above says more).
    kExitAlarm = 8,
    // verify: the run never ended, or its journal carries no seal.
    kExitUnfinished = 9,
    kExitInterrupted = 130,
};
