// The engine's alarms: raised and cleared by CAlarmRules, told to the journal (in order with the
// samples), the audit trail and the front ends.
#include <QJsonObject>
#include <algorithm>

#include "run/iso_time.h"
#include "run/run_controller.h"

void CRunController::ArmAlarmTimer() {
    const auto deadline = m_alarmRules.NextDeadline();
    if (!deadline) {
        m_alarmTimer.stop();
        return;
    }
    const auto wait =
        std::chrono::ceil<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now());
    m_alarmTimer.start(std::max(wait, std::chrono::milliseconds(0)));
}

void CRunController::RaiseAlarms(const std::vector<Alarm>& alarms) {
    for (const Alarm& alarm : alarms) {
        const std::string kind = AlarmKindName(alarm.kind);
        m_journal.Note(
            std::vector<std::string>{alarm.raised ? "alarm" : "alarm cleared", kind, alarm.text,
                                     FormatLocalTimestamp(std::chrono::system_clock::now())});
        Audit(alarm.raised ? "alarm" : "alarm cleared",
              {{"kind", QString::fromStdString(kind)},
               {"text", QString::fromStdString(alarm.text)},
               {"journal", QString::fromStdString(m_journal.Path())}});
        const auto same =
            std::find_if(m_runAlarms.begin(), m_runAlarms.end(),
                         [&](const Alarm& known) { return known.kind == alarm.kind; });
        if (same != m_runAlarms.end()) {
            *same = alarm;
        } else {
            m_runAlarms.push_back(alarm);
        }
        m_alarmsRaised += alarm.raised ? 1 : 0;
        if (alarm.raised) {
            TellSink(RunEvent::Kind::Alarm, {}, alarm);
        }
        m_observer.AlarmChanged(alarm);
    }
}

void CRunController::TellSink(RunEvent::Kind kind, std::string endReason,
                              std::optional<Alarm> alarm) {
    if (m_eventSink == nullptr) {
        return;
    }
    RunEvent event;
    event.kind = kind;
    event.time = std::chrono::system_clock::now();
    event.port = m_portName;
    event.deviceId = m_printableId;
    event.deviceType = m_deviceType;
    event.journal = m_journal.Path();
    event.startedBy = m_startedBy;
    event.speedSetpoint = m_shownSpeedSetpoint.value_or(m_speedAtStart);
    event.timeSetpoint = m_timeAtStart;
    const auto& speeds = m_record.SpeedSeries();
    const auto& times = m_record.TimeSeries();
    if (!speeds.empty()) {
        event.speed = static_cast<int>(speeds.back());
    }
    if (!times.empty()) {
        event.remaining = static_cast<int>(times.back());
    }
    event.samples = static_cast<int>(speeds.size());
    event.endReason = std::move(endReason);
    event.alarm = std::move(alarm);
    m_eventSink->OnRunEvent(event);
}
