#include "server/shaker_backend.h"

#include <QUuid>
#include <algorithm>
#include <utility>

#include "server/call_log.h"

CShakerBackend::CShakerBackend(std::unique_ptr<CInstrumentSource> source)
    : m_source(std::move(source)), m_engine(std::make_unique<CRunController>(*this)) {
    m_simulated = m_source->StartsSimulated();
    m_timeUnit = m_source->TimeUnit(m_simulated);
    m_port = m_source->Port(m_simulated).value_or(PortChoice{});
    m_engine->SetSimulated(m_simulated);
    m_linkTimer.setSingleShot(true);
    connect(&m_linkTimer, &QTimer::timeout, this, &CShakerBackend::GiveUpLink);
}

CShakerBackend::~CShakerBackend() {
    Close();
}

void CShakerBackend::Connect(std::function<void()> done) {
    m_connected = std::move(done);
    ConnectEngine();
}

void CShakerBackend::ConnectEngine() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_device.ready = false;
        ++m_state.version;
    }
    m_changed.notify_all();
    m_engine->Connect(m_port);
}

void CShakerBackend::StopAccepting(std::function<void()> stopped) {
    m_accepting = false;
    m_stopped = std::move(stopped);
    ContinueClosing();
}

// Called again at every change of the engine's state until the run has been stopped; a start
// or a stop under way is left to end first, since the engine would refuse another request.
void CShakerBackend::ContinueClosing() {
    if (!m_stopped || m_closingStop || !m_engine)
        return;
    const EngineState state = m_engine->State();
    // Identifying the instrument takes seconds at the line's pace: no reason to wait for it.
    if (state == EngineState::Connecting)
        m_engine->CancelConnect();
    if (state == EngineState::Connecting || state == EngineState::Starting ||
        state == EngineState::Stopping)
        return;
    if (m_engine->Running() && !m_closingStopSent) {
        CCallLog::Line("stopping the run in progress");
        m_closingStop = true;
        m_closingStopSent = true;
        RequestStop(m_engine->SpeedSetAtStart(), [this](std::optional<StopOutcome>) {
            m_closingStop = false;
            ContinueClosing();
        });
        return;
    }
    // The engine goes on watching a run whose stop was not confirmed; the server can't wait
    // for the link, so its client hears that the run was left behind.
    if (m_engine->Running()) {
        CCallLog::Line("the instrument did not confirm the stop: it may run on");
        FinishExecution(Ending::ServerShutdown);
    }
    // Queued, so that the engine's report in progress ends before the server moves on.
    QMetaObject::invokeMethod(this, std::exchange(m_stopped, nullptr), Qt::QueuedConnection);
}

void CShakerBackend::Close() {
    if (!m_engine)
        return;
    m_accepting = false;
    m_stopped = nullptr;
    m_linkTimer.stop();
    FinishExecution(Ending::ServerShutdown);
    if (m_startDone)
        std::exchange(m_startDone, nullptr)(std::nullopt);
    if (m_stopDone)
        std::exchange(m_stopDone, nullptr)(std::nullopt);
    Changed([](State& state) { state.closed = true; });
    m_engine->Shutdown();
    m_engine.reset();
}

void CShakerBackend::EndWatchers() {
    Changed([](State& state) { state.closed = true; });
}

bool CShakerBackend::Call(std::function<void(CRunController&)> work) {
    auto done = std::make_shared<std::promise<bool>>();
    auto result = done->get_future();
    // Crosses threads: the call is queued to the engine's thread, this thread waits for it.
    QMetaObject::invokeMethod(
        this,
        [this, work = std::move(work), done] {
            if (!m_accepting || !m_engine) {
                done->set_value(false);
                return;
            }
            work(*m_engine);
            done->set_value(true);
        },
        Qt::QueuedConnection);
    try {
        return result.get();
    } catch (const std::future_error&) {
        return false;  // the backend went before the call could run
    }
}

