#pragma once

#include <QJsonObject>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/exchange_cancel.h"
#include "run/device_type.h"
#include "run/exchange_worker.h"
#include "run/journal_keeper.h"
#include "run/poll_samples.h"
#include "run/run_alarms.h"
#include "run/run_events.h"
#include "run/run_observer.h"
#include "run/run_outcomes.h"
#include "run/run_record.h"

class CSerialChannel;
class CShakerProtocol;
class CStatusPoller;

// The run engine of one instrument: its channel and protocol, the poller, the run record and
// the journal, and the steps of Connect, Start, Stop, ShowSettings and the poller's samples.
// It tells its observer what to show and what its requests came to, and never shows anything
// itself, so the window, the command line and the server run the same runs.
//
// It lives on one thread with an event loop (the window's, or a QCoreApplication's); every
// call to it comes on that thread and returns at once: the exchanges run on the engine's
// exchange worker and their results come back through that thread's event loop. A request the
// engine's state doesn't allow is refused with a Busy outcome.
class CRunController : public QObject {
    Q_OBJECT
  public:
    static constexpr int kStopRetries = 4;
    // Poll cycles in a row without a valid reply before the link counts as not answering.
    static constexpr int kCyclesBeforeNoReply = 3;
    static constexpr std::chrono::milliseconds kReconnectPeriod{2000};

    explicit CRunController(IRunObserver& observer, QObject* parent = nullptr);
    ~CRunController() override;

    // Opens the port, shakes hands, reads the device ID and shows the setpoints; ends with
    // ConnectFinished. Again later: a new connection (Connect...). Idle only.
    void Connect(const PortChoice& port);
    // Gives up a connection under way: it ends as Cancelled.
    void CancelConnect();

    // Start with the fields as read: the type's speed limits, then SetSpeed and SetTime, then
    // the run; ends with StartFinished. Idle only; one that comes while the setpoints are read
    // at the end of a run goes ahead right after that.
    // A refused speed (the time acknowledged) runs at the instrument's own setpoint, or stops
    // the instrument again, as `refusal` says.
    void Start(int speed, int time, SpeedRefusal refusal = SpeedRefusal::RunAnyway);
    // Stop with the speed to send (none: nothing is sent): up to four sends of SetSpeed, then
    // the setpoints; ends with StopFinished. Works while the link is down too. A run ends only
    // when the instrument confirmed the stop; otherwise it goes on being watched. Refused while
    // connecting, starting or stopping (one that comes while the setpoints are read at the end of a
    // run goes ahead right after that).
    void Stop(std::optional<int> speed);
    // The speed Stop sends when the operator's field holds no valid one: the one sent at
    // Start, else the setpoint shown.
    std::optional<int> FallbackStopSpeed() const;
    // Shows the instrument's setpoints and leaves the engine idle (the end of every run).
    void ShowSettings();
    // Gives a run up without sending anything (its link never came back): the journal ends
    // with `why` and the engine is idle.
    void Abandon(RunEnd why);
    // The program is closing: the exchange in flight ends at its frame boundary, the poller
    // and the worker are joined, a run in progress ends its journal as closed (the instrument
    // runs on: nothing is sent), the port is closed. Nothing is reported after this.
    void Shutdown();

    EngineState State() const { return m_state; }
    bool ConnectionFailed() const { return m_connectionFailed; }
    DeviceType GetDeviceType() const { return m_deviceType; }
    // The device ID as it may be shown, logged or sent: see PrintableText.
    const std::string& DeviceId() const { return m_printableId; }
    // The port last connected to, as named, and the device it opens.
    std::string PortName() const { return m_portName; }
    std::string DevicePath() const { return m_portPath; }
    bool Running() const { return m_running; }
    // The run being watched was found running when the engine connected.
    bool StartedElsewhere() const { return m_startedElsewhere; }
    // Samples of the run in progress or the last run that its journal could not hold.
    int JournalMissingSamples() const { return m_journal.MissingSamples(); }
    LinkState Link() const { return m_link; }
    const CRunRecord& Record() const { return m_record; }
    // The journal of the run in progress or of the last run; empty before the first.
    std::string JournalPath() const { return m_journal.Path(); }
    // The setpoints last shown (speed, time).
    std::optional<int> ShownSpeedSetpoint() const { return m_shownSpeedSetpoint; }
    std::optional<int> ShownTimeSetpoint() const { return m_shownTimeSetpoint; }
    int SpeedSetAtStart() const { return m_speedAtStart; }
    int TimeSetAtStart() const { return m_timeAtStart; }
    // The alarms of the run in progress or of the last run, each as it stands now (raised, or
    // cleared), in the order they were first raised.
    const std::vector<Alarm>& Alarms() const { return m_runAlarms; }
    // Whether any alarm was raised since the engine was made.
    bool AnyAlarmRaised() const { return m_alarmsRaised > 0; }
    // Who hears of runs started and finished and of alarms, besides the observer (a webhook);
    // none by default. It must outlive the engine's runs.
    void SetEventSink(IRunEventSink* sink) { m_eventSink = sink; }
    // The traffic log of this engine's channel.
    std::string TrafficLogPath() const;

