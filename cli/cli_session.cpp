#include "cli/cli_session.h"

#include <unistd.h>

#include <QEventLoop>
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "link/open_failure.h"
#include "link/port_name.h"
#include "link/serial_channel.h"
#include "resources/string_table.h"
#include "run/record_export.h"
#include "sim/simulated_shaker.h"

namespace {

constexpr int kBarWidth = 30;
// The speed entry's own bounds: what the field accepts, and type 3's only limits.
constexpr int kFieldSpeedMin = 100;
constexpr int kFieldSpeedMax = 800;

// A whole number of milliseconds from the environment, within [lowest, highest].
std::optional<int> EnvMilliseconds(const char* name, int lowest, int highest) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return std::nullopt;
    }
    int value = 0;
    const char* end = text + std::strlen(text);
    const auto [ptr, ec] = std::from_chars(text, end, value);
    if (ec != std::errc() || ptr != end || value < lowest || value > highest) {
        return std::nullopt;
    }
    return value;
}

// A real line needs its 50 ms between request bytes; only a pseudo-terminal (the simulated
// shaker) may be paced faster.
bool IsPseudoTerminal(const std::string& devicePath) {
    std::error_code error;
    const std::string resolved = std::filesystem::canonical(devicePath, error).string();
    return !error && resolved.rfind("/dev/pts/", 0) == 0;
}

// The local time as the journal writes it: 2026-03-14T09:26:53.589+01:00.
std::string IsoLocalTime(std::chrono::system_clock::time_point when) {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    const long offset = local.tm_gmtoff;
    const long absOffset = offset < 0 ? -offset : offset;
    char text[64];
    std::snprintf(text, sizeof text, "%s.%03d%c%02ld:%02ld", date, static_cast<int>(ms % 1000),
                  offset < 0 ? '-' : '+', absOffset / 3600, absOffset % 3600 / 60);
    return text;
}

const char* TypeName(DeviceType type) {
    switch (type) {
        case DeviceKV41:
            return "KV41";
        case DeviceKW41:
            return "KW41";
        case DeviceKV27:
            return "KV27";
        case DeviceKW27:
            return "KW27";
        case DeviceUnlisted:
            break;
    }
    return "of no listed type";
}

// The speeds a run may be started with: the type's limits, type 3's field bounds, none for 4.
std::optional<SpeedLimits> RunSpeedLimits(DeviceType type) {
    if (const auto limits = SpeedLimitsFor(type)) {
        return limits;
    }
    if (type == DeviceKW27) {
        return SpeedLimits{kFieldSpeedMin, kFieldSpeedMax};
    }
    return std::nullopt;
}

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

CCliSession::CCliSession(CliOptions options, QObject* parent)
    : QObject(parent), m_options(std::move(options)), m_engine(*this) {
    m_redrawTimer.setInterval(1000);
    connect(&m_redrawTimer, &QTimer::timeout, this, &CCliSession::DrawStatusLine);
    m_linkTimer.setSingleShot(true);
    connect(&m_linkTimer, &QTimer::timeout, this, &CCliSession::LinkGaveUp);
}

CCliSession::~CCliSession() {
    m_engine.Shutdown();
}

// ---- connecting ---------------------------------------------------------------------------

void CCliSession::ChoosePort(CSerialChannel& channel) {
    std::string name = m_options.port;
    if (name == kSimulatorPort) {
        if (!m_simulator) {
            SimOptions simOptions;
            // A little noise, as the window's simulator has, so the speeds look like a platform's.
            simOptions.noise = 2;
            if (const auto unit = EnvMilliseconds("VELMORA_SIM_UNIT_MS", 1, 86'400'000)) {
                simOptions.timeUnit = std::chrono::milliseconds(*unit);
            }
            m_simulator = std::make_unique<CSimulatedShaker>(simOptions);
            if (!m_simulator->Start()) {
                m_simulator.reset();
                m_simulatorFailed = true;
            }
        }
        name = m_simulator ? m_simulator->SlavePath() : std::string();
    }
    channel.SetPortName(name);
    channel.SetBaudRate(m_options.baud);
    m_devicePath = SerialDevicePath(name);
    if (const auto pause = EnvMilliseconds("VELMORA_BYTE_PAUSE_MS", 0, 1000);
        pause && IsPseudoTerminal(m_devicePath)) {
        channel.SetBytePause(std::chrono::milliseconds(*pause));
    }
}

