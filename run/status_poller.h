#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "link/exchange_cancel.h"
#include "run/poller_messages.h"
#include "run/speed_smoothing.h"

class CCrossThreadNotifier;
class CSerialChannel;
class QObject;

// The worker that asks the instrument for its status and run state once per second during a
// run and hands the results to the main window as WM_STATUS_UPDATE and WM_RUN_STATE. Each
// notification is handled on the window's thread while the worker waits for it.
//
// Start, RequestStop and Join belong to the window's thread; so may the notification handlers
// call them. There is only ever one worker: Start first stops and joins a finishing one.
class CStatusPoller {
  public:
    static constexpr std::chrono::milliseconds kCyclePeriod{1000};

    CStatusPoller() = default;
    // Stops, cancels and joins a worker that is still there.
    ~CStatusPoller();
    CStatusPoller(const CStatusPoller&) = delete;
    CStatusPoller& operator=(const CStatusPoller&) = delete;

    // The receiver of the notifications and a QObject on the thread that is to handle them
    // (for the main window, the window itself for both). Takes effect at the next Start;
    // without an owner the worker polls but notifies nobody.
    void SetOwner(IPollerReceiver* owner, QObject* context);

    // Clears the stop flag and the smoothing state and starts a new worker on the process's
    // channel. A worker still finishing from before is asked to stop and joined first; its
    // notifications still to come are dropped so that they can't reach the new run.
    void Start();
    // Sets the stop flag, cuts the worker's exchange in flight short and wakes a worker
    // waiting for its next cycle. Does not wait. The worker starts no exchange after this;
    // one inside a notification finishes handing it over first. Exchanges of other threads
    // are not touched, so commands sent right after this go out at once.
    void RequestStop();
    // Waits until the worker has ended, then forgets it. Called on the receiver's thread it
    // first cancels the worker's notifications, which that thread could no longer handle.
    void Join();
    // For a receiver that is going away: drops the notification the worker waits on and every
    // later one from this worker.
    void CancelNotifications();

    bool HasThread() const;
    int StopFlag() const { return m_nStop.load(); }
    // The smoothing state as the worker last left it.
    int SettledFlag() const { return m_nSettled.load(); }
    int LastSetpoint() const { return m_nLastSetpoint.load(); }

    // Worker loops running in the process, over all pollers: the program never has more
    // than one.
    static int RunningWorkers() { return s_nRunningWorkers.load(); }

    // Test seam: the length of one cycle (one second on a real instrument).
    void SetCyclePeriod(std::chrono::milliseconds period) { m_cyclePeriod = period; }

  private:
    int Run(CSerialChannel* channel, std::shared_ptr<CCrossThreadNotifier> notifier,
            std::chrono::milliseconds period);
    void PollStatus(CSerialChannel& channel, CCrossThreadNotifier& notifier,
                    SpeedSmoothing& smoothing);
    void PollRunState(CSerialChannel& channel, CCrossThreadNotifier& notifier);
    bool StopRequested() const { return m_nStop.load() != 0; }
    // Sleeps until the deadline or a stop request, whichever comes first.
    void WaitForNextCycle(std::chrono::steady_clock::time_point deadline);

    static inline std::atomic<int> s_nRunningWorkers{0};

    std::atomic<int> m_nStop{0};
    std::atomic<int> m_nSettled{0};
    std::atomic<int> m_nLastSetpoint{0};

    IPollerReceiver* m_pOwner = nullptr;  // window thread only
    QObject* m_pContext = nullptr;        // window thread only
    std::chrono::milliseconds m_cyclePeriod = kCyclePeriod;

    // Serialises Start and Join; protects m_worker.
    mutable std::mutex m_lifecycleMutex;
    std::thread m_worker;

    // Protects m_notifier, the current worker's notifier, which Cancel may reach from any
    // thread while Start or Join waits for the worker.
    mutable std::mutex m_notifierMutex;
    std::shared_ptr<CCrossThreadNotifier> m_notifier;

    // Cancelled with the stop flag; only the worker's own exchanges are handed it.
    CExchangeCancel m_cancel;

    // Pairs the stop flag with the worker's wait for its next cycle.
    std::mutex m_wakeMutex;
    std::condition_variable m_wakeCv;
};
