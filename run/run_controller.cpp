#include "run/run_controller.h"

#include <QDateTime>
#include <QEventLoop>
#include <filesystem>
#include <thread>

#include "link/frames.h"
#include "link/open_failure.h"
#include "link/port_name.h"
#include "link/serial_channel.h"
#include "run/run_journal.h"
#include "run/serial_port_list.h"

namespace {

constexpr int kConnectFailedString = 102;
constexpr int kConnectFailedRestartString = 103;
constexpr int kSpeedOutOfRangeString = 109;
constexpr int kStopNotConfirmedString = 111;

std::string ReadDeviceId(CSerialChannel& channel, const CExchangeCancel* cancel) {
    std::string id;
    for (int index = CInstrumentConnection::kFirstIdIndex;
         index <= CInstrumentConnection::kLastIdIndex; ++index) {
        char character = 0;
        if (channel.QueryIdChar(index, character, cancel) == 0) {
            return {};
        }
        if (character == '\0') {
            break;
        }
        id.push_back(character);
    }
    return id;
}

}  // namespace

CRunController::CRunController(IRunObserver& observer, QObject* parent)
    : QObject(parent),
      m_connection(*this),
      m_observer(observer),
      m_journalFolder(CRunJournal::DefaultFolder()) {
    m_reconnectTimer.setInterval(kReconnectPeriod);
    connect(&m_reconnectTimer, &QTimer::timeout, this, &CRunController::TryReconnect);
    m_watchdog.setSingleShot(true);
    connect(&m_watchdog, &QTimer::timeout, this, &CRunController::CheckAnswering);
}

CRunController::~CRunController() {
    Shutdown();
}

// ---- connection -------------------------------------------------------------------------

void CRunController::Connect() {
    ReportUnfinishedRun();
    m_reconnectTimer.stop();
    m_connection.Reset();
    CSerialChannel& channel = *CSerialChannel::Instance();
    ChoosePort(channel);
    SetLink(LinkState::Connecting);
    m_connectCancel.Reset();

    bool connected = false;
    DeviceType type = DeviceKV41;
    RunOffThread(
        [this, &channel, &connected, &type] {
            Step("Handshake");
            connected = channel.Open() != 0 && channel.Handshake(&m_connectCancel) != 0;
            if (connected) {
                type = m_connection.Identify(&m_connectCancel, [this](int index, int count) {
                    Step("Device ID " + std::to_string(index) + " of " + std::to_string(count));
                });
            }
            connected = connected && !m_connectCancel.IsCancelled();
        },
        true);
    if (!connected) {
        m_connection.SetOutcome(true, type);
        SetLink(LinkState::NotConnected);
        ShowInformation(kConnectFailedString);
        // String 102 says that it failed; the status line says why, and what to do.
        if (!m_connectCancel.IsCancelled()) {
            m_observer.StatusNote(ExplainPortOpenFailure(SerialDevicePath(channel.PortName())));
        }
        return;
    }
    m_connection.SetOutcome(false, type);
    const std::vector<std::string> links = ByIdLinksTo(SerialDevicePath(channel.PortName()));
    m_byIdLink = links.empty() ? std::string() : links.front();
    m_portPath = SerialDevicePath(channel.PortName());
    SetLink(LinkState::Answering);
    m_observer.ConnectionStep("Setpoints");
    QueryAndShowSetpoints();
    const bool listed = type != DeviceUnlisted;
    for (int controlId : {kTimeEntry, kTimeSpin, kSpeedEntry, kSpeedSpin, kStartButton}) {
        m_observer.EnableControl(controlId, listed);
    }
}

void CRunController::CancelConnect() {
    m_connectCancel.Cancel();
}

void CRunController::Step(const std::string& step) {
    // Crosses threads: the connection's worker hands each step to the engine's thread.
    QMetaObject::invokeMethod(
        this, [this, step] { m_observer.ConnectionStep(step); }, Qt::QueuedConnection);
}

std::string CRunController::PortName() const {
    return CSerialChannel::Instance()->PortName();
}

// ---- run control ------------------------------------------------------------------------