int CCliSession::ConnectInstrument() {
    m_connecting = true;
    m_engine.Connect();
    m_connecting = false;
    if (m_interrupted) {
        return kExitInterrupted;
    }
    if (m_simulatorFailed) {
        Complain("velmora-cli: the simulator could not start: no pseudo-terminal is available");
        return kExitNoInstrument;
    }
    if (m_engine.ConnectionFailed()) {
        const CSerialChannel* channel = CSerialChannel::Instance();
        const OpenAttempt attempt = channel->IsOpen() ? OpenAttempt{} : ProbePortOpen(m_devicePath);
        if (attempt.failedAt != OpenStep::kNone) {
            Complain("velmora-cli: " + OpenFailureReason(attempt));
        } else {
            Complain("velmora-cli: the instrument on " + m_devicePath + " did not answer at " +
                     std::to_string(m_options.baud) + " baud");
        }
        return kExitNoInstrument;
    }
    return kExitOk;
}

// ---- the commands -------------------------------------------------------------------------

std::string CCliSession::SetpointsText() const {
    const auto speed = m_engine.ShownSpeedSetpoint();
    const auto time = m_engine.ShownTimeSetpoint();
    if (!speed || !time) {
        return "setpoints     unknown (the status query was not answered)\n";
    }
    return "setpoints     speed " + std::to_string(*speed) + " 1/min, time " +
           std::to_string(*time) + "\n";
}

int CCliSession::Identify() {
    if (const int code = ConnectInstrument(); code != kExitOk) {
        return code;
    }
    const DeviceType type = m_engine.GetDeviceType();
    const auto limits = RunSpeedLimits(type);
    std::string text;
    if (m_options.json) {
        text = "{\"port\":" + JsonString(m_devicePath) +
               ",\"device_id\":" + JsonString(m_engine.DeviceId()) +
               ",\"device_type\":" + std::to_string(type) +
               ",\"speed_min\":" + JsonInt(limits ? std::optional(limits->low) : std::nullopt) +
               ",\"speed_max\":" + JsonInt(limits ? std::optional(limits->high) : std::nullopt) +
               ",\"speed_setpoint\":" + JsonInt(m_engine.ShownSpeedSetpoint()) +
               ",\"time_setpoint\":" + JsonInt(m_engine.ShownTimeSetpoint()) + "}\n";
    } else {
        text =
            "port          " + m_devicePath + "\n" + "device ID     " + m_engine.DeviceId() + "\n" +
            "device type   " + std::to_string(type) + " (" + TypeName(type) + ")\n" +
            "speed limits  " +
            (limits ? std::to_string(limits->low) + " to " + std::to_string(limits->high) + " 1/min"
                    : std::string("none: no run can start")) +
            "\n" + SetpointsText();
    }
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
    m_engine.Shutdown();
    return type == DeviceUnlisted ? kExitUnlisted : kExitOk;
}

int CCliSession::StopInstrument() {
    if (const int code = ConnectInstrument(); code != kExitOk) {
        return code;
    }
    if (m_engine.GetDeviceType() == DeviceUnlisted) {
        Complain("velmora-cli: the instrument (ID \"" + m_engine.DeviceId() +
                 "\") is of no listed type: nothing is sent to it");
        return kExitUnlisted;
    }
    const auto speed = m_options.speed ? m_options.speed : m_engine.FallbackStopSpeed();
    if (!speed) {
        Complain("velmora-cli: no speed to send: give --speed");
        return kExitNoInstrument;
    }
    m_engine.Stop(speed);
    if (m_interrupted) {
        return kExitInterrupted;
    }
    std::fputs(SetpointsText().c_str(), stdout);
    std::fflush(stdout);
    m_engine.Shutdown();
    return m_stopUnconfirmed ? kExitNoInstrument : kExitOk;
}

