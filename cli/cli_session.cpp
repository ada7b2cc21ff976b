#include "cli/cli_session.h"

#include <unistd.h>

#include <QCoreApplication>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "link/open_failure.h"
#include "link/port_name.h"
#include "notify/notification_settings.h"
#include "run/instrument_models.h"
#include "run/printable_text.h"
#include "run/record_export.h"
#include "sim/simulated_shaker.h"

namespace {

// The window says these in its message boxes; the command line says the same on standard error.
constexpr const char* kConnectFailed = "Failed to connect the instrument";
constexpr const char* kSpeedOutOfRange = "The speed has exceeded the speed range, please reset";
constexpr const char* kStopNotConfirmed = "The instrument did not confirm the stop";
constexpr const char* kSaveFailed = "Failed to save the file";

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

}  // namespace

CCliSession::CCliSession(CliOptions options, QObject* parent)
    : QObject(parent), m_options(std::move(options)), m_engine(*this) {
    m_redrawTimer.setInterval(1000);
    connect(&m_redrawTimer, &QTimer::timeout, this,
            [this] { m_terminal.DrawStatusLine(LineState()); });
    m_linkTimer.setSingleShot(true);
    connect(&m_linkTimer, &QTimer::timeout, this, &CCliSession::LinkGaveUp);
    if (m_options.command != CliOptions::Command::Run) {
        return;
    }
    const NotificationSettings settings = LoadNotificationSettings();
    const QUrl webhook = m_options.notify.empty()
                             ? settings.webhook
                             : ParseWebhookUrl(QString::fromStdString(m_options.notify), nullptr);
    if (webhook.isValid()) {
        CWebhookNotifier::Options notify;
        notify.url = webhook;
        notify.events = settings.events;
        m_webhook = std::make_unique<CWebhookNotifier>(notify);
        m_engine.SetEventSink(m_webhook.get());
    }
}

CCliSession::~CCliSession() {
    m_engine.Shutdown();
}

void CCliSession::Finish(int code) {
    m_phase = Phase::Done;
    m_redrawTimer.stop();
    m_linkTimer.stop();
    QCoreApplication::exit(code);
}

// ---- connecting ---------------------------------------------------------------------------

PortChoice CCliSession::ChoosePort() {
    std::string name = m_options.port;
    if (name == kSimulatorPort) {
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
        name = m_simulator ? m_simulator->SlavePath() : std::string();
        // Its runs' journals say they were simulated.
        m_engine.SetSimulated(true);
    }
    m_devicePath = SerialDevicePath(name);
    if (const auto pause = EnvMilliseconds("VELMORA_BYTE_PAUSE_MS", 0, 1000);
        pause && IsPseudoTerminal(m_devicePath)) {
        m_engine.SetBytePause(std::chrono::milliseconds(*pause));
    }
    return PortChoice{name, m_options.baud};
}

void CCliSession::Begin() {
    if (m_phase != Phase::NotBegun) {
        return;
    }
    if (m_interrupted) {
        Finish(kExitInterrupted);
        return;
    }
    m_phase = Phase::Connecting;
    m_engine.Connect(ChoosePort());
}

void CCliSession::ConnectFinished(const ConnectOutcome& outcome) {
    if (m_phase != Phase::Connecting) {
        return;
    }
    // A connection given up on an interrupt did not fail.
    if (m_interrupted) {
        Finish(kExitInterrupted);
        return;
    }
    if (outcome.result != ConnectOutcome::Result::Connected) {
        ConnectFailed(outcome);
        return;
    }
    m_runningElsewhere = outcome.runningElsewhere;
    switch (m_options.command) {
        case CliOptions::Command::Identify:
            Identify();
            break;
        case CliOptions::Command::Stop:
            SendStop();
            break;
        case CliOptions::Command::Run:
            StartRun();
            break;
        case CliOptions::Command::Ports:
            Finish(kExitOk);
            break;
    }
}

void CCliSession::ConnectionStep(const std::string& step) {
    if (m_phase == Phase::Connecting) {
        m_terminal.Progress(ConnectionProgressText(step));
    }
}

