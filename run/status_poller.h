#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "link/exchange_cancel.h"
#include "run/poll_samples.h"
#include "run/speed_smoothing.h"

class CShakerProtocol;

// The worker that asks the instrument for its status and run state once per second during a
// run and hands each result to a sink. The sink is called on the worker's thread and must not
// block (the engine's queues the sample to its own thread).
//
// There is only ever one worker: Start first stops and joins a finishing one.
class CStatusPoller {
  public:
    static constexpr std::chrono::milliseconds kCyclePeriod{1000};

    struct Sink {
        std::function<void(const StatusSample&)> status;
        std::function<void(const RunStateSample&)> runState;
        std::function<void(const PollFailure&)> failure;
        // Once a cycle, after its status and run-state samples (also when a stop cuts the
        // cycle short), so a sink may hand a cycle's samples on together.
        std::function<void()> cycleEnd;
    };

    explicit CStatusPoller(CShakerProtocol& protocol) : m_protocol(protocol) {}
    // Stops, cancels and joins a worker that is still there.
    ~CStatusPoller();
    CStatusPoller(const CStatusPoller&) = delete;
    CStatusPoller& operator=(const CStatusPoller&) = delete;

    // Clears the stop flag and the smoothing state and starts a new worker whose samples carry
    // `pollRun`. A worker still finishing from before is asked to stop and joined first.
    void Start(int pollRun, Sink sink);
    // Sets the stop flag, ends the worker's exchange in flight at its next frame boundary and
    // wakes a worker waiting for its next cycle. Does not wait. The worker starts no exchange
    // after this. Exchanges of other threads are not touched.
    void RequestStop();
    // Waits until the worker has ended, then forgets it.
    void Join();

    bool HasThread() const;
    int StopFlag() const { return m_nStop.load(); }
    // The smoothing state as the worker last left it.
    int SettledFlag() const { return m_nSettled.load(); }
    int LastSetpoint() const { return m_nLastSetpoint.load(); }

    // Worker loops running in the process, over all pollers.
    static int RunningWorkers() { return s_nRunningWorkers.load(); }

    // Test seam: the length of one cycle (one second on a real instrument).
    void SetCyclePeriod(std::chrono::milliseconds period) { m_cyclePeriod = period; }

  private:
    void Run(int pollRun, Sink sink, std::chrono::milliseconds period);
    void PollStatus(int pollRun, const Sink& sink, SpeedSmoothing& smoothing);
    void PollRunState(int pollRun, const Sink& sink);
    static void EndCycle(const Sink& sink);
    bool StopRequested() const { return m_nStop.load() != 0; }
    // Sleeps until the deadline or a stop request, whichever comes first.
    void WaitForNextCycle(std::chrono::steady_clock::time_point deadline);

    static inline std::atomic<int> s_nRunningWorkers{0};

    CShakerProtocol& m_protocol;
    std::atomic<int> m_nStop{0};
    std::atomic<int> m_nSettled{0};
    std::atomic<int> m_nLastSetpoint{0};
    std::chrono::milliseconds m_cyclePeriod = kCyclePeriod;

    // Serialises Start and Join; protects m_worker.
    mutable std::mutex m_lifecycleMutex;
    std::thread m_worker;

    // Cancelled with the stop flag; only the worker's own exchanges are handed it.
    CExchangeCancel m_cancel;

    // Pairs the stop flag with the worker's wait for its next cycle.
    std::mutex m_wakeMutex;
    std::condition_variable m_wakeCv;
};
