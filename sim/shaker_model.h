#pragma once

#include <chrono>
#include <optional>
#include <random>

#include "sim/simulated_shaker.h"

// What the simulated shaker does between requests: setpoints, a run that counts the remaining
// time down once per time unit, and an actual speed that ramps toward its target at a fixed
// rate. It advances with the monotonic clock, whether or not anyone asks.
class CShakerModel {
  public:
    using Clock = std::chrono::steady_clock;

    CShakerModel(const SimOptions& options, Clock::time_point now);

    // Idle: becomes the speed setpoint. Running: stops the run.
    void SetSpeed(int value, Clock::time_point now);
    // Becomes the time setpoint; idle and above 0 it starts a run of that many units.
    void SetTime(int value, Clock::time_point now);
    void SetActualSpeed(int speed, Clock::time_point now);
    // A platform that stalls: while a run goes on the speed heads for `speed`, not the
    // setpoint; none frees it.
    void HoldPlatform(std::optional<int> speed, Clock::time_point now);

    CSimulatedShaker::State StateAt(Clock::time_point now);
    // The actual speed as the instrument reports it: with noise once it is close to target.
    int ReportedActualSpeed(Clock::time_point now);

  private:
    void Advance(Clock::time_point now);
    void Ramp(Clock::duration elapsed, int target);
    int Target() const;

    SimOptions m_options;
    int m_speedSetpoint;
    int m_timeSetpoint;
    int m_remaining;
    bool m_running = false;
    double m_actualSpeed = 0.0;
    std::optional<int> m_heldAt;
    Clock::time_point m_lastAdvance;
    Clock::time_point m_lastTick;  // the run's last whole time unit
    std::minstd_rand m_noise{20240501};
};
