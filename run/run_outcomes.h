#pragma once

#include <optional>
#include <string>

#include "run/device_type.h"

// What the engine's requests came to. Each front end chooses its own words for them: the
// window its string table, the command line its messages and exit codes, the server its
// SiLA errors.

// Where an engine is. Each state allows only some requests; the others are refused (Busy).
enum class EngineState {
    Idle,          // connected or not, no run and no exchange of the engine's own under way
    Connecting,    // the port is being opened and the instrument identified
    Starting,      // Start's commands are on their way
    Running,       // a run is in progress and the poller follows it
    Stopping,      // Stop's commands, or the setpoints at the end of a run, are on their way
    Reconnecting,  // a run whose port went away: the same instrument is looked for again
};

// The serial port to connect to, as the operator or the caller names it.
struct PortChoice {
    std::string portName;  // COMn, a /dev name or a path
    int baud = 9600;
};

struct ConnectOutcome {
    // Connected: the instrument was already running a run started elsewhere (by its own keys,
    // or by a program that ended without stopping it); the engine now watches that run.
    enum class Result {
        Connected,
        Failed,     // the port did not open, or the instrument did not answer the handshake
        Cancelled,  // CancelConnect gave it up
        Busy,       // a run or another exchange is under way
    };
    Result result = Result::Failed;
    DeviceType type = DeviceUnlisted;
    std::string deviceId;
    std::string devicePath;  // what the port name opens
    // Failed: why the port could not be used, in the operator's words.
    std::string reason;
    // Failed: the port opened (and is closed again), so the instrument did not answer.
    bool portOpened = false;
    bool runningElsewhere = false;
};

struct StartOutcome {
    enum class Result {
        Started,
        NotConnected,     // the connection failed: nothing is sent
        SpeedOutOfRange,  // outside the type's limits (in `limits`): nothing is sent
        TimeOutOfRange,   // outside the time entry's bounds (in `limits`; 0 runs nothing)
        Unlisted,         // an instrument of no listed type: nothing is sent
        Refused,          // neither the speed nor the time was acknowledged
        // The time was acknowledged but the speed refused, and the request required the speed:
        // the instrument, started by the time command, was stopped again as Stop does
        // (`stopConfirmed` says whether it confirmed).
        SpeedRefused,
        Busy,  // not idle
    };
    Result result = Result::Refused;
    std::optional<SpeedLimits> limits;
    // Started with the speed refused (a request that allowed it): the instrument runs at its
    // own setpoint, which the journal records from the first status reply.
    bool speedAcknowledged = false;
    bool timeAcknowledged = false;
    bool stopConfirmed = false;
};

// How a front end wants a refused speed handled: the window goes on with the run at the
// instrument's own setpoint and says so; a script or an orchestrator must never get a run at
// a speed it did not ask for.
enum class SpeedRefusal { RunAnyway, StopTheInstrument };

struct StopOutcome {
    enum class Result {
        Confirmed,  // the instrument acknowledged the speed command
        // All four sends went unanswered or refused: a run in progress is not ended (the
        // journal says "stop not confirmed"); the poller goes on showing the truth.
        NotConfirmed,
        NothingSent,  // no speed to send, or an instrument of no listed type
        Busy,         // connecting, starting or already stopping
    };
    Result result = Result::NothingSent;
    bool endedRun = false;  // a run was in progress and has ended
};
