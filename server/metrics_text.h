#pragma once

#include <string>

#include "server/shaker_backend.h"

// "identifying", "disconnected", "idle" or "running".
const char* ServerStateName(const CShakerBackend::State& state,
                            const CShakerBackend::Device& device);

// The server's state as Prometheus' text exposition format (version 0.0.4): the state, speed,
// speed setpoint, remaining time, the run's samples, its standing alarms, the link, the runs
// started, and the instrument as an info metric.
std::string MetricsText(const CShakerBackend::State& state, const CShakerBackend::Device& device);