bool CRunController::CheckConnected() {
    if (m_connection.ConnectionFailed()) {
        ShowInformation(kConnectFailedRestartString);
        return false;
    }
    return true;
}

CRunController::StartOutcome CRunController::Start(int speed, int time) {
    if (m_connection.ConnectionFailed()) {
        return StartOutcome::NotConnected;
    }
    const auto limits = SpeedLimitsFor(GetDeviceType());
    if (limits && (speed < limits->low || speed > limits->high)) {
        ShowInformation(kSpeedOutOfRangeString);
        return StartOutcome::SpeedOutOfRange;
    }
    if (GetDeviceType() == DeviceUnlisted) {
        return StartOutcome::Unlisted;
    }
    CSerialChannel* channel = CSerialChannel::Instance();
    const int speedAcknowledged = channel->SetSpeed(speed);
    m_lastStartSpeed = speed;
    const int timeAcknowledged = channel->SetTime(time);
    if (!speedAcknowledged && !timeAcknowledged) {
        return StartOutcome::Refused;
    }

    m_record.ResetSpeedExtent();
    m_observer.ResetGraph();
    m_record.ResetRecord();
    m_speedAtStart = speed;
    m_timeAtStart = time;
    BeginJournal();
    m_failedCycles = 0;
    m_lastAnswer = std::chrono::steady_clock::now();
    m_poller.SetOwner(this, this);
    m_poller.Start();
    ArmWatchdog();
    SetRunning(true);
    return StartOutcome::Started;
}

std::optional<int> CRunController::FallbackStopSpeed() const {
    return m_lastStartSpeed ? m_lastStartSpeed : m_shownSpeedSetpoint;
}

// Stop's exchanges can take 13 s with a silent instrument, so they leave the engine's thread;
// what is sent, and in which order, stays the same.
void CRunController::Stop(std::optional<int> speed) {
    m_poller.RequestStop();
    StopReconnecting();
    const bool wasRunning = Running();
    if (GetDeviceType() != DeviceUnlisted && speed) {
        bool confirmed = false;
        RunOffThread([&confirmed, speed] {
            CSerialChannel* channel = CSerialChannel::Instance();
            for (int send = 0; send < kStopRetries && !confirmed; ++send) {
                confirmed = channel->SetSpeed(*speed) != 0;
            }
        });
        // A shaker behind a pulled cable goes on running: the operator must hear of it.
        if (!confirmed) {
            ShowInformation(kStopNotConfirmedString);
        }
    }
    if (wasRunning) {
        EndRun(RunEnd::Stopped);
    }
    SetRunning(false);
    m_poller.RequestStop();
    QueryAndShowSetpoints();
}

void CRunController::ShowSettings() {
    m_poller.RequestStop();
    SetRunning(false);
    std::vector<std::uint8_t> block;
    if (CSerialChannel::Instance()->QueryStatus(block)) {
        ShowSetpoints(block);
    }
}