void CShakerBackend::Post(std::function<void(CRunController*)> work) {
    // Crosses threads: the work is queued to the engine's thread.
    QMetaObject::invokeMethod(
        this,
        [this, work = std::move(work)] {
            work(m_accepting && m_engine ? m_engine.get() : nullptr);
        },
        Qt::QueuedConnection);
}

CShakerBackend::StartFuture CShakerBackend::Start(int speed, int time) {
    auto promise = std::make_shared<std::promise<std::optional<StartReply>>>();
    RequestStart(speed, time,
                 [promise](std::optional<StartReply> reply) { promise->set_value(reply); });
    return promise->get_future();
}

CShakerBackend::StopFuture CShakerBackend::Stop(std::optional<int> speed) {
    auto promise = std::make_shared<std::promise<std::optional<StopOutcome>>>();
    RequestStop(speed,
                [promise](std::optional<StopOutcome> outcome) { promise->set_value(outcome); });
    return promise->get_future();
}

void CShakerBackend::StartThen(int speed, int time, StartDone done) {
    RequestStart(speed, time, std::move(done));
}

void CShakerBackend::StopThen(StopDone done) {
    RequestStop(m_engine->FallbackStopSpeed(), std::move(done));
}

CShakerBackend::StopFuture CShakerBackend::CancelRun() {
    auto promise = std::make_shared<std::promise<std::optional<StopOutcome>>>();
    m_cancelling = true;
    RequestStop(m_engine->FallbackStopSpeed(), [this, promise](std::optional<StopOutcome> outcome) {
        m_cancelling = false;
        promise->set_value(outcome);
    });
    return promise->get_future();
}

CShakerBackend::ModeSwitch CShakerBackend::SwitchMode(bool simulated) {
    ModeSwitch result;
    if (simulated == Simulated())
        return result;
    if (!simulated && !m_source->HasRealPort()) {
        result.refusal =
            "The server was started on the simulated shaker; it has no real port to go back to.";
        return result;
    }
    if (m_engine->Running()) {
        result.refusal = "A run is in progress; stop it first.";
        return result;
    }
    if (m_engine->State() == EngineState::Connecting) {
        result.refusal = "The instrument is being identified; try again in a few seconds.";
        return result;
    }
    if (m_engine->State() != EngineState::Idle || m_startDone || m_stopDone) {
        result.refusal = "A start or stop is under way; try again when it ends.";
        return result;
    }
    const std::optional<PortChoice> port = m_source->Port(simulated);
    if (!port) {
        result.refusal = "The simulated shaker could not be started.";
        return result;
    }
    m_port = *port;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_simulated = simulated;
        m_timeUnit = m_source->TimeUnit(simulated);
    }
    m_engine->SetSimulated(simulated);
    ConnectEngine();
    result.switched = true;
    return result;
}

bool CShakerBackend::Simulated() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_simulated;
}

std::chrono::milliseconds CShakerBackend::TimeUnit() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_timeUnit;
}

void CShakerBackend::RequestStart(int speed, int time, StartDone done) {
    m_asking = true;
    m_startAtOnce.reset();
    m_startTime = time;
    m_engine->Start(speed, time, SpeedRefusal::StopTheInstrument);
    m_asking = false;
    if (m_startAtOnce)
        done(StartReply{*m_startAtOnce, {}});
    else
        m_startDone = std::move(done);
}

void CShakerBackend::RequestStop(std::optional<int> speed, StopDone done) {
    m_asking = true;
    m_stopAtOnce.reset();
    m_engine->Stop(speed);
    m_asking = false;
    if (m_stopAtOnce)
        done(*m_stopAtOnce);
    else
        m_stopDone = std::move(done);
}

void CShakerBackend::Changed(const std::function<void(State&)>& change) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        change(m_state);
        ++m_state.version;
    }
    m_changed.notify_all();
}

void CShakerBackend::ChangedHere(const std::function<void(State&)>& change,
                                 const std::optional<RunSample>& sample) {
    Changed(change);
    if (m_listener)
        m_listener(sample);
}

CShakerBackend::State CShakerBackend::CurrentState() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_state;
}

