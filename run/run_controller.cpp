// Run control: Start, Stop, the setpoints and the poller's samples.
#include "run/run_controller.h"

#include "run/local_user.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <limits>

#include "link/frames.h"
#include "link/serial_channel.h"
#include "link/shaker_protocol.h"
#include "run/instrument_models.h"
#include "run/status_poller.h"

std::string CRunController::LocalUser() {
    return LocalUserAtHost();
}

CRunController::CRunController(IRunObserver& observer, QObject* parent)
    : QObject(parent),
      m_observer(observer),
      m_channel(std::make_unique<CSerialChannel>()),
      m_protocol(std::make_unique<CShakerProtocol>(*m_channel)),
      m_poller(std::make_unique<CStatusPoller>(*m_protocol)),
      // Crosses threads: the journal's notes are queued to the engine's thread.
      m_journal([this](const std::string& text) {
          QMetaObject::invokeMethod(
              this,
              [this, text] {
                  if (!m_shutDown) {
                      m_observer.StatusNote(text);
                  }
              },
              Qt::QueuedConnection);
      }) {
    m_reconnectTimer.setInterval(kReconnectPeriod);
    connect(&m_reconnectTimer, &QTimer::timeout, this, &CRunController::TryReconnect);
    m_watchdog.setSingleShot(true);
    connect(&m_watchdog, &QTimer::timeout, this, &CRunController::CheckAnswering);
    m_alarmTimer.setSingleShot(true);
    connect(&m_alarmTimer, &QTimer::timeout, this, [this] {
        RaiseAlarms(m_alarmRules.Tick(std::chrono::steady_clock::now()));
        ArmAlarmTimer();
    });
}

CRunController::~CRunController() {
    Shutdown();
}

// ---- run control ------------------------------------------------------------------------

void CRunController::Start(int speed, int time, SpeedRefusal refusal) {
    StartOutcome outcome;
    if (DeferUntilSettingsShown([this, speed, time, refusal] { Start(speed, time, refusal); })) {
        return;
    }
    if (m_state != EngineState::Idle) {
        outcome.result = StartOutcome::Result::Busy;
        FinishStart(speed, time, outcome);
        return;
    }
    if (m_connectionFailed) {
        outcome.result = StartOutcome::Result::NotConnected;
        FinishStart(speed, time, outcome);
        return;
    }
    const InstrumentModel& model = ModelOf(m_deviceType);
    if (model.startLimits && !model.startLimits->Contains(speed)) {
        outcome.result = StartOutcome::Result::SpeedOutOfRange;
        outcome.limits = model.startLimits;
        FinishStart(speed, time, outcome);
        return;
    }
    // A time of 0 would "run" for one poll cycle while the instrument never moved.
    if (!model.timeField.Contains(time)) {
        outcome.result = StartOutcome::Result::TimeOutOfRange;
        outcome.limits = model.timeField;
        FinishStart(speed, time, outcome);
        return;
    }
    if (!model.sendsCommands) {
        outcome.result = StartOutcome::Result::Unlisted;
        FinishStart(speed, time, outcome);
        return;
    }
    m_lastStartSpeed = speed;
    JournalHeader header = RunHeader(time);
    SetState(EngineState::Starting);
    struct Acks {
        bool speed = false;
        bool time = false;
        bool stopConfirmed = false;
        std::optional<std::vector<std::uint8_t>> status;
    };
    OffThread<Acks>(
        [this, speed, time, refusal, header]() mutable {
            Acks acks;
            acks.speed = m_protocol->SetSpeed(speed, &m_workCancel) != 0;
            acks.time = m_protocol->SetTime(time, &m_workCancel) != 0;
            if (!acks.speed && acks.time && refusal == SpeedRefusal::StopTheInstrument) {
                // The time command started the instrument at a speed nobody asked for.
                acks.stopConfirmed = SendStop(speed);
                acks.status = ReadStatus();
            }
            if (acks.speed) {
                // Begun here, off the engine's thread, and waited for: the run's journal has
                // its path by the time the start is reported.
                header.start = std::chrono::system_clock::now();
                header.speedSetpoint = speed;
                m_journal.Begin(header);
                m_journal.WaitUntilWritten();
            }
            return acks;
        },
        [this, speed, time, refusal](Acks acks) {
            if (!acks.speed && acks.time && refusal == SpeedRefusal::StopTheInstrument) {
                if (acks.status) {
                    ShowSetpoints(*acks.status);
                }
                SetState(EngineState::Idle);
                StartOutcome refused;
                refused.result = StartOutcome::Result::SpeedRefused;
                refused.timeAcknowledged = true;
                refused.stopConfirmed = acks.stopConfirmed;
                FinishStart(speed, time, refused);
                return;
            }
            StartFinished(speed, time, acks.speed, acks.time);
        });
}