    // Who starts the runs from now on, for their journals: "user@host". By default the login
    // name on this host; the server names the client's user.
    void SetStartedBy(std::string who) { m_startedBy = std::move(who); }
    const std::string& StartedBy() const { return m_startedBy; }
    // The port is the built-in simulated shaker: the journals say so.
    void SetSimulated(bool simulated) { m_simulated = simulated; }
    bool Simulated() const { return m_simulated; }
    // The login name on this host, "user@host".
    static std::string LocalUser();

    // Whether a sample is reported (SampleRecorded) as soon as its journal line is durable,
    // at the cost of a wake-up of the engine's thread for each, or with the next cycle's
    // samples (a front end that shows the samples as they come, not as they are kept). Every
    // sample of a run is reported before its end either way.
    void SetPromptSampleReports(bool prompt) { m_promptReports.store(prompt); }

    // Where the journals go; the user's data folder unless set (tests).
    void SetJournalFolder(const std::string& folder) { m_journal.SetFolder(folder); }
    std::string JournalFolder() const { return m_journal.Folder(); }
    // Where the traffic log goes; beside the executable unless set.
    void SetLogDirectory(const std::string& directory);
    // Test seams: the pause after every request byte (50 ms on a real line), the length of a
    // poll cycle, and of the wait between reconnection attempts.
    void SetBytePause(std::chrono::milliseconds pause);
    void SetCyclePeriod(std::chrono::milliseconds period);
    void SetReconnectPeriod(std::chrono::milliseconds period);
    // How long a speed off its setpoint and a silent link wait before they are alarms.
    void SetAlarmGraces(CAlarmRules::Graces graces) { m_alarmRules = CAlarmRules(graces); }

  private:
    // What the connection's exchanges found, handed from the worker to the engine's thread.
    struct ConnectResult {
        bool portOpened = false;
        bool connected = false;
        bool cancelled = false;
        bool running = false;  // the run-state reply said the instrument runs
        std::string deviceId;
        std::string reason;
        std::string byIdLink;
        std::optional<std::vector<std::uint8_t>> status;
    };

    void SetState(EngineState state);
    // The request's outcome to the audit trail, then to the observer.
    void FinishConnect(const std::string& portName, const ConnectOutcome& outcome);
    void FinishStart(int speed, int time, const StartOutcome& outcome);
    void FinishStop(std::optional<int> speed, const StopOutcome& outcome);
    void Audit(const char* event, QJsonObject fields);
    void AuditLink(LinkState from, LinkState to);
    void AuditRunEnd(RunEnd why);
    // Alarms raised or cleared: to the journal, the audit trail and the observer.
    void RaiseAlarms(const std::vector<Alarm>& alarms);
    // Wakes the engine when a silence becomes an alarm.
    void ArmAlarmTimer();
    // Tells the event sink, if any.
    void TellSink(RunEvent::Kind kind, std::string endReason = {},
                  std::optional<Alarm> alarm = std::nullopt);
    // Connecting, starting or stopping: a request of the engine's own holds the worker.
    bool ExchangesUnderWay() const;
    void SetRunning(bool running);
    void SetLink(LinkState state);
    void EndRun(RunEnd why);
    // The run ended on the instrument (time up, or stopped there): its journal ends now, the
    // front ends hear of it after its last sample, and the setpoints are read.
    void EndRunAndShowSettings(RunEnd why);
    void AnnounceEndOnceReported();
    void ShowSetpoints(const std::vector<std::uint8_t>& statusReply);
    // Runs `job` on the exchange worker; `done` gets its result on the engine's thread,
    // unless the engine has shut down by then.
    template <typename Result>
    void OffThread(std::function<Result()> job, std::function<void(Result)> done);

    void ConnectFinished(const PortChoice& port, const ConnectResult& result);
    void StartFinished(int speed, int time, bool speedAcknowledged, bool timeAcknowledged);
    // The journal's header of a run begun now, less its start time and speed setpoint.
    JournalHeader RunHeader(int timeSetpoint) const;
    // A run begins (by Start, or found running at connection): record, graph, poller. Its
    // journal is begun already, or waits with `headerWaitingForSpeed` for the first status
    // reply's speed setpoint.
    void BeginRun(std::optional<JournalHeader> headerWaitingForSpeed);
    // Reports the samples of run `run` up to number `upTo` whose journal lines are written.
    void ReportWrittenSamples(int run, int upTo);
    // Reports the samples whose journal lines the journal's thread has made durable so far.
    void ReportDurableSamples();
    // On the worker: Stop's up to four sends of the speed; whether one was acknowledged.
    bool SendStop(int speed);
    // On the worker: a status reply, or none.
    std::optional<std::vector<std::uint8_t>> ReadStatus();
    void StopFinished(bool sent, bool confirmed, bool wasRunning, std::optional<int> speed,
                      const std::optional<std::vector<std::uint8_t>>& status);
    // Holds `request` back until the setpoints read at the end of a run are shown; false
    // when no such read is under way (or a request waits already).
    bool DeferUntilSettingsShown(std::function<void()> request);
    void StartPoller();
    void OnStatusSample(const StatusSample& sample);
    void OnRunStateSample(const RunStateSample& sample);
    void OnPollFailure(const PollFailure& failure);
    // A run-state reply's flag, from the poller or a second query: the second "not running" in
    // a row ends the run.
    void NoteRunFlag(int runFlag);