CShakerBackend::State CShakerBackend::WaitForChange(std::uint64_t version,
                                                    std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_for(lock, timeout, [&] { return m_state.version != version || m_state.closed; });
    return m_state;
}

CShakerBackend::Device CShakerBackend::DeviceInfo() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_device;
}

void CShakerBackend::BeginExecution(int time) {
    const std::string uuid = QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
    m_currentExecution = uuid;
    const auto now = CExecutionStore::Clock::now();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_executions.Add(uuid, time, now + time * m_timeUnit, now);
        ++m_state.version;
    }
    m_changed.notify_all();
}

void CShakerBackend::FinishExecution(Ending ending) {
    if (m_currentExecution.empty())
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto now = CExecutionStore::Clock::now();
        if (Execution* found = m_executions.Find(m_currentExecution, now)) {
            Execution& execution = *found;
            CExecutionStore::KeepUntilAfter(execution, now);
            execution.finished = true;
            execution.ending = ending;
            const auto& speeds = m_engine->Record().SpeedSeries();
            const auto& times = m_engine->Record().TimeSeries();
            execution.speeds.assign(speeds.begin(), speeds.end());
            execution.remainingTimes.assign(times.begin(), times.end());
        }
        ++m_state.version;
    }
    m_changed.notify_all();
    m_currentExecution.clear();
}

std::optional<CShakerBackend::Execution> CShakerBackend::FindExecution(
    const std::string& uuid) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const Execution* execution = m_executions.Find(uuid, CExecutionStore::Clock::now());
    if (!execution)
        return std::nullopt;
    return *execution;
}

void CShakerBackend::ConnectFinished(const ConnectOutcome& outcome) {
    Device device;
    device.ready = true;
    device.connected = outcome.result == ConnectOutcome::Result::Connected;
    device.id = m_engine->DeviceId();
    device.type = m_engine->GetDeviceType();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_device = device;
    }
    ChangedHere([&](State& state) {
        state.linkUp = device.connected;
        state.setpoint = m_engine->ShownSpeedSetpoint().value_or(state.setpoint);
    });
    if (outcome.result == ConnectOutcome::Result::Cancelled) {
        CCallLog::Line("identifying the instrument was given up");
    } else if (device.connected) {
        CCallLog::Line("instrument " + device.id + " (type " + std::to_string(device.type) +
                       ") on " + (m_simulated ? "the simulated shaker" : m_port.portName) +
                       (outcome.runningElsewhere ? ", running a run started elsewhere" : ""));
    } else {
        CCallLog::Line("failed to connect the instrument");
        if (!outcome.reason.empty())
            CCallLog::Line(outcome.reason);
    }
    if (m_connected)
        QMetaObject::invokeMethod(this, std::exchange(m_connected, nullptr), Qt::QueuedConnection);
}

void CShakerBackend::StartFinished(const StartOutcome& outcome) {
    if (outcome.result == StartOutcome::Result::SpeedOutOfRange)
        CCallLog::Line("the speed is outside the instrument's range");
    if (outcome.result == StartOutcome::Result::SpeedRefused)
        CCallLog::Line(outcome.stopConfirmed
                           ? "the instrument refused the speed and was stopped again"
                           : "the instrument refused the speed and did not confirm the stop");
    if (m_asking) {
        m_startAtOnce = outcome;
        return;
    }
    if (m_startDone) {
        const std::string execution =
            outcome.result == StartOutcome::Result::Started ? m_currentExecution : std::string();
        std::exchange(m_startDone, nullptr)(StartReply{outcome, execution});
    }
}

void CShakerBackend::StopFinished(const StopOutcome& outcome) {
    // A shaker behind a pulled cable goes on running: whoever reads the log must hear of it.
    if (outcome.result == StopOutcome::Result::NotConfirmed)
        CCallLog::Line("the instrument did not confirm the stop");
    if (m_asking) {
        m_stopAtOnce = outcome;
        return;
    }
    if (m_stopDone)
        std::exchange(m_stopDone, nullptr)(outcome);
}

void CShakerBackend::StateChanged(EngineState) {
    if (m_stopped)
        QMetaObject::invokeMethod(this, &CShakerBackend::ContinueClosing, Qt::QueuedConnection);
}