int CCliSession::Run() {
    if (const int code = ConnectInstrument(); code != kExitOk) {
        return code;
    }
    if (!m_engine.CheckConnected()) {
        return kExitNoInstrument;
    }
    switch (m_engine.Start(*m_options.speed, m_options.time)) {
        case CRunController::StartOutcome::Started:
            break;
        case CRunController::StartOutcome::NotConnected:
            return kExitNoInstrument;
        case CRunController::StartOutcome::SpeedOutOfRange:
            return kExitRefused;
        case CRunController::StartOutcome::Unlisted:
            Complain("velmora-cli: the instrument (ID \"" + m_engine.DeviceId() +
                     "\") is of no listed type: no run can start");
            return kExitUnlisted;
        case CRunController::StartOutcome::Refused:
            Complain(
                "velmora-cli: the instrument refused the run: neither the speed nor the "
                "time was acknowledged");
            return kExitRefused;
    }
    Complain("velmora-cli: run started on " + m_devicePath + ": speed " +
             std::to_string(*m_options.speed) + " 1/min, time " + std::to_string(m_options.time) +
             "; journal " + m_engine.JournalPath());
    m_lastSpeed = 0;
    m_lastRemaining = m_options.time;
    m_liveLine = !m_options.json && isatty(STDOUT_FILENO) == 1;
    if (m_liveLine) {
        DrawStatusLine();
        m_redrawTimer.start();
    }
    if (!m_runEnd && !m_linkGaveUp && !m_interrupted) {
        QEventLoop loop;
        m_runLoop = &loop;
        loop.exec();
        m_runLoop = nullptr;
    }
    m_redrawTimer.stop();
    m_linkTimer.stop();
    if (m_liveLine) {
        DrawStatusLine();
        std::fputs("\n", stdout);
        std::fflush(stdout);
        m_lineShown = false;
        m_liveLine = false;
    }
    // The link never came back: nothing more can be sent, so the run is given up and its
    // journal says why.
    if (m_linkGaveUp && m_engine.Running()) {
        m_engine.Abandon(RunEnd::LinkLost);
    }
    const int exportCode = WriteExport();
    const std::string journal = m_engine.JournalPath();
    m_engine.Shutdown();
    Complain("velmora-cli: run ended (" +
             std::string(m_linkGaveUp ? "link lost"
                         : m_runEnd   ? RunEndText(*m_runEnd)
                                      : "?") +
             "): " + std::to_string(m_engine.m_record.SpeedSeries().size()) + " samples; journal " +
             journal);
    if (m_interrupted) {
        return kExitInterrupted;
    }
    if (m_linkGaveUp) {
        return kExitLinkLost;
    }
    return exportCode;
}

int CCliSession::WriteExport() {
    if (m_options.out.empty()) {
        return kExitOk;
    }
    if (ExportRecord(m_options.out, m_engine.m_record, m_engine.GetDeviceType()) == 0) {
        ShowInformation(IDS_SAVE_FAILED);
        Complain("velmora-cli: --out: " + m_options.out + " could not be written");
        return kExitUsage;
    }
    return kExitOk;
}

void CCliSession::Interrupt() {
    if (m_interrupted) {
        return;
    }
    m_interrupted = true;
    if (m_engine.Running()) {
        Complain(
            "velmora-cli: interrupted: stopping the instrument (interrupt again to exit at "
            "once without stopping it)");
        // The speed field still holds the run's speed, which the window's Stop sends.
        m_engine.Stop(m_options.speed ? m_options.speed : m_engine.FallbackStopSpeed());
        if (m_runLoop != nullptr) {
            m_runLoop->quit();
        }
        return;
    }
    if (m_connecting) {
        m_engine.CancelConnect();
    }
    if (m_runLoop != nullptr) {
        m_runLoop->quit();
    }
}