void CCliSession::ConnectFailed(const ConnectOutcome& outcome) {
    std::string why;
    if (m_simulatorFailed) {
        why = "the simulator could not start: no pseudo-terminal is available";
    } else if (!outcome.reason.empty()) {
        // It may name the program holding the port, as that program calls itself.
        why = PrintableText(outcome.reason);
    } else {
        // A port that opened had an instrument that did not answer; any other says why not.
        const OpenAttempt attempt =
            outcome.portOpened ? OpenAttempt{} : ProbePortOpen(m_devicePath);
        why = outcome.portOpened || attempt.failedAt == OpenStep::kNone
                  ? "the instrument on " + m_devicePath + " did not answer at " +
                        std::to_string(m_options.baud) + " baud"
                  : PrintableText(OpenFailureReason(attempt));
    }
    m_terminal.Complain(std::string(kConnectFailed) + ": " + why);
    Finish(kExitNoInstrument);
}

// ---- identify and stop --------------------------------------------------------------------

void CCliSession::Identify() {
    const DeviceType type = m_engine.GetDeviceType();
    m_terminal.Print(FormatIdentify(
        InstrumentReport{m_devicePath, m_engine.DeviceId(), type, m_engine.ShownSpeedSetpoint(),
                         m_engine.ShownTimeSetpoint(), m_runningElsewhere},
        m_options.json));
    Finish(type == DeviceUnlisted ? kExitUnlisted : kExitOk);
}

void CCliSession::SendStop() {
    if (!ModelOf(m_engine.GetDeviceType()).sendsCommands) {
        m_terminal.Complain("velmora-cli: the instrument (ID \"" + m_engine.DeviceId() +
                            "\") is of no listed type: nothing is sent to it");
        Finish(kExitUnlisted);
        return;
    }
    const auto speed = m_options.speed ? m_options.speed : m_engine.FallbackStopSpeed();
    if (!speed) {
        m_terminal.Complain("velmora-cli: no speed to send: give --speed");
        Finish(kExitNoInstrument);
        return;
    }
    m_phase = Phase::Stopping;
    m_engine.Stop(speed);
}

void CCliSession::StopFinished(const StopOutcome& outcome) {
    if (outcome.result == StopOutcome::Result::NotConfirmed) {
        m_terminal.Complain(kStopNotConfirmed);
    }
    if (m_phase == Phase::Running && m_stopPending) {
        m_stopPending = false;
        // The instrument may still be running: leaving as if the run had ended would tell the
        // script something that did not happen.
        if (outcome.result == StopOutcome::Result::NotConfirmed && !outcome.endedRun && !m_runEnd &&
            m_engine.Running()) {
            m_stopUnconfirmed = true;
            FinishRun();
            return;
        }
        // Refused: the run was already ending on its own; it finishes once the engine is idle.
        if (outcome.result != StopOutcome::Result::Busy || m_engine.State() == EngineState::Idle) {
            FinishRun();
        }
        return;
    }
    if (m_phase != Phase::Stopping) {
        return;
    }
    if (m_interrupted) {
        Finish(kExitInterrupted);
        return;
    }
    m_terminal.Print(FormatSetpoints(m_engine.ShownSpeedSetpoint(), m_engine.ShownTimeSetpoint()));
    Finish(outcome.result == StopOutcome::Result::NotConfirmed ||
                   outcome.result == StopOutcome::Result::Busy
               ? kExitNoInstrument
               : kExitOk);
}

// ---- a run --------------------------------------------------------------------------------

void CCliSession::StartRun() {
    m_phase = Phase::Starting;
    m_engine.Start(*m_options.speed, m_options.time, SpeedRefusal::StopTheInstrument);
}

