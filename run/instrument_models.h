#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "run/device_type.h"

// Everything that differs between instrument types, one row per type. Adding a type is adding
// a row here (and its number to DeviceType); nothing else holds these numbers.
struct InstrumentModel {
    DeviceType type;
    // Found in the upper-cased device ID together with kEditionToken; empty for the row that
    // stands for every instrument of no listed type.
    std::string_view token;
    // How the command line and the server name the type.
    std::string_view name;
    // The speeds Start accepts for this type; none: Start tests no limits of its own.
    std::optional<SpeedLimits> startLimits;
    // What the speed and time entries accept (the window's field bounds). The time travels as
    // a 16-bit parameter, so no entry goes beyond 65535; Start refuses a time outside it.
    SpeedLimits speedField;
    SpeedLimits timeField;
    // False: no command is ever sent to the instrument (no run, no stop).
    bool sendsCommands;
    // The window's background picture, a resource name.
    std::string_view background;
};

inline constexpr std::string_view kEditionToken = "VTX";

// Every row, listed types first in the order an ID is tested against them; the last row is
// the instrument of no listed type.
std::span<const InstrumentModel> InstrumentModels();
const InstrumentModel& ModelOf(DeviceType type);

// Upper-cases the ID, then looks for a type token together with the edition token; the first
// matching row wins.
DeviceType ClassifyDeviceId(const std::string& deviceId);

// The limits Start tests for the type (none for types 3 and 4).
std::optional<SpeedLimits> SpeedLimitsFor(DeviceType type);
// A status reply with a speed above this (1.5 times the fastest the type may be set to) is
// line noise that passed the checksum, not a speed the instrument could report.
int HighestPlausibleSpeed(DeviceType type);
// The speeds a run can really start with: the type's own limits, else the speed field's
// bounds for a type that takes commands; none for a type that never starts.
std::optional<SpeedLimits> RunSpeedLimits(DeviceType type);
