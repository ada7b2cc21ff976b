#pragma once

// The displayed speed follows the actual speed until it has come within 10 of the setpoint;
// from the next reply on it shows the setpoint plus a quarter of the deviation, until the
// setpoint changes.
struct SpeedSmoothing {
    int settled = 0;       // 1 once the actual speed came within 10 of the setpoint
    int lastSetpoint = 0;  // setpoint of the previous status reply
};

// The speed to display for one status reply; updates the smoothing state.
int SmoothDisplayedSpeed(SpeedSmoothing& state, int setpoint, int actual);
