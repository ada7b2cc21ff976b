#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

// Why a port would not open, in the operator's words: each reason is one sentence that
// names the device and says what to do about it.

// The step of opening a port that failed, in the order the channel takes them.
enum class OpenStep {
    kNone,      // every step succeeded: the port opens
    kStat,      // looking the path up
    kFileType,  // the path is there but is no character device
    kOpen,      // open(O_RDWR | O_NOCTTY | O_NONBLOCK)
    kLock,      // flock(LOCK_EX | LOCK_NB)
    kTerminal,  // tcgetattr
};

// A process that holds the device: it has the device's own node open and holds its lock.
struct PortHolder {
    pid_t pid = 0;
    std::string command;  // its comm, as ps shows it
};

// What a probe of a port found.
struct OpenAttempt {
    std::string path;  // the device path, as the channel resolves the port name
    OpenStep failedAt = OpenStep::kNone;
    int error = 0;                     // errno of the failed step
    mode_t fileType = 0;               // S_IFMT bits of the path, when it could be looked up
    std::string group;                 // the device's group, when its members may read and write it
    bool heldHere = false;             // the lock is taken by this very process (its own channel)
    std::optional<PortHolder> holder;  // another process holding the device, if one is seen
};

// The sentence for `attempt`. Pure: it reads nothing but its argument.
std::string OpenFailureReason(const OpenAttempt& attempt);

// Opens `path` the way the channel does (look-up, open, lock, terminal settings read, never
// creating a file), closes it again at once, and reports the first step that failed. When the
// device is taken, looks for the process holding its lock.
OpenAttempt ProbePortOpen(const std::string& path);

// The other process holding the lock on the device at `path` (or what it links to) while it
// has that device open; this process is left out. Having the device open is not holding it:
// the instrument's end of a pseudo-terminal, or a program that keeps the line open without
// the lock, is never named.
std::optional<PortHolder> FindPortHolder(const std::string& path);

// For the status line after a failed connection: OpenFailureReason(ProbePortOpen(path)).
std::string ExplainPortOpenFailure(const std::string& path);
