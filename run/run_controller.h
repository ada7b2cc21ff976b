#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/exchange_cancel.h"
#include "run/connection_host.h"
#include "run/device_type.h"
#include "run/instrument_connection.h"
#include "run/poller_messages.h"
#include "run/run_observer.h"
#include "run/run_record.h"
#include "run/status_poller.h"

class CRunJournal;

// The run engine: the connection, the poller, the run record and the journal, and the steps of
// Start, Stop, ShowSettings and the poller's two notifications. It tells its observer what to
// show and never shows anything itself, so the window, the command line and the server run the
// same runs. It lives on one thread with an event loop (the window's, or a QCoreApplication's);
// every call to it comes on that thread.
class CRunController : public QObject, public IConnectionHost, public IPollerReceiver {
    Q_OBJECT
  public:
    static constexpr int kStopRetries = 4;
    // Poll cycles in a row without a valid reply before the link counts as not answering.
    static constexpr int kCyclesBeforeNoReply = 3;
    static constexpr std::chrono::milliseconds kReconnectPeriod{2000};

    explicit CRunController(IRunObserver& observer, QObject* parent = nullptr);
    ~CRunController() override;

    // Chooses the port (through the observer), opens it, shakes hands, reads the device ID and
    // shows the setpoints, as the window does while it initialises; string 102 on failure.
    // The exchanges run off the engine's thread. Again later: a new connection (Connect...).
    void Connect();
    // Gives up a connection under way: it ends as a failed one.
    void CancelConnect();

    // Start's first step: false (and string 103 shown) when the connection failed.
    bool CheckConnected();
    enum class StartOutcome { Started, NotConnected, SpeedOutOfRange, Unlisted, Refused };
    // The rest of Start with the fields as read: the type's speed limits (string 109), then
    // SetSpeed and SetTime, then the run. Refused: neither command was acknowledged.
    StartOutcome Start(int speed, int time);
    // Stop with the speed to send (none: nothing is sent): up to four sends of SetSpeed off
    // the engine's thread, string 111 when none was confirmed, then the setpoints. Works while
    // the link is down too; the run ends all the same.
    void Stop(std::optional<int> speed);
    // The speed Stop sends when the operator's field holds no valid one: the one sent at
    // Start, else the setpoint shown.
    std::optional<int> FallbackStopSpeed() const;
    // Shows the instrument's setpoints and leaves the engine idle (the end of every run).
    void ShowSettings() override;
    int OnStatusUpdate(long wParam, long lParam);
    int OnRunState(long wParam, long lParam);
    // Gives a run up without sending anything (its link never came back): the journal ends
    // with `why` and the engine is idle.
    void Abandon(RunEnd why);
    // The program is closing: the poller is stopped and joined, a run in progress ends its
    // journal as closed (the instrument runs on: nothing is sent), the channel goes.
    void Shutdown();

    int ConnectionFailed() const { return m_connection.ConnectionFailed(); }
    DeviceType GetDeviceType() const { return m_connection.GetDeviceType(); }
    const std::string& DeviceId() const { return m_connection.LastDeviceId(); }
    std::string PortName() const;
    bool Running() const { return m_nRunning == 1; }
    LinkState Link() const { return m_link; }
    // The journal of the run in progress or of the last run; empty before the first.
    std::string JournalPath() const;
    // The setpoints last shown (speed, time).
    std::optional<int> ShownSpeedSetpoint() const { return m_shownSpeedSetpoint; }
    std::optional<int> ShownTimeSetpoint() const { return m_shownTimeSetpoint; }
    int SpeedSetAtStart() const { return m_speedAtStart; }
    int TimeSetAtStart() const { return m_timeAtStart; }

    // Where the journals go; the user's data folder unless set (tests).
    void SetJournalFolder(const std::string& folder);
    std::string JournalFolder() const;
    // Test seam: the length of a poll cycle, and of the wait between reconnection attempts.
    void SetCyclePeriod(std::chrono::milliseconds period);
    void SetReconnectPeriod(std::chrono::milliseconds period);

    CRunRecord m_record;
    CInstrumentConnection m_connection;
    CStatusPoller m_poller;
    int m_nRunning = 0;

  private:
    // IConnectionHost: the connection sequence's requests, passed on to the observer.
    void ChoosePort(CSerialChannel& channel) override;
    void ShowInformation(int stringId) override;
    void EnableControl(int controlId, bool enable) override;
    // IPollerReceiver: the poller's notifications, on the engine's thread.
    int OnPollerMessage(unsigned message, long wParam, long lParam) override;

    void SetRunning(bool running);
    void EndRun(RunEnd why);
    void SetLink(LinkState state);
    void ShowSetpoints(const std::vector<std::uint8_t>& statusReply);
    // Asks for the setpoints off the engine's thread and shows them.
    void QueryAndShowSetpoints();
    // Runs `work` on a thread of its own while this thread's event loop goes on (without user
    // input unless allowed: a connection's Cancel is input); returns when the work is done.
    void RunOffThread(const std::function<void()>& work, bool allowInput = false);
    // Called from the connection's worker thread.
    void Step(const std::string& step);
    void PollFailed(bool portLost);
    // Waits for the next answer, or for the link to be judged silent.
    void ArmWatchdog();
    void CheckAnswering();
    void TryReconnect();
    void ReconnectFinished(bool sameInstrument);
    void StopReconnecting();
    void ReportUnfinishedRun();
    void BeginJournal();
    void JournalSample(int number, int speed, int remaining,
                       std::chrono::system_clock::time_point when);
    void JournalNote(const std::string& text);

    IRunObserver& m_observer;
    std::unique_ptr<CRunJournal> m_journal;
    std::string m_journalFolder;
    std::string m_lastJournalPath;
    LinkState m_link = LinkState::NotConnected;
    int m_failedCycles = 0;
    bool m_busy = false;
    bool m_unfinishedReported = false;
    std::optional<int> m_lastStartSpeed;
    std::optional<int> m_shownSpeedSetpoint;
    std::optional<int> m_shownTimeSetpoint;
    int m_speedAtStart = 0;
    int m_timeAtStart = 0;
    bool m_journalHealthy = false;
    bool m_shutDown = false;
    std::string m_portPath;  // the device the instrument was found on
    std::string m_byIdLink;  // its /dev/serial/by-id name, when it has one
    CExchangeCancel m_connectCancel;
    CExchangeCancel m_reconnectCancel;
    // Reopens the port while the engine's thread goes on; joined on the engine's thread.
    std::thread m_reconnectWorker;
    QTimer m_reconnectTimer;
    // During a run, notices a link that has stopped answering even while every exchange
    // waits out its limit (a silent instrument holds a cycle for 10 s). Restarted by every
    // answer, so it wakes the engine only when answers stop.
    QTimer m_watchdog;
    std::chrono::steady_clock::time_point m_lastAnswer;
    std::chrono::milliseconds m_cyclePeriod = CStatusPoller::kCyclePeriod;
};