void CCliSession::StartFinished(const StartOutcome& outcome) {
    if (m_phase != Phase::Starting) {
        return;
    }
    switch (outcome.result) {
        case StartOutcome::Result::Started:
            RunStarted();
            return;
        case StartOutcome::Result::NotConnected:
            Finish(kExitNoInstrument);
            return;
        case StartOutcome::Result::Busy:
            if (m_runningElsewhere) {
                m_terminal.Complain(
                    "velmora-cli: the instrument is running a run started elsewhere: no run can "
                    "start (velmora-cli stop stops it)");
            }
            Finish(kExitNoInstrument);
            return;
        case StartOutcome::Result::TimeOutOfRange:
            m_terminal.Complain("velmora-cli: --time: " + std::to_string(m_options.time) +
                                " is outside " +
                                (outcome.limits ? std::to_string(outcome.limits->low) + " to " +
                                                      std::to_string(outcome.limits->high)
                                                : std::string("the instrument's range")));
            Finish(kExitUsage);
            return;
        case StartOutcome::Result::SpeedOutOfRange:
            m_terminal.Complain(kSpeedOutOfRange);
            Finish(kExitRefused);
            return;
        case StartOutcome::Result::Unlisted:
            m_terminal.Complain("velmora-cli: the instrument (ID \"" + m_engine.DeviceId() +
                                "\") is of no listed type: no run can start");
            Finish(kExitUnlisted);
            return;
        case StartOutcome::Result::Refused:
            m_terminal.Complain(
                "velmora-cli: the instrument refused the run: neither the speed nor the "
                "time was acknowledged");
            Finish(kExitRefused);
            return;
        case StartOutcome::Result::SpeedRefused:
            if (outcome.stopConfirmed) {
                m_terminal.Complain(
                    "velmora-cli: the instrument refused the speed (it acknowledged only the "
                    "time) and was stopped: no run");
            } else {
                m_terminal.Complain(kStopNotConfirmed);
                m_terminal.Complain(
                    "velmora-cli: the instrument refused the speed (it acknowledged only the "
                    "time); it was told to stop but did not confirm the stop: it may be running "
                    "at its own setpoint");
            }
            Finish(kExitRefused);
            return;
    }
}

void CCliSession::RunStarted() {
    m_phase = Phase::Running;
    m_terminal.Complain("velmora-cli: run started on " + m_devicePath + ": speed " +
                        std::to_string(*m_options.speed) + " 1/min, time " +
                        std::to_string(m_options.time) + "; journal " + m_engine.JournalPath());
    m_lastSpeed = 0;
    m_lastRemaining = m_options.time;
    if (!m_options.json && isatty(STDOUT_FILENO) == 1) {
        m_terminal.BeginStatusLine(LineState());
        m_redrawTimer.start();
    }
    // Interrupted while the run was starting: it is stopped now that there is one.
    if (m_interrupted) {
        StopRun();
    }
}

void CCliSession::StopRun() {
    m_terminal.Complain(
        "velmora-cli: interrupted: stopping the instrument (interrupt again to exit at "
        "once without stopping it)");
    m_stopPending = true;
    // The speed field still holds the run's speed, which the window's Stop sends.
    m_engine.Stop(m_options.speed ? m_options.speed : m_engine.FallbackStopSpeed());
}

void CCliSession::Interrupt() {
    if (m_interrupted || m_phase == Phase::Done) {
        return;
    }
    // A run that has ended already only waits for its setpoints.
    if (m_phase == Phase::Running && m_runEnd) {
        return;
    }
    m_interrupted = true;
    switch (m_phase) {
        case Phase::Connecting:
            m_engine.CancelConnect();
            break;
        case Phase::Running:
            StopRun();
            break;
        case Phase::NotBegun:
        case Phase::Starting:
        case Phase::Stopping:
        case Phase::Done:
            break;
    }
}

void CCliSession::Abandon() {
    if (m_phase == Phase::Done) {
        return;
    }
    m_terminal.Complain(
        "velmora-cli: interrupted again: exiting at once; the instrument was NOT stopped");
    // Closing the port now, not at _exit, gives the line back its settings (a terminal used as
    // the port stays usable) and ends the journal as closed rather than unfinished.
    m_engine.Shutdown();
    Finish(kExitInterrupted);
}

void CCliSession::StateChanged(EngineState state) {
    if (state == EngineState::Idle && m_phase == Phase::Running && !m_stopPending &&
        (m_runEnd || m_linkGaveUp)) {
        FinishRun();
    }
}

