#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "run/device_type.h"
#include "run/run_alarms.h"
#include "run/run_observer.h"

// What velmora-cli writes: the live status line on a terminal, the sample lines for scripts,
// the instrument's description, and the lines on standard error.

// What the live status line shows.
struct StatusLineState {
    int speed = 0;
    int remaining = 0;
    int total = 0;  // the run's time as set at Start
    int samples = 0;
    LinkState link = LinkState::Answering;
};

// Standard output and standard error of one session. A line on standard error first clears
// the live status line, which the next redraw puts back.
class CCliTerminal {
  public:
    bool Live() const { return m_live; }
    // From now on the samples show on the status line instead of one line each.
    void BeginStatusLine(const StatusLineState& state);
    void DrawStatusLine(const StatusLineState& state);
    // Draws the line a last time and leaves it on the screen.
    void EndStatusLine(const StatusLineState& state);

    void Complain(const std::string& line);
    void Print(const std::string& text);
    // A passing line on standard error while it is a terminal ("identifying 7/16"); the next
    // line of any kind replaces it.
    void Progress(const std::string& text);

  private:
    void ClearStatusLine();
    void ClearProgress();

    bool m_live = false;
    bool m_shown = false;
    bool m_progressShown = false;
};

// The live status line for a terminal `columns` wide: it never reaches the last column (which
// would wrap and leave a line a second). What doesn't fit goes, least needed first: the bar
// narrows, then goes, then the sample count, then the labels.
std::string FormatStatusLine(const StatusLineState& state, int columns);

// The terminal's width on `fd`, or 80 when it isn't one or doesn't say.
int TerminalColumns(int fd);

// The engine's connection step as the progress line shows it: "Device ID 7 of 16" is
// "identifying 7/16".
std::string ConnectionProgressText(const std::string& step);

// One sample: a JSON object, or its number, speed, remaining time and time tab-separated, the
// time as the journal writes it (2026-03-14T09:26:53.589+01:00).
std::string FormatSampleLine(int number, int speed, int remaining,
                             std::chrono::system_clock::time_point when, bool json);

// An alarm raised or cleared: a JSON object ({"alarm":"no reply","raised":true,...}) or
// "alarm: <text>" / "alarm cleared: <text>".
std::string FormatAlarmLine(const Alarm& alarm, std::chrono::system_clock::time_point when,
                            bool json);

// "setpoints ..." as identify and stop show them.
std::string FormatSetpoints(std::optional<int> speed, std::optional<int> time);

// What identify tells of the instrument.
struct InstrumentReport {
    std::string devicePath;
    std::string deviceId;  // printable already (the engine's DeviceId)
    DeviceType type = DeviceUnlisted;
    std::optional<int> speedSetpoint;
    std::optional<int> timeSetpoint;
    bool running = false;  // a run started elsewhere is in progress
};
std::string FormatIdentify(const InstrumentReport& report, bool json);
