#pragma once

#include <optional>
#include <string>

// The instrument's type, learned from its device ID. Stored and compared as an int 0..4.
enum DeviceType : int {
    DeviceKV41 = 0,
    DeviceKW41 = 1,
    DeviceKV27 = 2,
    DeviceKW27 = 3,
    DeviceUnlisted = 4,  // an instrument of no listed type: no command is ever sent to it
};

// Inclusive speed setpoint range in 1/min accepted by Start.
struct SpeedLimits {
    int low;
    int high;
};

// Upper-cases the ID, then looks for a type token together with the edition token "VTX";
// the first matching type in the order KV41, KW41, KV27, KW27 wins.
DeviceType ClassifyDeviceId(const std::string& deviceId);

// Types 3 and 4 have no limits of their own: type 3 relies on the speed field's bounds,
// type 4 never starts.
std::optional<SpeedLimits> SpeedLimitsFor(DeviceType type);
