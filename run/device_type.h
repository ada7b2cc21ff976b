#pragma once

// The instrument's type, learned from its device ID. Stored and compared as an int 0..4; the
// journal, the command line and the server report it by this number.
enum DeviceType : int {
    DeviceKV41 = 0,
    DeviceKW41 = 1,
    DeviceKV27 = 2,
    DeviceKW27 = 3,
    DeviceUnlisted = 4,  // an instrument of no listed type: no command is ever sent to it
};

// An inclusive range of whole numbers (speeds in 1/min, times in the instrument's units).
struct SpeedLimits {
    int low;
    int high;

    constexpr bool Contains(int value) const { return value >= low && value <= high; }
};