// ---- what the engine tells ----------------------------------------------------------------

void CCliSession::ShowInformation(int stringId) {
    if (stringId == IDS_STOP_NOT_CONFIRMED) {
        m_stopUnconfirmed = true;
    }
    // A connection given up on an interrupt did not fail.
    if (stringId == IDS_CONNECT_FAILED && m_interrupted) {
        return;
    }
    Complain(LoadStringResource(stringId).toStdString());
}

void CCliSession::SampleRecorded(int number, int speed, int remaining) {
    m_samples = number;
    m_lastSpeed = speed;
    m_lastRemaining = remaining;
    if (m_liveLine) {
        return;
    }
    const auto& times = m_engine.m_record.SampleTimes();
    const std::string when =
        IsoLocalTime(times.empty() ? std::chrono::system_clock::now() : times.back());
    char line[160];
    if (m_options.json) {
        std::snprintf(line, sizeof line,
                      "{\"sample\":%d,\"speed\":%d,\"remaining\":%d,\"time\":\"%s\"}\n", number,
                      speed, remaining, when.c_str());
    } else {
        std::snprintf(line, sizeof line, "%d\t%d\t%d\t%s\n", number, speed, remaining,
                      when.c_str());
    }
    std::fputs(line, stdout);
    std::fflush(stdout);
}

void CCliSession::RunEnded(RunEnd why) {
    m_runEnd = why;
    if (m_runLoop != nullptr) {
        m_runLoop->quit();
    }
}

void CCliSession::LinkStateChanged(LinkState state) {
    if (state == LinkState::Answering) {
        m_linkTimer.stop();
    } else if ((state == LinkState::Disconnected || state == LinkState::NoReply) &&
               m_engine.Running() && !m_linkTimer.isActive()) {
        m_linkTimer.start(std::chrono::seconds(m_options.reconnectTimeoutS));
    }
    if (m_engine.Running() && !m_liveLine) {
        Complain(std::string("velmora-cli: link: ") + LinkStateText(state));
    }
}

void CCliSession::LinkGaveUp() {
    if (!m_engine.Running() || m_engine.Link() == LinkState::Answering) {
        return;
    }
    m_linkGaveUp = true;
    Complain("velmora-cli: the link was lost and did not come back within " +
             std::to_string(m_options.reconnectTimeoutS) + " s");
    if (m_runLoop != nullptr) {
        m_runLoop->quit();
    }
}

void CCliSession::StatusNote(const std::string& text) {
    Complain("velmora-cli: " + text);
}

// ---- the terminal -------------------------------------------------------------------------

void CCliSession::Complain(const std::string& line) {
    ClearStatusLine();
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

void CCliSession::ClearStatusLine() {
    if (m_lineShown) {
        std::fputs("\r\033[K", stdout);
        std::fflush(stdout);
        m_lineShown = false;
    }
}

void CCliSession::DrawStatusLine() {
    const int total = m_engine.TimeSetAtStart();
    const int remaining = std::clamp(m_lastRemaining, 0, std::max(total, 0));
    const int done = total > 0 ? total - remaining : 0;
    const int percent = total > 0 ? done * 100 / total : 100;
    const int filled = total > 0 ? done * kBarWidth / total : kBarWidth;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kBarWidth - filled), '-');
    char text[200];
    std::snprintf(
        text, sizeof text, "\r\033[Kspeed %4d 1/min  remaining %02d:%02d  [%s] %3d%%  sample %d",
        m_lastSpeed, m_lastRemaining / 60, m_lastRemaining % 60, bar.c_str(), percent, m_samples);
    std::string line = text;
    if (m_engine.Link() != LinkState::Answering) {
        line += std::string("  (") + LinkStateText(m_engine.Link()) + ")";
    }
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
    m_lineShown = true;
}