bool CRunController::SendStop(int speed) {
    for (int attempt = 0; attempt < kStopRetries; ++attempt) {
        if (m_protocol->SetSpeed(speed, &m_workCancel) != 0) {
            return true;
        }
    }
    return false;
}

std::optional<std::vector<std::uint8_t>> CRunController::ReadStatus() {
    std::vector<std::uint8_t> block;
    if (m_protocol->QueryStatus(block, &m_workCancel) == 0) {
        return std::nullopt;
    }
    return block;
}

void CRunController::StartFinished(int speed, int time, bool speedAcknowledged,
                                   bool timeAcknowledged) {
    StartOutcome outcome;
    outcome.speedAcknowledged = speedAcknowledged;
    outcome.timeAcknowledged = timeAcknowledged;
    if (!speedAcknowledged && !timeAcknowledged) {
        SetState(EngineState::Idle);
        outcome.result = StartOutcome::Result::Refused;
        FinishStart(speed, time, outcome);
        return;
    }
    m_speedAtStart = speed;
    m_timeAtStart = time;
    m_startedElsewhere = false;
    // With the speed refused the instrument runs at its own setpoint: the journal's header
    // waits for the first status reply to say which. Otherwise the journal is begun already.
    std::optional<JournalHeader> waiting;
    if (!speedAcknowledged) {
        waiting = RunHeader(time);
        waiting->start = std::chrono::system_clock::now();
    }
    BeginRun(waiting);
    outcome.result = StartOutcome::Result::Started;
    FinishStart(speed, time, outcome);
}

JournalHeader CRunController::RunHeader(int timeSetpoint) const {
    JournalHeader header;
    header.port = m_portName;
    header.deviceId = m_printableId;
    header.deviceType = m_deviceType;
    header.timeSetpoint = timeSetpoint;
    header.programVersion = VELMORA_VERSION;
    header.startedBy = m_startedBy;
    header.simulated = m_simulated;
    return header;
}

void CRunController::BeginRun(std::optional<JournalHeader> headerWaitingForSpeed) {
    m_record.ResetSpeedExtent();
    m_observer.ResetGraph();
    m_record.ResetRecord();
    m_pendingHeader = std::move(headerWaitingForSpeed);
    m_alarmRules.RunBegan();
    m_runAlarms.clear();
    m_alarmTimer.stop();
    m_notRunningInARow = 0;
    ++m_sampleRun;
    m_unreported.clear();
    m_endToAnnounce.reset();
    m_failedCycles = 0;
    m_lastAnswer = std::chrono::steady_clock::now();
    StartPoller();
    ArmWatchdog();
    SetState(EngineState::Running);
    SetRunning(true);
}

std::optional<int> CRunController::FallbackStopSpeed() const {
    return m_lastStartSpeed ? m_lastStartSpeed : m_shownSpeedSetpoint;
}

// Stop's exchanges can take 13 s with a silent instrument; they run on the worker, and the
// setpoints query follows them in the same job so that idle always shows the setpoints.
void CRunController::Stop(std::optional<int> speed) {
    if (DeferUntilSettingsShown([this, speed] { Stop(speed); })) {
        return;
    }
    if (ExchangesUnderWay()) {
        StopOutcome outcome;
        outcome.result = StopOutcome::Result::Busy;
        FinishStop(speed, outcome);
        return;
    }
    m_poller->RequestStop();
    StopReconnecting();
    const bool wasRunning = Running();
    const bool send = ModelOf(m_deviceType).sendsCommands && speed.has_value();
    SetState(EngineState::Stopping);
    struct StopResult {
        bool confirmed = false;
        std::optional<std::vector<std::uint8_t>> status;
    };
    OffThread<StopResult>(
        [this, send, speed] {
            StopResult result;
            result.confirmed = send && SendStop(*speed);
            result.status = ReadStatus();
            // The run's samples are reported, and its count of missing ones final, before
            // the stop is.
            m_journal.WaitUntilWritten();
            return result;
        },
        [this, send, wasRunning, speed](StopResult result) {
            StopFinished(send, result.confirmed, wasRunning, speed, result.status);
        });
}

