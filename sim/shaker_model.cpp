#include "sim/shaker_model.h"

#include <algorithm>
#include <cmath>

CShakerModel::CShakerModel(const SimOptions& options, Clock::time_point now)
    : m_options(options),
      m_speedSetpoint(options.speedSetpoint),
      m_timeSetpoint(options.timeSetpoint),
      m_remaining(options.timeSetpoint),
      m_lastAdvance(now),
      m_lastTick(now) {
    if (m_options.timeUnit <= std::chrono::milliseconds::zero()) {
        m_options.timeUnit = std::chrono::milliseconds(1);
    }
}

int CShakerModel::Target() const {
    return m_running ? m_heldAt.value_or(m_speedSetpoint) : 0;
}

void CShakerModel::HoldPlatform(std::optional<int> speed, Clock::time_point now) {
    Advance(now);
    m_heldAt = speed;
}

void CShakerModel::Ramp(Clock::duration elapsed, int target) {
    if (m_options.rampPerUnit <= 0) {
        m_actualSpeed = target;  // no ramp configured: the speed follows at once
        return;
    }
    const double units =
        std::chrono::duration<double>(elapsed) / std::chrono::duration<double>(m_options.timeUnit);
    const double step = units * m_options.rampPerUnit;
    if (m_actualSpeed < target) {
        m_actualSpeed = std::min<double>(target, m_actualSpeed + step);
    } else {
        m_actualSpeed = std::max<double>(target, m_actualSpeed - step);
    }
}

// Walks through every whole unit since the last call, so a run that ends between two
// requests ramps down from the moment it ended, not from the next request.
void CShakerModel::Advance(Clock::time_point now) {
    if (now <= m_lastAdvance) {
        return;
    }
    while (m_running && m_lastTick + m_options.timeUnit <= now) {
        const auto tick = m_lastTick + m_options.timeUnit;
        Ramp(tick - m_lastAdvance, Target());
        m_lastAdvance = tick;
        m_lastTick = tick;
        if (--m_remaining <= 0) {
            m_remaining = 0;
            m_running = false;
        }
    }
    Ramp(now - m_lastAdvance, Target());
    m_lastAdvance = now;
}

void CShakerModel::SetSpeed(int value, Clock::time_point now) {
    Advance(now);
    if (m_running) {
        m_running = false;
    } else {
        m_speedSetpoint = value;
    }
}

void CShakerModel::SetTime(int value, Clock::time_point now) {
    Advance(now);
    m_timeSetpoint = value;
    if (!m_running && value > 0) {
        m_running = true;
        m_remaining = value;
        m_lastTick = now;
    }
}

void CShakerModel::SetActualSpeed(int speed, Clock::time_point now) {
    Advance(now);
    m_actualSpeed = std::max(0, speed);
}

CSimulatedShaker::State CShakerModel::StateAt(Clock::time_point now) {
    Advance(now);
    return {m_speedSetpoint, static_cast<int>(std::lround(m_actualSpeed)), m_timeSetpoint,
            m_remaining, m_running};
}

int CShakerModel::ReportedActualSpeed(Clock::time_point now) {
    const int actual = StateAt(now).actualSpeed;
    const int noise = m_options.noise;
    if (noise <= 0 || !m_running || std::abs(actual - Target()) > noise) {
        return actual;
    }
    std::uniform_int_distribution<int> jitter(-noise, noise);
    return std::max(0, actual + jitter(m_noise));
}
