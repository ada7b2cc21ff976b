#include "run/run_record.h"

#include <limits>

void CRunRecord::ResetSpeedExtent() {
    m_fSpeedMin = 0.0f;
    m_fSpeedMax = std::numeric_limits<float>::min();
}

void CRunRecord::ResetRecord() {
    m_speedSeries.clear();
    m_timeSeries.clear();
    m_sampleTimes.clear();
}

void CRunRecord::AppendSampleTime(std::chrono::system_clock::time_point when) {
    m_sampleTimes.push_back(when);
}

void CRunRecord::AppendSpeed(std::uint32_t speed) {
    m_speedSeries.push_back(speed);
    const float value = static_cast<float>(speed);
    if (value < m_fSpeedMin) {
        m_fSpeedMin = value;
    }
    if (value > m_fSpeedMax) {
        m_fSpeedMax = value;
    }
}

void CRunRecord::AppendRemainingTime(std::uint32_t remaining) {
    m_timeSeries.push_back(remaining);
}