void CRunController::StopFinished(bool sent, bool confirmed, bool wasRunning,
                                  std::optional<int> speed,
                                  const std::optional<std::vector<std::uint8_t>>& status) {
    StopOutcome outcome;
    outcome.result = !sent       ? StopOutcome::Result::NothingSent
                     : confirmed ? StopOutcome::Result::Confirmed
                                 : StopOutcome::Result::NotConfirmed;
    if (wasRunning && Running() && sent && !confirmed) {
        // Nobody knows the instrument stopped: the run goes on being watched, and the poller
        // (or the reconnection) shows the truth.
        m_journal.Note("stop not confirmed");
        RaiseAlarms({CAlarmRules::StopNotConfirmed()});
        if (m_link == LinkState::Disconnected) {
            SetState(EngineState::Reconnecting);
            m_reconnectTimer.start();
        } else {
            m_lastAnswer = std::chrono::steady_clock::now();
            StartPoller();
            ArmWatchdog();
            SetState(EngineState::Running);
        }
        FinishStop(speed, outcome);
        return;
    }
    if (wasRunning && Running()) {
        EndRun(RunEnd::Stopped);
    }
    SetRunning(false);
    if (status) {
        ShowSetpoints(*status);
    }
    SetState(EngineState::Idle);
    outcome.endedRun = wasRunning;
    FinishStop(speed, outcome);
}

void CRunController::ShowSettings() {
    if (ExchangesUnderWay()) {
        return;
    }
    m_poller->RequestStop();
    m_watchdog.stop();
    SetState(EngineState::Stopping);
    m_readingSettings = true;
    OffThread<std::optional<std::vector<std::uint8_t>>>(
        [this] {
            auto status = ReadStatus();
            // As for Stop: the run's journal is written before the engine is idle.
            m_journal.WaitUntilWritten();
            return status;
        },
        [this](std::optional<std::vector<std::uint8_t>> status) {
            m_readingSettings = false;
            // Every line of the run is written by now, so its end is announced at the latest.
            ReportWrittenSamples(m_sampleRun, std::numeric_limits<int>::max());
            SetRunning(false);
            if (status) {
                ShowSetpoints(*status);
            }
            SetState(EngineState::Idle);
            if (auto request = std::exchange(m_afterSettings, nullptr)) {
                request();
            }
        });
}

bool CRunController::DeferUntilSettingsShown(std::function<void()> request) {
    // A client that starts its next run as soon as one ends is not refused for the read of
    // the setpoints in between.
    if (!m_readingSettings || m_afterSettings) {
        return false;
    }
    m_afterSettings = std::move(request);
    return true;
}

bool CRunController::ExchangesUnderWay() const {
    return m_state == EngineState::Connecting || m_state == EngineState::Starting ||
           m_state == EngineState::Stopping;
}

void CRunController::ShowSetpoints(const std::vector<std::uint8_t>& block) {
    if (static_cast<int>(block.size()) < StatusFrame::kLength) {
        return;
    }
    m_shownSpeedSetpoint = ReadU16(block, StatusFrame::kSpeedSetpoint);
    m_shownTimeSetpoint = ReadU16(block, StatusFrame::kTimeSetpoint);
    m_observer.ShowSpeed(*m_shownSpeedSetpoint);
    m_observer.ShowTime(*m_shownTimeSetpoint);
}

// ---- the poller's samples ---------------------------------------------------------------

