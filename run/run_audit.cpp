// The engine's lines in the audit trail: what was asked of the instrument and what came of it.
// They are written on the journal keeper's thread, in order with the journal's lines.
#include <QJsonObject>

#include "run/run_controller.h"

namespace {

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

const char* ConnectResultText(ConnectOutcome::Result result) {
    switch (result) {
        case ConnectOutcome::Result::Connected:
            return "connected";
        case ConnectOutcome::Result::Failed:
            return "failed";
        case ConnectOutcome::Result::Cancelled:
            return "cancelled";
        case ConnectOutcome::Result::Busy:
            break;
    }
    return "busy";
}

const char* StartResultText(StartOutcome::Result result) {
    switch (result) {
        case StartOutcome::Result::Started:
            return "started";
        case StartOutcome::Result::NotConnected:
            return "not connected";
        case StartOutcome::Result::SpeedOutOfRange:
            return "speed out of range";
        case StartOutcome::Result::TimeOutOfRange:
            return "time out of range";
        case StartOutcome::Result::Unlisted:
            return "unlisted instrument";
        case StartOutcome::Result::Refused:
            return "refused by the instrument";
        case StartOutcome::Result::SpeedRefused:
            return "speed refused by the instrument";
        case StartOutcome::Result::Busy:
            break;
    }
    return "busy";
}

const char* StopResultText(StopOutcome::Result result) {
    switch (result) {
        case StopOutcome::Result::Confirmed:
            return "confirmed";
        case StopOutcome::Result::NotConfirmed:
            return "not confirmed";
        case StopOutcome::Result::NothingSent:
            return "nothing sent";
        case StopOutcome::Result::Busy:
            break;
    }
    return "busy";
}

bool LinkDown(LinkState state) {
    return state == LinkState::NoReply || state == LinkState::Disconnected;
}

}  // namespace

void CRunController::Audit(const char* event, QJsonObject fields) {
    m_journal.Audit(event, std::move(fields), m_startedBy);
}

void CRunController::FinishConnect(const std::string& portName, const ConnectOutcome& outcome) {
    QJsonObject fields{{"port", Text(portName)}, {"result", ConnectResultText(outcome.result)}};
    if (outcome.result == ConnectOutcome::Result::Connected) {
        fields.insert("deviceId", Text(outcome.deviceId));
        fields.insert("deviceType", static_cast<int>(outcome.type));
        fields.insert("runningElsewhere", outcome.runningElsewhere);
    } else if (!outcome.reason.empty()) {
        fields.insert("reason", Text(outcome.reason));
    }
    Audit("connect", std::move(fields));
    m_observer.ConnectFinished(outcome);
}

void CRunController::FinishStart(int speed, int time, const StartOutcome& outcome) {
    const bool started = outcome.result == StartOutcome::Result::Started;
    QJsonObject fields{{"port", Text(m_portName)},
                       {"deviceId", Text(m_printableId)},
                       {"speed", speed},
                       {"timeSetpoint", time},
                       {"result", StartResultText(outcome.result)}};
    if (started) {
        TellSink(RunEvent::Kind::Started);
        fields.insert("speedAcknowledged", outcome.speedAcknowledged);
        fields.insert("journal", Text(m_journal.Path()));
    } else if (outcome.result == StartOutcome::Result::SpeedRefused) {
        fields.insert("stopConfirmed", outcome.stopConfirmed);
    }
    Audit(started ? "start" : "start refused", std::move(fields));
    m_observer.StartFinished(outcome);
}

void CRunController::FinishStop(std::optional<int> speed, const StopOutcome& outcome) {
    QJsonObject fields{{"port", Text(m_portName)},
                       {"result", StopResultText(outcome.result)},
                       {"confirmed", outcome.result == StopOutcome::Result::Confirmed},
                       {"endedRun", outcome.endedRun}};
    if (speed) {
        fields.insert("speed", *speed);
    }
    Audit(outcome.result == StopOutcome::Result::Busy ? "stop refused" : "stop", std::move(fields));
    m_observer.StopFinished(outcome);
}

void CRunController::AuditLink(LinkState from, LinkState to) {
    if (!m_running) {
        return;
    }
    if (!LinkDown(from) && LinkDown(to)) {
        Audit("link lost", {{"port", Text(m_portName)}, {"state", LinkStateText(to)}});
    } else if (LinkDown(from) && to == LinkState::Answering) {
        Audit("link back", {{"port", Text(m_portName)}});
    }
}

void CRunController::AuditRunEnd(RunEnd why) {
    TellSink(RunEvent::Kind::Finished, RunEndText(why));
    Audit("run end", {{"port", Text(m_portName)},
                      {"deviceId", Text(m_printableId)},
                      {"reason", RunEndText(why)},
                      {"samples", static_cast<int>(m_record.SpeedSeries().size())},
                      {"journal", Text(m_journal.Path())}});
}
