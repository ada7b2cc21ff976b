#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "run/run_controller.h"
#include "run/run_observer.h"
#include "run/run_outcomes.h"
#include "server/execution_store.h"
#include "server/instrument_source.h"

// The one object between the gRPC threads and the run engine. The engine lives on this
// object's thread (the QCoreApplication's) and every call to it is made there; its requests
// return at once and their outcomes come back through the observer, where the gRPC thread
// waiting for them is answered. What clients watch (speed, remaining time, running, each run's
// samples) is kept here under a lock so that reading it never waits for the engine.
class CShakerBackend : public QObject, public IRunObserver {
  public:
    using Sample = ExecutionSample;
    using Ending = ExecutionEnding;
    using Execution = ExecutionRecord;
    // What clients can watch, with a counter that moves at every change of anything here.
    struct State {
        int speed = 0;
        int remaining = 0;
        bool running = false;
        int setpoint = 0;        // the speed set for the run in progress or the last one, 1/min
        int samples = 0;         // of the run in progress or the last one
        bool linkUp = false;     // the instrument answers
        std::uint64_t runs = 0;  // runs started since the server started
        // The alarms of the run in progress or the last run that stand now: "kind: text".
        std::vector<std::string> alarms;
        bool closed = false;  // the server is going: watchers end
        std::uint64_t version = 0;
    };
    struct Device {
        // The instrument has been identified, or found missing: false at start-up and while
        // the server changes between simulation and real mode.
        bool ready = false;
        bool connected = false;
        std::string id;
        int type = 0;
    };
    // What a start came to; `execution` is the run's execution UUID when it started.
    struct StartReply {
        StartOutcome outcome;
        std::string execution;
    };
    // Empty when the server went before the engine answered.
    using StartFuture = std::future<std::optional<StartReply>>;
    using StopFuture = std::future<std::optional<StopOutcome>>;

    // Starts in simulation when the source does; its port must be there (Port()).
    explicit CShakerBackend(std::unique_ptr<CInstrumentSource> source);
    ~CShakerBackend() override;

    // On the engine's thread: the connection, as the window makes it at start-up; `done` is
    // queued to this thread once the engine has answered.
    void Connect(std::function<void()> done);
    // On the engine's thread, at the end: refuses further calls, gives up an identification
    // under way, lets a start or stop under way finish, stops a run in progress as Stop does (with
    // the speed sent at its start, so its journal ends), then queues `stopped` to this thread.
    void StopAccepting(std::function<void()> stopped);
    // From any thread: every watcher (subscription, execution info, intermediate responses)
    // ends, with OK, at once; the server is about to go.
    void EndWatchers();
    // On the engine's thread: ends every watcher and shuts the engine down.
    void Close();

    // From any thread but the engine's: runs `work` on the engine's thread and waits for it.
    // False, without running it, once the server is going.
    bool Call(std::function<void(CRunController&)> work);
    // From any thread: runs `work` on the engine's thread later, with the engine, or with none
    // once the server is going. Never waits.
    void Post(std::function<void(CRunController*)> work);
    // On the engine's thread (inside a Call): asks the engine to start or stop; the future is
    // answered with the engine's outcome, at once when it refuses at once.
    StartFuture Start(int speed, int time);
    StopFuture Stop(std::optional<int> speed);
    // On the engine's thread: the execution whose run is in progress; empty when none is.
    const std::string& RunningExecution() const { return m_currentExecution; }
    // On the engine's thread (inside a Call): stops the run in progress as Stop does; if the
    // instrument confirms, its execution ends as cancelled.
    StopFuture CancelRun();

    // What a change between simulation and real mode came to: `refusal` says why it was not
    // made; `switched` is false also when the mode asked for was on already.
    struct ModeSwitch {
        bool switched = false;
        std::string refusal;
    };
    // On the engine's thread (inside a Call): to the simulated shaker or back to the real
    // port, only between runs; the instrument is identified anew meanwhile (not ready).
    ModeSwitch SwitchMode(bool simulated);
    bool Simulated() const;

    State CurrentState() const;
    // Waits until something has changed since `version`, the server is going, or `timeout`.
    State WaitForChange(std::uint64_t version, std::chrono::milliseconds timeout) const;
    Device DeviceInfo() const;
    std::optional<Execution> FindExecution(const std::string& uuid) const;

