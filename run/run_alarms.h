#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "run/run_observer.h"

// What goes wrong in a run that nobody is watching.
enum class AlarmKind {
    SpeedOffSetpoint,  // the speed stayed away from the setpoint after it had settled
    NoReply,           // the instrument didn't answer, or its port was gone, for too long
    RunEndedEarly,     // the run ended other than by its time (the instrument, a lost link)
    StopNotConfirmed,  // the instrument didn't confirm a stop
};

// "speed off setpoint", "no reply", "run ended early", "stop not confirmed".
const char* AlarmKindName(AlarmKind kind);

struct Alarm {
    AlarmKind kind = AlarmKind::SpeedOffSetpoint;
    std::string text;    // the sentence an operator reads
    bool raised = true;  // false: its condition has cleared
};

// How long the speed may stay off the setpoint, and the link silent, before an alarm.
struct AlarmGraces {
    std::chrono::milliseconds speed{std::chrono::seconds(10)};
    std::chrono::milliseconds silence{std::chrono::seconds(30)};
};

// When a run's alarms are raised and cleared, from what the engine sees. The time comes from a
// monotonic clock through the caller, so the rules are plain functions of what happened.
// Each condition is raised once and cleared once its cause has gone.
class CAlarmRules {
  public:
    using Clock = std::chrono::steady_clock;
    using Graces = AlarmGraces;
    explicit CAlarmRules(Graces graces = {}) : m_graces(graces) {}
    // How far the speed may be from the setpoint: 10 1/min, or 5 % of a faster setpoint.
    static int SpeedTolerance(int setpoint);

    // A run begins: nothing is settled, nothing raised.
    void RunBegan();
    // A status reply of the run.
    std::vector<Alarm> Sample(int actual, int setpoint, Clock::time_point now);
    // The link started or stopped answering during the run.
    std::vector<Alarm> LinkChanged(LinkState state, Clock::time_point now);
    // The silence has lasted long enough by `now`.
    std::vector<Alarm> Tick(Clock::time_point now);
    // When Tick next has something to decide; none while the link answers.
    std::optional<Clock::time_point> NextDeadline() const;
    // The run ended: the conditions still raised are cleared, and an end other than by its
    // time (or by the operator, or by closing the program) is an alarm of its own.
    std::vector<Alarm> RunEnded(RunEnd why);
    static Alarm StopNotConfirmed();

  private:
    Graces m_graces;
    bool m_settled = false;
    std::optional<Clock::time_point> m_offSince;
    bool m_speedRaised = false;
    std::optional<Clock::time_point> m_silentSince;
    LinkState m_link = LinkState::Answering;
    bool m_silenceRaised = false;
};
