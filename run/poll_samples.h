#pragma once

// What the status poller learns in one cycle, handed to the engine. Each carries the number
// of the poller run it came from, so one that arrives after its run ended is dropped.

// A good status reply.
struct StatusSample {
    int pollRun = 0;
    int displayed = 0;  // the speed to show, smoothed once settled, 1/min
    int actual = 0;     // the speed the instrument reported, 1/min
    int speedSetpoint = 0;
    int timeSetpoint = 0;
    int remaining = 0;  // the instrument's time units
};

// A good run-state reply.
struct RunStateSample {
    int pollRun = 0;
    int runFlag = 0;  // 0: the instrument is not running
    int secondState = 0;
};

// A status query that went unanswered or was judged failed.
struct PollFailure {
    int pollRun = 0;
    bool portLost = false;  // the port itself went away (hang-up, device gone)
};
