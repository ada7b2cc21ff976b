#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "run/run_alarms.h"

// What a run's watchers outside the program hear of (a webhook, a desktop notification): its
// start, its end, and its alarms.
struct RunEvent {
    enum class Kind { Started, Finished, Alarm };
    Kind kind = Kind::Started;
    std::chrono::system_clock::time_point time;
    // The instrument.
    std::string port;
    std::string deviceId;
    int deviceType = 0;
    // The run.
    std::string journal;
    std::string startedBy;
    int speedSetpoint = 0;
    int timeSetpoint = 0;
    // Its values as they stand.
    std::optional<int> speed;
    std::optional<int> remaining;
    int samples = 0;
    std::string endReason;       // Finished
    std::optional<Alarm> alarm;  // Alarm
};

// "run started", "run finished", "alarm": the names a configuration chooses events by.
const char* RunEventName(RunEvent::Kind kind);
std::optional<RunEvent::Kind> RunEventKindNamed(const std::string& name);

// The event as a webhook posts it: a small JSON document with event, instrument, run, values and
// time.
std::string RunEventJson(const RunEvent& event);

// Hears the engine's run events on the engine's thread: whatever it does that takes time, it does
// elsewhere.
class IRunEventSink {
  public:
    virtual void OnRunEvent(const RunEvent& event) = 0;

  protected:
    ~IRunEventSink() = default;
};
