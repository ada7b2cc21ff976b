#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <vector>

#include "run/run_history.h"
#include "server/shaker_backend.h"

// What the web page reads, as JSON.

// The instrument, the state, both readouts, the setpoint, the standing alarms, the run's
// samples so far ([number, speed] pairs; none when `samples` is null), and whether a user can
// log in to start and stop.
QJsonObject StateJson(const CShakerBackend::State& state, const CShakerBackend::Device& device,
                      const std::vector<CShakerBackend::RunSample>* samples, bool loginPossible);
// One sample as its event carries it.
QJsonObject SampleJson(const CShakerBackend::RunSample& sample);
// The last runs, newest first, each with the name its journal is downloaded by.
QJsonArray RunsJson(const std::vector<RunSummary>& runs);
