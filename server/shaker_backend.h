#pragma once

#include <QObject>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "run/run_controller.h"
#include "run/run_observer.h"

// The one object between the gRPC threads and the run engine. The engine lives on this
// object's thread (the QCoreApplication's) and every call to it is made there, one at a time
// and never while the engine waits for exchanges of its own; what clients watch (speed,
// remaining time, running, each run's samples) is kept here under a lock so that reading it
// never waits for the engine.
class CShakerBackend : public QObject, public IRunObserver {
  public:
    struct Sample {
        int speed = 0;
        int remaining = 0;
    };
    // One StartShaking, from its confirmation to its result.
    struct Execution {
        int time = 0;
        std::vector<Sample> samples;  // as the intermediate responses went out
        bool finished = false;
        // The run's record when it ended, the export's two columns.
        std::vector<std::int64_t> speeds, remainingTimes;
    };
    // What clients can watch, with a counter that moves at every change of anything here.
    struct State {
        int speed = 0;
        int remaining = 0;
        bool running = false;
        bool closed = false;  // the server is going: watchers end
        std::uint64_t version = 0;
    };
    struct Device {
        bool connected = false;
        std::string id;
        int type = 0;
    };

    CShakerBackend(std::string port, int baud);
    ~CShakerBackend() override;

    // On the engine's thread: the connection, as the window makes it at start-up.
    void Connect();
    // On the engine's thread, at the end: refuses further calls, stops a run in progress as
    // Stop does (with the speed sent at its start, so its journal ends), ends every watcher
    // and shuts the engine down.
    void StopAccepting();
    void Close();

    // From any thread: runs `work` on the engine's thread in turn with every other call and
    // waits for it. False, without running it, once the server is going.
    bool Call(std::function<void(CRunController&)> work);

    State CurrentState() const;
    // Waits until something has changed since `version`, the server is going, or `timeout`.
    State WaitForChange(std::uint64_t version, std::chrono::milliseconds timeout) const;
    Device DeviceInfo() const;

    // On the engine's thread, right after the engine started a run: the run's execution UUID.
    std::string BeginExecution(int time);
    std::optional<Execution> FindExecution(const std::string& uuid) const;

    // One unit of the instrument's remaining time (seconds unless the simulator counts faster).
    void SetTimeUnit(std::chrono::milliseconds unit) { m_timeUnit = unit; }
    std::chrono::milliseconds TimeUnit() const { return m_timeUnit; }

    // IRunObserver, on the engine's thread.
    void ChoosePort(CSerialChannel& channel) override;
    void ShowInformation(int stringId) override;
    void ShowSpeed(int speed) override;
    void ShowTime(int time) override;
    void ShowBlinkingTime(int time) override;
    void RunningChanged(bool running) override;
    void SampleRecorded(int number, int speed, int remaining) override;
    void RunEnded(RunEnd why) override;
    void LinkStateChanged(LinkState state) override;
    void StatusNote(const std::string& text) override;
    void Busy(bool busy) override;

  private:
    struct Task {
        std::function<void(CRunController&)> work;
        std::shared_ptr<std::promise<bool>> done;
    };
    void Pump();
    void Changed(const std::function<void(State&)>& change);

    std::string m_port;
    int m_baud;
    std::chrono::milliseconds m_timeUnit{1000};
    std::unique_ptr<CRunController> m_engine;

    // Engine's thread only.
    std::deque<Task> m_tasks;
    bool m_inTask = false;
    bool m_engineBusy = false;
    bool m_accepting = true;
    std::string m_currentExecution;

    mutable std::mutex m_mutex;  // guards m_state, m_device, m_executions, m_executionOrder
    mutable std::condition_variable m_changed;  // m_state.version moved
    State m_state;
    Device m_device;
    std::map<std::string, Execution> m_executions;
    std::deque<std::string> m_executionOrder;  // oldest first, to forget old ones
};
