#include "server/web_json.h"

#include <QString>
#include <filesystem>

#include "run/instrument_models.h"
#include "server/metrics_text.h"

namespace {

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

QJsonObject StateJson(const CShakerBackend::State& state, const CShakerBackend::Device& device,
                      const std::vector<CShakerBackend::RunSample>* samples, bool loginPossible) {
    QJsonObject instrument{
        {"id", Text(device.id)},
        {"type", device.type},
        {"model", Text(std::string(ModelOf(static_cast<DeviceType>(device.type)).name))}};
    QJsonArray alarms;
    for (const std::string& alarm : state.alarms)
        alarms.append(Text(alarm));
    QJsonObject json{{"instrument", instrument},   {"state", ServerStateName(state, device)},
                     {"speed", state.speed},       {"remaining", state.remaining},
                     {"setpoint", state.setpoint}, {"samples", state.samples},
                     {"linkUp", state.linkUp},     {"alarms", alarms},
                     {"login", loginPossible}};
    if (samples) {
        QJsonArray series;
        for (const CShakerBackend::RunSample& sample : *samples)
            series.append(QJsonArray{sample.number, sample.speed});
        json.insert("series", series);
    }
    return json;
}

QJsonObject SampleJson(const CShakerBackend::RunSample& sample) {
    return QJsonObject{
        {"n", sample.number}, {"speed", sample.speed}, {"remaining", sample.remaining}};
}

QJsonArray RunsJson(const std::vector<RunSummary>& runs) {
    QJsonArray list;
    for (const RunSummary& run : runs) {
        list.append(
            QJsonObject{{"journal", Text(std::filesystem::path(run.path).filename().string())},
                        {"start", Text(run.startText)},
                        {"device", Text(run.deviceId)},
                        {"speed", run.speedSetpoint},
                        {"time", run.timeSetpoint},
                        {"end", Text(run.endReason)},
                        {"samples", run.samples}});
    }
    return list;
}
