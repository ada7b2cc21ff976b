#include "cli/cli_output.h"

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
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

void CCliTerminal::Print(const std::string& text) {
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
    const int total = state.total;
    const int remaining = std::clamp(state.remaining, 0, std::max(total, 0));
    const int done = total > 0 ? total - remaining : 0;
    const int percent = total > 0 ? done * 100 / total : 100;
    const int filled = total > 0 ? done * kBarWidth / total : kBarWidth;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kBarWidth - filled), '-');
    char text[200];
    std::snprintf(text, sizeof text,
                  "\r\033[Kspeed %4d 1/min  remaining %02d:%02d  [%s] %3d%%  sample %d",
                  state.speed, state.remaining / 60, state.remaining % 60, bar.c_str(), percent,
                  state.samples);
    std::string line = text;
    if (state.link != LinkState::Answering) {
        line += std::string("  (") + LinkStateText(state.link) + ")";
    }
    Print(line);
    m_shown = true;
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