void CRunController::QueryAndShowSetpoints() {
    std::vector<std::uint8_t> block;
    int good = 0;
    RunOffThread([&block, &good] { good = CSerialChannel::Instance()->QueryStatus(block); });
    if (good) {
        ShowSetpoints(block);
    }
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

int CRunController::OnStatusUpdate(long wParam, long lParam) {
    const int speed = static_cast<int>(wParam);
    const int remaining = static_cast<int>(lParam);
    double largestX = 0.0;
    if (GetDeviceType() != DeviceUnlisted) {
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
        if (Running()) {
            JournalSample(x, speed, remaining, now);
            m_observer.SampleRecorded(x, speed, remaining);
        }
        if (remaining <= 0) {
            if (Running()) {
                EndRun(RunEnd::TimeUp);
            }
            ShowSettings();
        }
    }
    m_observer.RescaleGraph(m_record.SpeedMinimum(), m_record.SpeedMaximum(), largestX);
    return 1;
}

int CRunController::OnRunState(long wParam, long) {
    if (wParam == 0) {
        if (Running()) {
            EndRun(RunEnd::InstrumentStopped);
        }
        ShowSettings();
    }
    return 1;
}

int CRunController::OnPollerMessage(unsigned message, long wParam, long lParam) {
    // Stop's exchanges are under way: what the poller read before it heard of the stop would
    // put a running speed back on the readouts after the setpoints.
    if (m_busy) {
        return 1;
    }
    switch (message) {
        case WM_STATUS_UPDATE:
            m_failedCycles = 0;
            m_lastAnswer = std::chrono::steady_clock::now();
            ArmWatchdog();
            SetLink(LinkState::Answering);
            return OnStatusUpdate(wParam, lParam);
        case WM_RUN_STATE:
            return OnRunState(wParam, lParam);
        case WM_POLL_FAILED:
            PollFailed(wParam != 0);
            return 1;
        default:
            return 0;
    }
}

void CRunController::Abandon(RunEnd why) {
    m_poller.RequestStop();
    StopReconnecting();
    if (Running()) {
        EndRun(why);
    }
    SetRunning(false);
}

void CRunController::Shutdown() {
    if (m_shutDown) {
        return;
    }
    m_shutDown = true;
    m_poller.RequestStop();
    m_poller.Join();
    StopReconnecting();
    if (Running()) {
        EndRun(RunEnd::Closed);
        m_nRunning = 0;
    }
    if (CSerialChannel* channel = CSerialChannel::Instance()) {
        channel->Close();
    }
    CSerialChannel::DestroyInstance();
}

void CRunController::SetRunning(bool running) {
    m_nRunning = running ? 1 : 0;
    if (!running) {
        m_watchdog.stop();
    }
    m_observer.RunningChanged(running);
}

void CRunController::EndRun(RunEnd why) {
    if (m_journal) {
        if (!m_journal->End(why)) {
            m_observer.StatusNote(m_journal->LastError());
        }
        m_lastJournalPath = m_journal->Path();
        m_journal.reset();
    }
    StopReconnecting();
    m_observer.RunEnded(why);
}

// ---- the watched link -------------------------------------------------------------------

void CRunController::SetLink(LinkState state) {
    if (state == m_link) {
        return;
    }
    m_link = state;
    m_observer.LinkStateChanged(state);
}

void CRunController::PollFailed(bool portLost) {
    if (portLost) {
        // The poller would only fail once a second on a port that is gone; the engine tries
        // to open the same instrument again instead.
        m_poller.RequestStop();
        CSerialChannel::Instance()->Close();
        SetLink(LinkState::Disconnected);
        JournalNote("link lost");
        if (Running()) {
            m_reconnectTimer.start();
        }
        return;
    }
    if (++m_failedCycles >= kCyclesBeforeNoReply) {
        SetLink(LinkState::NoReply);
    }
}

void CRunController::ArmWatchdog() {
    m_watchdog.start(kCyclesBeforeNoReply * m_cyclePeriod);
}

void CRunController::CheckAnswering() {
    if (!Running() || m_link != LinkState::Answering) {
        return;
    }
    const auto silent = std::chrono::steady_clock::now() - m_lastAnswer;
    const auto limit = kCyclesBeforeNoReply * m_cyclePeriod;
    if (silent >= limit) {
        SetLink(LinkState::NoReply);
        return;
    }
    // A coarse timer may fire a little early: wait out the rest.
    m_watchdog.start(std::chrono::ceil<std::chrono::milliseconds>(limit - silent));
}

void CRunController::TryReconnect() {
    if (m_reconnectWorker.joinable() || !Running()) {
        return;
    }
    m_reconnectCancel.Reset();
    const std::string path =
        !m_byIdLink.empty() && std::filesystem::exists(m_byIdLink) ? m_byIdLink : m_portPath;
    const std::string expectedId = DeviceId();
    m_reconnectWorker = std::thread([this, path, expectedId] {
        CSerialChannel& channel = *CSerialChannel::Instance();
        const std::string configured = channel.PortName();
        channel.SetPortName(path);
        bool same = channel.Reopen() != 0 && channel.Handshake(&m_reconnectCancel) != 0 &&
                    ReadDeviceId(channel, &m_reconnectCancel) == expectedId;
        channel.SetPortName(configured);
        if (!same) {
            channel.Close();
        }
        // Crosses threads: the outcome is handled on the engine's thread.
        QMetaObject::invokeMethod(
            this, [this, same] { ReconnectFinished(same); }, Qt::QueuedConnection);
    });
}

void CRunController::ReconnectFinished(bool same) {
    if (m_reconnectWorker.joinable()) {
        m_reconnectWorker.join();
    }
    if (!same || !Running() || m_reconnectCancel.IsCancelled()) {
        return;
    }
    m_reconnectTimer.stop();
    m_failedCycles = 0;
    m_lastAnswer = std::chrono::steady_clock::now();
    ArmWatchdog();
    SetLink(LinkState::Answering);
    JournalNote("link back");
    m_poller.SetOwner(this, this);
    m_poller.Start();
}

void CRunController::StopReconnecting() {
    m_reconnectTimer.stop();
    m_reconnectCancel.Cancel();
    if (m_reconnectWorker.joinable()) {
        m_reconnectWorker.join();
    }
}

// ---- journal ----------------------------------------------------------------------------

void CRunController::BeginJournal() {
    m_journal = std::make_unique<CRunJournal>(m_journalFolder);
    JournalHeader header;
    header.start = std::chrono::system_clock::now();
    header.port = PortName();
    header.deviceId = DeviceId();
    header.deviceType = GetDeviceType();
    header.speedSetpoint = m_speedAtStart;
    header.timeSetpoint = m_timeAtStart;
    header.programVersion = VELMORA_VERSION;
    m_journalHealthy = m_journal->Begin(header);
    m_lastJournalPath = m_journal->Path();
    if (!m_journalHealthy) {
        m_observer.StatusNote(m_journal->LastError());
    }
}

void CRunController::JournalSample(int number, int speed, int remaining,
                                   std::chrono::system_clock::time_point when) {
    if (!m_journal || !m_journalHealthy) {
        return;
    }
    if (!m_journal->Append(number, speed, remaining, when)) {
        m_journalHealthy = false;
        m_observer.StatusNote(m_journal->LastError());
    }
}

void CRunController::JournalNote(const std::string& text) {
    if (m_journal && m_journalHealthy) {
        m_journal->Note(text);
    }
}

std::string CRunController::JournalPath() const {
    return m_journal ? m_journal->Path() : m_lastJournalPath;
}

void CRunController::SetJournalFolder(const std::string& folder) {
    m_journalFolder = folder;
}

std::string CRunController::JournalFolder() const {
    return m_journalFolder;
}

void CRunController::ReportUnfinishedRun() {
    if (m_unfinishedReported) {
        return;
    }
    m_unfinishedReported = true;
    if (const auto unfinished = CRunJournal::TakeUnfinished(m_journalFolder)) {
        const auto start = QDateTime::fromSecsSinceEpoch(
            std::chrono::duration_cast<std::chrono::seconds>(unfinished->start.time_since_epoch())
                .count());
        m_observer.StatusNote("The run of " +
                              start.toString(QStringLiteral("yyyy-MM-dd HH:mm")).toStdString() +
                              " ended unexpectedly: its samples are in " + unfinished->path);
    }
}

// ---- plumbing ---------------------------------------------------------------------------

void CRunController::ChoosePort(CSerialChannel& channel) {
    m_observer.ChoosePort(channel);
}

void CRunController::ShowInformation(int stringId) {
    m_observer.ShowInformation(stringId);
}

void CRunController::EnableControl(int controlId, bool enable) {
    m_observer.EnableControl(controlId, enable);
}

void CRunController::SetCyclePeriod(std::chrono::milliseconds period) {
    m_cyclePeriod = period;
    m_poller.SetCyclePeriod(period);
}

void CRunController::SetReconnectPeriod(std::chrono::milliseconds period) {
    m_reconnectTimer.setInterval(period);
}

void CRunController::RunOffThread(const std::function<void()>& work, bool allowInput) {
    m_busy = true;
    m_observer.Busy(true);
    QEventLoop loop;
    // Crosses threads: the worker only posts the loop's end to the engine's thread.
    std::thread worker([&work, &loop] {
        work();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec(allowInput ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
    worker.join();
    m_observer.Busy(false);
    m_busy = false;
}