void CRunController::StartPoller() {
    const int pollRun = ++m_pollRun;
    // Crosses threads: a cycle's samples are queued to the engine's thread together, so it
    // wakes once a cycle, not once a reply; one from a poller run that has ended by then is
    // dropped there. `held` is touched on the poller's thread only.
    struct CycleSamples {
        std::optional<StatusSample> status;
        std::optional<RunStateSample> runState;
    };
    auto held = std::make_shared<CycleSamples>();
    CStatusPoller::Sink sink;
    sink.status = [held](const StatusSample& sample) { held->status = sample; };
    sink.runState = [held](const RunStateSample& sample) { held->runState = sample; };
    sink.cycleEnd = [this, held] {
        if (!held->status && !held->runState) {
            return;
        }
        QMetaObject::invokeMethod(
            this,
            [this, samples = std::exchange(*held, {})] {
                ReportDurableSamples();
                if (samples.status) {
                    OnStatusSample(*samples.status);
                }
                if (samples.runState) {
                    OnRunStateSample(*samples.runState);
                }
            },
            Qt::QueuedConnection);
    };
    sink.failure = [this](const PollFailure& failure) {
        QMetaObject::invokeMethod(
            this, [this, failure] { OnPollFailure(failure); }, Qt::QueuedConnection);
    };
    m_poller->Start(pollRun, std::move(sink));
}

void CRunController::OnStatusSample(const StatusSample& sample) {
    if (m_shutDown || sample.pollRun != m_pollRun || m_state != EngineState::Running) {
        return;
    }
    m_failedCycles = 0;
    m_lastAnswer = std::chrono::steady_clock::now();
    ArmWatchdog();
    SetLink(LinkState::Answering);
    if (m_pendingHeader) {
        JournalHeader header = *m_pendingHeader;
        m_pendingHeader.reset();
        header.speedSetpoint = sample.speedSetpoint;
        m_journal.Begin(header);
        m_journal.Note("speed refused");
    }

    const int speed = sample.displayed;
    const int remaining = sample.remaining;
    double largestX = 0.0;
    if (ModelOf(m_deviceType).sendsCommands) {
        m_observer.ShowSpeed(speed);
        m_record.AppendSpeed(static_cast<std::uint32_t>(speed));
        const int x = static_cast<int>(m_record.SpeedSeries().size());
        m_observer.PlotSpeed(x, speed);
        largestX = std::max(x, 0);
        m_observer.ShowBlinkingTime(remaining);
        m_record.AppendRemainingTime(static_cast<std::uint32_t>(remaining));
        const auto now = std::chrono::system_clock::now();
        m_record.AppendSampleTime(now);
        largestX = std::max(largestX, static_cast<double>(m_record.TimeSeries().size()));
        // Reported once its line is durable: whoever hears of a sample (a client of the
        // server, a script reading the command line) finds it in the journal even after a
        // crash. Crosses threads: the journal's thread notes how far the journal is durable,
        // and queues the report to the engine's thread when reports are prompt.
        m_unreported.push_back({x, speed, remaining});
        m_journal.Sample(x, speed, sample.actual, remaining, now, [this, run = m_sampleRun, x] {
            m_durable.store(static_cast<std::uint64_t>(static_cast<std::uint32_t>(run)) << 32 |
                            static_cast<std::uint32_t>(x));
            if (m_promptReports.load()) {
                QMetaObject::invokeMethod(
                    this, [this, run, x] { ReportWrittenSamples(run, x); }, Qt::QueuedConnection);
            }
        });
        RaiseAlarms(m_alarmRules.Sample(sample.actual, sample.speedSetpoint,
                                        std::chrono::steady_clock::now()));
        if (remaining <= 0) {
            EndRunAndShowSettings(RunEnd::TimeUp);
        }
    }
    m_observer.RescaleGraph(m_record.SpeedMinimum(), m_record.SpeedMaximum(), largestX);
}

// One "not running" reply may be line noise that passed the checksum, or the reply to some
// other request: the run ends only when a second reply in a row says so too. The engine asks
// at once rather than a cycle later; the poller's own next reply counts as well, since a slow
// line may let it come first.
void CRunController::OnRunStateSample(const RunStateSample& sample) {
    if (m_shutDown || sample.pollRun != m_pollRun || m_state != EngineState::Running) {
        return;
    }
    NoteRunFlag(sample.runFlag);
    if (sample.runFlag != 0 || m_state != EngineState::Running || m_confirmingRunState) {
        return;
    }
    m_confirmingRunState = true;
    const int pollRun = sample.pollRun;
    OffThread<std::optional<int>>(
        [this]() -> std::optional<int> {
            std::vector<std::uint8_t> block;
            if (m_protocol->QueryRunState(block, &m_workCancel) == 0) {
                return std::nullopt;
            }
            return block[RunStateFrame::kRunFlag];
        },
        [this, pollRun](std::optional<int> runFlag) {
            m_confirmingRunState = false;
            if (runFlag && pollRun == m_pollRun && m_state == EngineState::Running) {
                NoteRunFlag(*runFlag);
            }
        });
}

