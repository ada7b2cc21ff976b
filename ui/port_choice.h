#pragma once

#include <QString>
#include <functional>
#include <optional>
#include <string>

#include "notify/notification_settings.h"
#include "run/run_outcomes.h"

// Asks the operator for the port and baud rate. OK gives the port text unchanged and the baud
// text read the way atol reads it; choosing "Simulator" calls startSimulator and gives the port
// it returns (without a hook the text goes through unchanged). Cancel gives nothing.

// The port and rate offered first are the ones chosen last.
std::optional<PortChoice> ChoosePort(const std::function<std::string()>& startSimulator = nullptr);
