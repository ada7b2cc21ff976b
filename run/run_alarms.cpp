#include "run/run_alarms.h"

#include <algorithm>
#include <cstdlib>

const char* AlarmKindName(AlarmKind kind) {
    switch (kind) {
        case AlarmKind::SpeedOffSetpoint:
            return "speed off setpoint";
        case AlarmKind::NoReply:
            return "no reply";
        case AlarmKind::RunEndedEarly:
            return "run ended early";
        case AlarmKind::StopNotConfirmed:
            return "stop not confirmed";
    }
    return "alarm";
}

int CAlarmRules::SpeedTolerance(int setpoint) {
    // 5 %, rounded up: a deviation of exactly 5 % is still within.
    return std::max(10, (std::abs(setpoint) * 5 + 99) / 100);
}

void CAlarmRules::RunBegan() {
    *this = CAlarmRules(m_graces);
}

namespace {

std::string Seconds(std::chrono::milliseconds duration) {
    const auto tenths = duration.count() / 100;
    return std::to_string(tenths / 10) +
           (tenths % 10 != 0 ? "." + std::to_string(tenths % 10) : "");
}

}  // namespace

std::vector<Alarm> CAlarmRules::Sample(int actual, int setpoint, Clock::time_point now) {
    const bool within = std::abs(actual - setpoint) <= SpeedTolerance(setpoint);
    if (within) {
        m_settled = true;
        m_offSince.reset();
        if (m_speedRaised) {
            m_speedRaised = false;
            return {{AlarmKind::SpeedOffSetpoint,
                     "The speed is back at the setpoint (" + std::to_string(actual) + " 1/min)",
                     false}};
        }
        return {};
    }
    // Ramping up to the setpoint is not a deviation.
    if (!m_settled || m_speedRaised) {
        return {};
    }
    if (!m_offSince) {
        m_offSince = now;
    }
    if (now - *m_offSince <= m_graces.speed) {
        return {};
    }
    m_speedRaised = true;
    return {{AlarmKind::SpeedOffSetpoint,
             "The speed is " + std::to_string(actual) + " 1/min, the setpoint " +
                 std::to_string(setpoint) + " 1/min, for more than " + Seconds(m_graces.speed) +
                 " s",
             true}};
}

std::vector<Alarm> CAlarmRules::LinkChanged(LinkState state, Clock::time_point now) {
    m_link = state;
    if (state == LinkState::NoReply || state == LinkState::Disconnected) {
        if (!m_silentSince) {
            m_silentSince = now;
        }
        return Tick(now);
    }
    m_silentSince.reset();
    if (state == LinkState::Answering && m_silenceRaised) {
        m_silenceRaised = false;
        return {{AlarmKind::NoReply, "The instrument answers again", false}};
    }
    return {};
}

std::vector<Alarm> CAlarmRules::Tick(Clock::time_point now) {
    if (!m_silentSince || m_silenceRaised || now - *m_silentSince <= m_graces.silence) {
        return {};
    }
    m_silenceRaised = true;
    const char* what = m_link == LinkState::Disconnected ? "The instrument's port has been gone"
                                                         : "The instrument has not answered";
    return {{AlarmKind::NoReply,
             std::string(what) + " for more than " + Seconds(m_graces.silence) + " s", true}};
}

std::optional<CAlarmRules::Clock::time_point> CAlarmRules::NextDeadline() const {
    if (!m_silentSince || m_silenceRaised) {
        return std::nullopt;
    }
    // Tick raises once the silence is longer than its grace, not as long.
    return *m_silentSince + m_graces.silence + std::chrono::milliseconds(1);
}

std::vector<Alarm> CAlarmRules::RunEnded(RunEnd why) {
    std::vector<Alarm> alarms;
    if (m_speedRaised) {
        alarms.push_back({AlarmKind::SpeedOffSetpoint, "The run has ended", false});
    }
    if (m_silenceRaised) {
        alarms.push_back({AlarmKind::NoReply, "The run has ended", false});
    }
    m_speedRaised = m_silenceRaised = false;
    m_silentSince.reset();
    m_offSince.reset();
    if (why == RunEnd::InstrumentStopped) {
        alarms.push_back(
            {AlarmKind::RunEndedEarly, "The instrument ended the run before its time", true});
    } else if (why == RunEnd::LinkLost) {
        alarms.push_back({AlarmKind::RunEndedEarly,
                          "The run was given up: the link to the instrument did not come back",
                          true});
    }
    return alarms;
}

Alarm CAlarmRules::StopNotConfirmed() {
    return {AlarmKind::StopNotConfirmed, "The instrument did not confirm the stop", true};
}