    // One unit of the instrument's remaining time (seconds unless the simulator counts faster).
    std::chrono::milliseconds TimeUnit() const;
    // A run whose link has been down this long is given up (LinkLost); zero: never, the run
    // is watched until the link comes back or a client stops it.
    void SetLinkGiveUp(std::chrono::seconds after) { m_linkGiveUp = after; }
    // Who hears of the runs' starts, ends and alarms (a webhook); before serving.
    void SetEventSink(IRunEventSink* sink) { m_engine->SetEventSink(sink); }
    // Told on the engine's thread after every change of the state, with the sample when a
    // run's sample was the change; one listener (the web view), set before serving.
    struct RunSample {
        int number = 0;
        int speed = 0;
        int remaining = 0;
    };
    using Listener = std::function<void(const std::optional<RunSample>& sample)>;
    void SetListener(Listener listener) { m_listener = std::move(listener); }
    // On the engine's thread: where the runs' journals are written.
    std::string JournalFolder() const { return m_engine ? m_engine->JournalFolder() : ""; }
    // On the engine's thread (inside a Post): a start or a stop whose outcome `done` hears on
    // this thread; empty when the server went first.
    using StartDone = std::function<void(std::optional<StartReply>)>;
    using StopDone = std::function<void(std::optional<StopOutcome>)>;
    void StartThen(int speed, int time, StartDone done);
    void StopThen(StopDone done);

    // IRunObserver, on the engine's thread.
    void ConnectFinished(const ConnectOutcome& outcome) override;
    void StartFinished(const StartOutcome& outcome) override;
    void StopFinished(const StopOutcome& outcome) override;
    void StateChanged(EngineState state) override;
    void ShowSpeed(int speed) override;
    void ShowTime(int time) override;
    void ShowBlinkingTime(int time) override;
    void RunningChanged(bool running) override;
    void AlarmChanged(const Alarm& alarm) override;
    void SampleRecorded(int number, int speed, int remaining) override;
    void RunEnded(RunEnd why) override;
    void LinkStateChanged(LinkState state) override;
    void StatusNote(const std::string& text) override;

  private:
    void RequestStart(int speed, int time, StartDone done);
    void RequestStop(std::optional<int> speed, StopDone done);
    // Connects the engine to the source's port of the current mode.
    void ConnectEngine();
    // The next step of StopAccepting, once the engine is between requests.
    void ContinueClosing();
    void BeginExecution(int time);
    // Ends the current execution, if any, with what its run came to.
    void FinishExecution(Ending ending);
    void GiveUpLink();
    void Changed(const std::function<void(State&)>& change);
    // Changed, on the engine's thread, and the listener told.
    void ChangedHere(const std::function<void(State&)>& change,
                     const std::optional<RunSample>& sample = std::nullopt);

    // Declared before the engine, so that a simulated shaker outlives the engine's port on it.
    std::unique_ptr<CInstrumentSource> m_source;
    PortChoice m_port;
    std::chrono::seconds m_linkGiveUp{0};
    QTimer m_linkTimer;
    std::unique_ptr<CRunController> m_engine;

    // Engine's thread only.
    bool m_accepting = true;
    std::function<void()> m_connected;
    // The start and the stop under way, answered by StartFinished and StopFinished; the engine
    // refuses a second one of either at once, and that outcome goes to m_*AtOnce instead.
    StartDone m_startDone;
    int m_startTime = 0;
    StopDone m_stopDone;
    bool m_asking = false;  // inside a request to the engine
    std::optional<StartOutcome> m_startAtOnce;
    std::optional<StopOutcome> m_stopAtOnce;
    std::function<void()> m_stopped;  // StopAccepting's, until the engine has settled
    bool m_closingStop = false;       // StopAccepting's own Stop is under way
    bool m_closingStopSent = false;   // it is sent once: an unconfirmed one is not repeated
    bool m_cancelling = false;        // CancelRun's Stop is under way
    std::string m_currentExecution;
    Listener m_listener;

    // Guards m_state, m_device, m_executions, m_simulated and m_timeUnit: read by the gRPC
    // threads, written on the engine's.
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;  // m_state.version moved
    State m_state;
    Device m_device;
    CExecutionStore m_executions;
    bool m_simulated = false;
    std::chrono::milliseconds m_timeUnit{1000};
};