void CRunController::NoteRunFlag(int runFlag) {
    m_notRunningInARow = runFlag == 0 ? m_notRunningInARow + 1 : 0;
    if (m_notRunningInARow >= 2) {
        m_notRunningInARow = 0;
        EndRunAndShowSettings(RunEnd::InstrumentStopped);
    }
}

void CRunController::Abandon(RunEnd why) {
    m_poller->RequestStop();
    StopReconnecting();
    if (Running()) {
        EndRun(why);
    }
    SetRunning(false);
    if (m_state == EngineState::Running || m_state == EngineState::Reconnecting) {
        SetState(EngineState::Idle);
    }
}

void CRunController::Shutdown() {
    if (m_shutDown) {
        return;
    }
    m_shutDown = true;
    m_reconnectTimer.stop();
    m_watchdog.stop();
    m_workCancel.Cancel();
    m_connectCancel.Cancel();
    m_reconnectCancel.Cancel();
    m_poller->RequestStop();
    m_poller->Join();
    m_worker.Finish();
    // A journal begun by a start whose report never came ends too; with none open this
    // writes nothing.
    if (m_running) {
        AuditRunEnd(RunEnd::Closed);
    }
    m_journal.End(RunEnd::Closed);
    m_running = false;
    // The end line is on the disk before the program goes on closing.
    m_journal.Finish();
    m_channel->Close();
}

void CRunController::SetState(EngineState state) {
    if (state == m_state) {
        return;
    }
    m_state = state;
    m_observer.StateChanged(state);
}

void CRunController::SetRunning(bool running) {
    if (!running) {
        m_watchdog.stop();
    }
    if (running == m_running) {
        return;
    }
    m_running = running;
    m_observer.RunningChanged(running);
}

void CRunController::EndRun(RunEnd why) {
    RaiseAlarms(m_alarmRules.RunEnded(why));
    AuditRunEnd(why);
    m_journal.End(why);
    StopReconnecting();
    // The front ends hear of every sample before the end of its run, even of one whose line
    // is still on its way to the disk (a link given up: it was sent long ago).
    ReportWrittenSamples(m_sampleRun, std::numeric_limits<int>::max());
    m_observer.RunEnded(why);
}

// The run's last sample is usually still being written: the end is announced after it, as
// soon as it is reported, while the setpoints are read.
void CRunController::EndRunAndShowSettings(RunEnd why) {
    RaiseAlarms(m_alarmRules.RunEnded(why));
    AuditRunEnd(why);
    m_journal.End(why);
    StopReconnecting();
    m_endToAnnounce = why;
    AnnounceEndOnceReported();
    ShowSettings();
}

void CRunController::AnnounceEndOnceReported() {
    if (m_endToAnnounce && m_unreported.empty()) {
        m_observer.RunEnded(*std::exchange(m_endToAnnounce, std::nullopt));
    }
}

void CRunController::ReportDurableSamples() {
    const std::uint64_t durable = m_durable.load();
    ReportWrittenSamples(static_cast<int>(durable >> 32), static_cast<int>(durable & 0xffffffffu));
}

void CRunController::ReportWrittenSamples(int run, int upTo) {
    if (m_shutDown || run != m_sampleRun) {
        return;
    }
    while (!m_unreported.empty() && m_unreported.front().number <= upTo) {
        const UnreportedSample sample = m_unreported.front();
        m_unreported.pop_front();
        m_observer.SampleRecorded(sample.number, sample.speed, sample.remaining);
    }
    AnnounceEndOnceReported();
}

void CRunController::SetCyclePeriod(std::chrono::milliseconds period) {
    m_cyclePeriod = period;
    m_poller->SetCyclePeriod(period);
}

std::string CRunController::TrafficLogPath() const {
    return m_channel->LogPath();
}

void CRunController::SetLogDirectory(const std::string& directory) {
    m_channel->SetLogDirectory(directory);
}

void CRunController::SetBytePause(std::chrono::milliseconds pause) {
    m_channel->SetBytePause(pause);
}

void CRunController::SetReconnectPeriod(std::chrono::milliseconds period) {
    m_reconnectTimer.setInterval(period);
}
