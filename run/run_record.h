#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

// The samples of the latest run and the speed extent the graph's vertical range comes from.
// Touched only on the UI thread.
class CRunRecord {
  public:
    // The record starts with an extent of 0.0 to 0.0 until the first run.
    CRunRecord() = default;

    // At the start of a run: minimum 0.0, maximum the smallest positive normal float
    // (bits 0x00800000), so an all-zero run still has a range above its minimum.
    void ResetSpeedExtent();
    // Empties both series.
    void ResetRecord();

    // One status notification adds one sample: the displayed speed, then the remaining time.
    void AppendSpeed(std::uint32_t speed);
    void AppendRemainingTime(std::uint32_t remaining);
    // When each sample was taken (the wall clock), for exports that carry the time of day.
    void AppendSampleTime(std::chrono::system_clock::time_point when);

    const std::vector<std::uint32_t>& SpeedSeries() const { return m_speedSeries; }
    const std::vector<std::uint32_t>& TimeSeries() const { return m_timeSeries; }
    const std::vector<std::chrono::system_clock::time_point>& SampleTimes() const {
        return m_sampleTimes;
    }
    float SpeedMinimum() const { return m_fSpeedMin; }
    float SpeedMaximum() const { return m_fSpeedMax; }

  private:
    std::vector<std::uint32_t> m_speedSeries;
    std::vector<std::uint32_t> m_timeSeries;
    std::vector<std::chrono::system_clock::time_point> m_sampleTimes;
    float m_fSpeedMin = 0.0f;
    float m_fSpeedMax = 0.0f;
};