void CShakerBackend::ShowSpeed(int speed) {
    ChangedHere([speed](State& state) { state.speed = speed; });
}

void CShakerBackend::ShowTime(int time) {
    ChangedHere([time](State& state) { state.remaining = time; });
}

void CShakerBackend::ShowBlinkingTime(int time) {
    ShowTime(time);
}

void CShakerBackend::RunningChanged(bool running) {
    // The run of the start under way begins here, before the poller's first sample.
    if (running && m_startDone)
        BeginExecution(m_startTime);
    ChangedHere([this, running](State& state) {
        state.running = running;
        if (running) {
            state.alarms.clear();
            state.setpoint = m_engine->SpeedSetAtStart();
            state.samples = 0;
            ++state.runs;
        }
    });
}

// The engine's list is the run's, each alarm as it stands: a new run starts it afresh.
void CShakerBackend::AlarmChanged(const Alarm&) {
    std::vector<std::string> standing;
    for (const Alarm& alarm : m_engine->Alarms()) {
        if (alarm.raised)
            standing.push_back(std::string(AlarmKindName(alarm.kind)) + ": " + alarm.text);
    }
    ChangedHere([&standing](State& state) { state.alarms = std::move(standing); });
}

void CShakerBackend::SampleRecorded(int number, int speed, int remaining) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto now = CExecutionStore::Clock::now();
        if (Execution* execution = m_executions.Find(m_currentExecution, now)) {
            execution->samples.push_back({speed, remaining});
            // A run that takes longer than its time (a link down a while) is kept longer.
            CExecutionStore::KeepUntilAfter(*execution, now + std::max(remaining, 0) * m_timeUnit);
        }
    }
    ChangedHere([number](State& state) { state.samples = number; },
                RunSample{number, speed, remaining});
}

void CShakerBackend::RunEnded(RunEnd why) {
    m_linkTimer.stop();
    Ending ending = Ending::Succeeded;
    switch (why) {
        case RunEnd::TimeUp:
        case RunEnd::InstrumentStopped:
            break;
        case RunEnd::Stopped:
            // The server's own Stop on its way out is no client's.
            ending = m_closingStop  ? Ending::ServerShutdown
                     : m_cancelling ? Ending::Cancelled
                                    : Ending::Stopped;
            break;
        case RunEnd::LinkLost:
            ending = Ending::LinkLost;
            break;
        case RunEnd::Closed:
            ending = Ending::ServerShutdown;
            break;
    }
    FinishExecution(ending);
    CCallLog::Line(std::string("run ended: ") + RunEndText(why) + ", " +
                   std::to_string(m_engine->Record().SpeedSeries().size()) + " samples");
}

void CShakerBackend::LinkStateChanged(LinkState state) {
    ChangedHere([state](State& now) { now.linkUp = state == LinkState::Answering; });
    if (state != LinkState::Answering && state != LinkState::Connecting)
        CCallLog::Line(std::string("link: ") + LinkStateText(state));
    if (state == LinkState::Answering)
        m_linkTimer.stop();
    else if ((state == LinkState::NoReply || state == LinkState::Disconnected) &&
             m_engine->Running() && m_linkGiveUp.count() > 0 && !m_linkTimer.isActive())
        m_linkTimer.start(m_linkGiveUp);
}

void CShakerBackend::GiveUpLink() {
    if (!m_engine || !m_engine->Running() || m_engine->Link() == LinkState::Answering)
        return;
    // A stop under way may still reach the instrument: its outcome decides first.
    if (m_engine->State() != EngineState::Running &&
        m_engine->State() != EngineState::Reconnecting) {
        m_linkTimer.start(std::chrono::seconds(1));
        return;
    }
    CCallLog::Line("the link did not come back within " + std::to_string(m_linkGiveUp.count()) +
                   " s: the run is given up, the instrument may run on");
    m_engine->Abandon(RunEnd::LinkLost);
}

void CShakerBackend::StatusNote(const std::string& text) {
    CCallLog::Line(text);
}