    // The watched link: silence, a port gone, and reconnecting to the same instrument.
    void ArmWatchdog();
    void CheckAnswering();
    void TryReconnect();
    void ReconnectFinished(bool sameInstrument);
    void StopReconnecting();
    void ReportUnfinishedRun();

    IRunObserver& m_observer;
    // The transport, the protocol on it, and the two threads that use them; the front ends
    // never see the first two.
    std::unique_ptr<CSerialChannel> m_channel;
    std::unique_ptr<CShakerProtocol> m_protocol;
    std::unique_ptr<CStatusPoller> m_poller;
    CExchangeWorker m_worker;
    // Cancelled by Shutdown: every exchange of the worker ends at its next frame boundary.
    CExchangeCancel m_workCancel;
    CExchangeCancel m_connectCancel;
    CExchangeCancel m_reconnectCancel;

    CRunRecord m_record;
    CJournalKeeper m_journal;

    EngineState m_state = EngineState::Idle;
    LinkState m_link = LinkState::NotConnected;
    bool m_running = false;
    bool m_shutDown = false;
    bool m_connectionFailed = false;
    // Left as is by a failed connection. Any of types 0..3 keeps the entries and Start
    // enabled, so Start can still tell the operator to restart.
    DeviceType m_deviceType = DeviceKV41;
    std::string m_deviceId;  // as the instrument sent it
    std::string m_printableId;
    bool m_startedElsewhere = false;
    std::string m_portName;
    std::string m_portPath;  // the device the instrument was found on
    std::string m_byIdLink;  // its /dev/serial/by-id name, when it has one
    int m_pollRun = 0;       // the poller run whose samples are taken
    int m_failedCycles = 0;
    // A "not running" reply is being checked by a second query; run-state replies in a row
    // that said the instrument is not running.
    bool m_confirmingRunState = false;
    int m_notRunningInARow = 0;
    // The journal's header while it waits for the first status reply (a refused speed).
    std::optional<JournalHeader> m_pendingHeader;
    // The samples recorded whose journal lines are not written yet, oldest first, and the run
    // they belong to (a report from an earlier run is dropped).
    struct UnreportedSample {
        int number = 0;
        int speed = 0;
        int remaining = 0;
    };
    std::deque<UnreportedSample> m_unreported;
    int m_sampleRun = 0;
    // The last sample whose journal line is durable, with its run: (run << 32) | number.
    // Written on the journal's thread, read on the engine's.
    std::atomic<std::uint64_t> m_durable{0};
    // Whether the journal's thread wakes the engine's for each durable sample; otherwise they
    // are reported at the engine's next wake-up (the next cycle, the run's end).
    std::atomic<bool> m_promptReports{true};
    // A run's end that waits for its last samples to be reported.
    std::optional<RunEnd> m_endToAnnounce;
    std::string m_startedBy = LocalUser();
    bool m_simulated = false;
    // The setpoints are read at the end of a run (ShowSettings), and a Start or Stop that
    // came meanwhile.
    bool m_readingSettings = false;
    std::function<void()> m_afterSettings;
    bool m_reconnecting = false;  // a reconnection attempt is on the worker
    bool m_unfinishedReported = false;
    std::optional<int> m_lastStartSpeed;
    std::optional<int> m_shownSpeedSetpoint;
    std::optional<int> m_shownTimeSetpoint;
    int m_speedAtStart = 0;
    int m_timeAtStart = 0;

    IRunEventSink* m_eventSink = nullptr;
    CAlarmRules m_alarmRules;
    std::vector<Alarm> m_runAlarms;
    int m_alarmsRaised = 0;
    QTimer m_alarmTimer;

    QTimer m_reconnectTimer;
    // During a run, notices a link that has stopped answering even while every exchange
    // waits out its limit (a silent instrument holds a cycle for 10 s). Restarted by every
    // answer, so it wakes the engine only when answers stop.
    QTimer m_watchdog;
    std::chrono::steady_clock::time_point m_lastAnswer;
    std::chrono::milliseconds m_cyclePeriod{1000};
};

template <typename Result>
void CRunController::OffThread(std::function<Result()> job, std::function<void(Result)> done) {
    // Crosses threads: the job runs on the worker; its result is queued to the engine's thread,
    // and dropped with the engine if that is gone first.
    m_worker.Post([this, job = std::move(job), done = std::move(done)] {
        Result result = job();
        QMetaObject::invokeMethod(
            this,
            [this, done, result = std::move(result)] {
                if (!m_shutDown) {
                    done(result);
                }
            },
            Qt::QueuedConnection);
    });
}
