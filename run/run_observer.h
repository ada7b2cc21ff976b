#pragma once

#include <string>

#include "run/run_outcomes.h"

// How a link to the instrument is faring.
enum class LinkState {
    NotConnected,  // no port open: never connected, or the connection failed
    Connecting,    // the port is being opened and the instrument identified
    Answering,     // the last exchange was answered
    NoReply,       // three poll cycles in a row without a valid reply, the port still open
    Disconnected,  // the port reported a hang-up or its device is gone
};

// Why a run ended. The journal's last line names it.
enum class RunEnd {
    TimeUp,             // a status reply said no time is left
    InstrumentStopped,  // the run-state reply said the instrument is not running
    Stopped,            // the operator's Stop
    Closed,             // the program closed while the instrument ran on
    LinkLost,           // the link never came back
};

const char* RunEndText(RunEnd why);
const char* LinkStateText(LinkState state);

// What a front end (the window, the command line, the server) is told by the run engine.
// Every call comes on the engine's thread, never from inside a request (except a request
// refused at once, whose outcome comes before the request returns). The display calls are the
// window's readout and graph operations, in the order the window makes them.
class IRunObserver {
  public:
    // The step the connection is at ("Handshake", "Device ID 7 of 16", "Setpoints").
    virtual void ConnectionStep(const std::string& /*step*/) {}
    virtual void ConnectFinished(const ConnectOutcome& /*outcome*/) {}
    virtual void StartFinished(const StartOutcome& /*outcome*/) {}
    // After the run (if any) has ended and the setpoints are shown.
    virtual void StopFinished(const StopOutcome& /*outcome*/) {}
    virtual void StateChanged(EngineState /*state*/) {}

    virtual void ShowSpeed(int /*speed*/) {}
    virtual void ShowTime(int /*time*/) {}
    virtual void ShowBlinkingTime(int /*time*/) {}
    virtual void ResetGraph() {}
    virtual void PlotSpeed(int /*x*/, int /*speed*/) {}
    virtual void RescaleGraph(float /*speedMin*/, float /*speedMax*/, double /*largestX*/) {}

    // Running (Start disabled, Stop enabled) or idle.
    virtual void RunningChanged(bool /*running*/) {}
    // A sample recorded during a run: its number (1, 2, ...), displayed speed, remaining time.
    virtual void SampleRecorded(int /*number*/, int /*speed*/, int /*remaining*/) {}
    virtual void RunEnded(RunEnd /*why*/) {}
    virtual void LinkStateChanged(LinkState /*state*/) {}
    // An alarm of the run was raised, or its condition cleared (alarm.raised false).
    virtual void AlarmChanged(const struct Alarm& /*alarm*/) {}
    // A note for the status line: the journal can't be written, a run ended unexpectedly.
    virtual void StatusNote(const std::string& /*text*/) {}

  protected:
    ~IRunObserver() = default;
};
