#include "run/run_events.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "run/iso_time.h"

namespace {

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

const char* RunEventName(RunEvent::Kind kind) {
    switch (kind) {
        case RunEvent::Kind::Started:
            return "run started";
        case RunEvent::Kind::Finished:
            return "run finished";
        case RunEvent::Kind::Alarm:
            return "alarm";
    }
    return "";
}

std::optional<RunEvent::Kind> RunEventKindNamed(const std::string& name) {
    for (RunEvent::Kind kind :
         {RunEvent::Kind::Started, RunEvent::Kind::Finished, RunEvent::Kind::Alarm}) {
        if (name == RunEventName(kind)) {
            return kind;
        }
    }
    return std::nullopt;
}

std::string RunEventJson(const RunEvent& event) {
    QJsonObject values{{"samples", event.samples}};
    if (event.speed) {
        values.insert("speed", *event.speed);
    }
    if (event.remaining) {
        values.insert("remaining", *event.remaining);
    }
    if (!event.endReason.empty()) {
        values.insert("endReason", Text(event.endReason));
    }
    QJsonObject document{
        {"event", RunEventName(event.kind)},
        {"time", Text(FormatLocalTimestamp(event.time))},
        {"instrument", QJsonObject{{"port", Text(event.port)},
                                   {"deviceId", Text(event.deviceId)},
                                   {"deviceType", event.deviceType}}},
        {"run", QJsonObject{{"journal", Text(event.journal)},
                            {"startedBy", Text(event.startedBy)},
                            {"speedSetpoint", event.speedSetpoint},
                            {"timeSetpoint", event.timeSetpoint}}},
        {"values", values},
    };
    if (event.alarm) {
        document.insert("alarm", QJsonObject{{"kind", AlarmKindName(event.alarm->kind)},
                                             {"text", Text(event.alarm->text)}});
    }
    return QJsonDocument(document).toJson(QJsonDocument::Compact).toStdString();
}
