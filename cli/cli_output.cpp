#include "cli/cli_output.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "run/csv_export.h"
#include "run/instrument_models.h"
#include "run/printable_text.h"

namespace {

constexpr int kBarWidth = 30;

// `text` must be valid UTF-8 (PrintableText makes it so): a JSON string holds nothing else.
std::string JsonString(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

std::string JsonInt(const std::optional<int>& value) {
    return value ? std::to_string(*value) : "null";
}

}  // namespace

// ---- the terminal -------------------------------------------------------------------------

void CCliTerminal::BeginStatusLine(const StatusLineState& state) {
    m_live = true;
    DrawStatusLine(state);
}

void CCliTerminal::EndStatusLine(const StatusLineState& state) {
    if (!m_live) {
        return;
    }
    DrawStatusLine(state);
    Print("\n");
    m_shown = false;
    m_live = false;
}

void CCliTerminal::Complain(const std::string& line) {
    ClearStatusLine();
    ClearProgress();
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

void CCliTerminal::Print(const std::string& text) {
    ClearProgress();
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

void CCliTerminal::ClearStatusLine() {
    if (m_shown) {
        Print("\r\033[K");
        m_shown = false;
    }
}

void CCliTerminal::DrawStatusLine(const StatusLineState& state) {
    ClearProgress();
    // Read at every redraw (once a second): a resized terminal is followed within a second.
    Print("\r\033[K" + FormatStatusLine(state, TerminalColumns(STDOUT_FILENO)));
    m_shown = true;
}

void CCliTerminal::Progress(const std::string& text) {
    if (isatty(STDERR_FILENO) != 1) {
        return;
    }
    const int columns = TerminalColumns(STDERR_FILENO);
    const std::string line = "\r\033[K" + text.substr(0, static_cast<std::size_t>(columns - 1));
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    m_progressShown = true;
}

void CCliTerminal::ClearProgress() {
    if (m_progressShown) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        m_progressShown = false;
    }
}

std::string FormatStatusLine(const StatusLineState& state, int columns) {
    const std::size_t room = static_cast<std::size_t>(std::max(columns - 1, 1));
    const int total = state.total;
    const int remaining = std::clamp(state.remaining, 0, std::max(total, 0));
    const int done = total > 0 ? total - remaining : 0;
    const int percent = total > 0 ? done * 100 / total : 100;
    char time[16];
    std::snprintf(time, sizeof time, "%02d:%02d", state.remaining / 60, state.remaining % 60);
    char speed[16];
    std::snprintf(speed, sizeof speed, "%4d", state.speed);
    const std::string link = state.link != LinkState::Answering
                                 ? std::string("  (") + LinkStateText(state.link) + ")"
                                 : std::string();
    const std::string head = std::string("speed ") + speed + " 1/min  remaining " + time + "  ";
    const std::string tail = " " + std::string(percent < 100 ? percent < 10 ? "  " : " " : "") +
                             std::to_string(percent) + "%";
    const std::string samples = "  sample " + std::to_string(state.samples);

    const auto withBar = [&](int width) {
        const int filled = total > 0 ? done * width / total : width;
        return head + "[" + std::string(static_cast<std::size_t>(filled), '#') +
               std::string(static_cast<std::size_t>(width - filled), '-') + "]" + tail;
    };
    const std::size_t fixed = head.size() + 2 + tail.size() + samples.size() + link.size();
    if (fixed + kBarWidth <= room) {
        return withBar(kBarWidth) + samples + link;
    }
    constexpr std::size_t kNarrowestBar = 10;
    if (fixed + kNarrowestBar <= room) {
        return withBar(static_cast<int>(room - fixed)) + samples + link;
    }
    std::string line = head + std::string(tail.begin() + 1, tail.end()) + samples + link;
    if (line.size() > room) {
        line = head + std::string(tail.begin() + 1, tail.end()) + link;
    }
    if (line.size() > room) {
        line = std::string(speed) + " 1/min " + time + link;
    }
    return line.substr(0, room);
}

int TerminalColumns(int fd) {
    winsize size{};
    if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 80;
}

std::string ConnectionProgressText(const std::string& step) {
    int at = 0;
    int of = 0;
    if (std::sscanf(step.c_str(), "Device ID %d of %d", &at, &of) == 2) {
        return "identifying " + std::to_string(at) + "/" + std::to_string(of);
    }
    if (step == "Handshake") {
        return "connecting: handshake";
    }
    if (step == "Setpoints") {
        return "reading the setpoints";
    }
    return "connecting: " + step;
}

// ---- the lines ----------------------------------------------------------------------------

std::string FormatSampleLine(int number, int speed, int remaining,
                             std::chrono::system_clock::time_point when, bool json) {
    const std::string time = FormatLocalTimestamp(when);
    char line[160];
    if (json) {
        std::snprintf(line, sizeof line,
                      "{\"sample\":%d,\"speed\":%d,\"remaining\":%d,\"time\":\"%s\"}\n", number,
                      speed, remaining, time.c_str());
    } else {
        std::snprintf(line, sizeof line, "%d\t%d\t%d\t%s\n", number, speed, remaining,
                      time.c_str());
    }
    return line;
}

std::string FormatAlarmLine(const Alarm& alarm, std::chrono::system_clock::time_point when,
                            bool json) {
    if (json) {
        return std::string("{\"alarm\":") + JsonString(AlarmKindName(alarm.kind)) +
               ",\"raised\":" + (alarm.raised ? "true" : "false") +
               ",\"text\":" + JsonString(alarm.text) +
               ",\"time\":" + JsonString(FormatLocalTimestamp(when)) + "}\n";
    }
    return std::string(alarm.raised ? "alarm: " : "alarm cleared: ") + alarm.text + "\n";
}

std::string FormatSetpoints(std::optional<int> speed, std::optional<int> time) {
    if (!speed || !time) {
        return "setpoints     unknown (the status query was not answered)\n";
    }
    return "setpoints     speed " + std::to_string(*speed) + " 1/min, time " +
           std::to_string(*time) + "\n";
}

std::string FormatIdentify(const InstrumentReport& report, bool json) {
    const auto limits = RunSpeedLimits(report.type);
    // A by-id link resolved to the device, or a name as typed: bytes of no character set.
    const std::string port = PrintableText(report.devicePath);
    if (json) {
        return "{\"port\":" + JsonString(port) + ",\"device_id\":" + JsonString(report.deviceId) +
               ",\"device_type\":" + std::to_string(report.type) +
               ",\"speed_min\":" + JsonInt(limits ? std::optional(limits->low) : std::nullopt) +
               ",\"speed_max\":" + JsonInt(limits ? std::optional(limits->high) : std::nullopt) +
               ",\"speed_setpoint\":" + JsonInt(report.speedSetpoint) +
               ",\"time_setpoint\":" + JsonInt(report.timeSetpoint) +
               ",\"running\":" + (report.running ? "true" : "false") + "}\n";
    }
    return "port          " + port + "\n" + "device ID     " + report.deviceId + "\n" +
           "device type   " + std::to_string(report.type) + " (" +
           std::string(ModelOf(report.type).name) + ")\n" + "speed limits  " +
           (limits ? std::to_string(limits->low) + " to " + std::to_string(limits->high) + " 1/min"
                   : std::string("none: no run can start")) +
           "\n" + FormatSetpoints(report.speedSetpoint, report.timeSetpoint) +
           (report.running ? "state         running (started elsewhere)\n" : "");
}
