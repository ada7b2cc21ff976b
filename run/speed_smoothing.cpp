#include "run/speed_smoothing.h"

#include <cstdlib>

namespace {
constexpr int kSettleBand = 10;  // 1/min
}

int SmoothDisplayedSpeed(SpeedSmoothing& state, int setpoint, int actual) {
    if (setpoint != state.lastSetpoint) {
        state.settled = 0;
        state.lastSetpoint = setpoint;
    }
    if (state.settled == 1) {
        // Integer division truncates toward zero: 290 against 300 shows 298, not 297.
        return setpoint + (actual - setpoint) / 4;
    }
    // Settling takes effect from the next reply; this one still shows the actual speed.
    if (std::abs(actual - setpoint) <= kSettleBand) {
        state.settled = 1;
    }
    return actual;
}