void CCliSession::FinishRun() {
    if (m_phase != Phase::Running) {
        return;
    }
    m_redrawTimer.stop();
    m_linkTimer.stop();
    m_terminal.EndStatusLine(LineState());
    const int exportCode = WriteExport();
    if (m_stopUnconfirmed) {
        m_terminal.Complain("velmora-cli: the run did not end: " +
                            std::to_string(m_engine.Record().SpeedSeries().size()) +
                            " samples so far; journal " + m_engine.JournalPath());
        Finish(kExitNoInstrument);
        return;
    }
    const int missing = m_engine.JournalMissingSamples();
    if (missing > 0) {
        m_terminal.Complain("velmora-cli: the run ended but its journal is incomplete: " +
                            std::to_string(missing) + " samples missing");
    }
    m_terminal.Complain("velmora-cli: run ended (" +
                        std::string(m_linkGaveUp ? "link lost"
                                    : m_runEnd   ? RunEndText(*m_runEnd)
                                                 : "?") +
                        "): " + std::to_string(m_engine.Record().SpeedSeries().size()) +
                        " samples; journal " + m_engine.JournalPath());
    if (m_interrupted) {
        Finish(kExitInterrupted);
    } else if (m_linkGaveUp) {
        Finish(kExitLinkLost);
    } else if (exportCode == kExitOk && missing > 0) {
        Finish(kExitJournalIncomplete);
    } else if (exportCode == kExitOk && m_engine.AnyAlarmRaised()) {
        Finish(kExitAlarm);
    } else {
        Finish(exportCode);
    }
}

int CCliSession::WriteExport() {
    if (m_options.out.empty()) {
        return kExitOk;
    }
    if (ExportRecord(m_options.out, m_engine.Record(), m_engine.GetDeviceType()) == 0) {
        m_terminal.Complain(kSaveFailed);
        m_terminal.Complain("velmora-cli: --out: " + m_options.out + " could not be written");
        return kExitUsage;
    }
    return kExitOk;
}

// ---- what the engine tells ----------------------------------------------------------------

void CCliSession::SampleRecorded(int number, int speed, int remaining) {
    if (m_phase == Phase::Done) {
        return;
    }
    m_samples = number;
    m_lastSpeed = speed;
    m_lastRemaining = remaining;
    if (m_terminal.Live()) {
        return;
    }
    const auto& times = m_engine.Record().SampleTimes();
    m_terminal.Print(FormatSampleLine(
        number, speed, remaining, times.empty() ? std::chrono::system_clock::now() : times.back(),
        m_options.json));
}

void CCliSession::RunEnded(RunEnd why) {
    m_runEnd = why;
}

void CCliSession::LinkStateChanged(LinkState state) {
    if (m_phase == Phase::Done) {
        return;
    }
    if (state == LinkState::Answering) {
        m_linkTimer.stop();
    } else if ((state == LinkState::Disconnected || state == LinkState::NoReply) &&
               m_engine.Running() && !m_linkTimer.isActive()) {
        m_linkTimer.start(std::chrono::seconds(m_options.reconnectTimeoutS));
    }
    if (m_engine.Running() && !m_terminal.Live()) {
        m_terminal.Complain(std::string("velmora-cli: link: ") + LinkStateText(state));
    }
}

void CCliSession::LinkGaveUp() {
    if (m_phase != Phase::Running || m_runEnd || !m_engine.Running() ||
        m_engine.Link() == LinkState::Answering) {
        return;
    }
    m_linkGaveUp = true;
    m_terminal.Complain("velmora-cli: the link was lost and did not come back within " +
                        std::to_string(m_options.reconnectTimeoutS) + " s");
    if (m_stopPending) {
        return;
    }
    // Nothing more can be sent, so the run is given up and its journal says why.
    m_engine.Abandon(RunEnd::LinkLost);
    if (m_engine.State() == EngineState::Idle) {
        FinishRun();
    }
}

// JSON lines go with the samples; otherwise the alarm goes where messages go, above the live line.
void CCliSession::AlarmChanged(const Alarm& alarm) {
    if (m_phase == Phase::Done) {
        return;
    }
    const std::string line =
        FormatAlarmLine(alarm, std::chrono::system_clock::now(), m_options.json);
    if (m_options.json) {
        m_terminal.Print(line);
    } else {
        m_terminal.Complain("velmora-cli: " + line.substr(0, line.size() - 1));
    }
}

void CCliSession::StatusNote(const std::string& text) {
    if (m_phase != Phase::Done) {
        m_terminal.Complain("velmora-cli: " + text);
    }
}

StatusLineState CCliSession::LineState() const {
    return StatusLineState{m_lastSpeed, m_lastRemaining, m_engine.TimeSetAtStart(), m_samples,
                           m_engine.Link()};
}
