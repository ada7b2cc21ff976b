#include "server/shaker_backend.h"

#include <QTimer>
#include <QUuid>

#include "link/serial_channel.h"
#include "server/call_log.h"

namespace {

// Results a client never fetched are kept for this many runs.
constexpr std::size_t kKeptExecutions = 32;

const char* InformationText(int stringId) {
    switch (stringId) {
        case 102:
            return "failed to connect the instrument";
        case 103:
            return "the instrument is not connected";
        case 109:
            return "the speed is outside the instrument's range";
        case 111:
            return "the instrument did not confirm the stop";
        default:
            return nullptr;
    }
}

}  // namespace

CShakerBackend::CShakerBackend(std::string port, int baud)
    : m_port(std::move(port)), m_baud(baud), m_engine(std::make_unique<CRunController>(*this)) {}

CShakerBackend::~CShakerBackend() {
    Close();
}

void CShakerBackend::Connect() {
    m_engine->Connect();
    Device device;
    device.connected = !m_engine->ConnectionFailed();
    device.id = m_engine->DeviceId();
    device.type = m_engine->GetDeviceType();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_device = device;
    }
    if (device.connected)
        CCallLog::Line("instrument " + device.id + " (type " + std::to_string(device.type) +
                       ") on " + m_port);
}

void CShakerBackend::StopAccepting() {
    m_accepting = false;
    for (auto& task : m_tasks)
        task.done->set_value(false);
    m_tasks.clear();
    if (m_engine && m_engine->Running()) {
        CCallLog::Line("stopping the run in progress");
        m_engine->Stop(m_engine->SpeedSetAtStart());
    }
}

void CShakerBackend::Close() {
    if (!m_engine)
        return;
    StopAccepting();
    Changed([](State& state) { state.closed = true; });
    m_engine->Shutdown();
    m_engine.reset();
}

bool CShakerBackend::Call(std::function<void(CRunController&)> work) {
    auto done = std::make_shared<std::promise<bool>>();
    auto result = done->get_future();
    // Crosses threads: the call is queued to the engine's thread, this thread waits for it.
    QMetaObject::invokeMethod(
        this,
        [this, work = std::move(work), done]() mutable {
            if (!m_accepting || !m_engine) {
                done->set_value(false);
                return;
            }
            m_tasks.push_back({std::move(work), done});
            Pump();
        },
        Qt::QueuedConnection);
    try {
        return result.get();
    } catch (const std::future_error&) {
        return false;  // the backend went before the call could run
    }
}

// A call waits while another runs or while the engine's own exchanges are under way: the
// engine keeps its event loop going meanwhile and must not be entered again.
void CShakerBackend::Pump() {
    while (!m_inTask && !m_engineBusy && !m_tasks.empty()) {
        Task task = std::move(m_tasks.front());
        m_tasks.pop_front();
        m_inTask = true;
        task.work(*m_engine);
        m_inTask = false;
        task.done->set_value(true);
    }
}

void CShakerBackend::Changed(const std::function<void(State&)>& change) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        change(m_state);
        ++m_state.version;
    }
    m_changed.notify_all();
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

std::string CShakerBackend::BeginExecution(int time) {
    const std::string uuid = QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
    m_currentExecution = uuid;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_executions[uuid].time = time;
        m_executionOrder.push_back(uuid);
        while (m_executionOrder.size() > kKeptExecutions) {
            m_executions.erase(m_executionOrder.front());
            m_executionOrder.pop_front();
        }
        ++m_state.version;
    }
    m_changed.notify_all();
    return uuid;
}

std::optional<CShakerBackend::Execution> CShakerBackend::FindExecution(
    const std::string& uuid) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_executions.find(uuid);
    if (it == m_executions.end())
        return std::nullopt;
    return it->second;
}

void CShakerBackend::ChoosePort(CSerialChannel& channel) {
    channel.SetPortName(m_port);
    channel.SetBaudRate(m_baud);
}

void CShakerBackend::ShowInformation(int stringId) {
    if (const char* text = InformationText(stringId))
        CCallLog::Line(text);
}

void CShakerBackend::ShowSpeed(int speed) {
    Changed([speed](State& state) { state.speed = speed; });
}

void CShakerBackend::ShowTime(int time) {
    Changed([time](State& state) { state.remaining = time; });
}

void CShakerBackend::ShowBlinkingTime(int time) {
    ShowTime(time);
}

void CShakerBackend::RunningChanged(bool running) {
    Changed([running](State& state) { state.running = running; });
}

void CShakerBackend::SampleRecorded(int, int speed, int remaining) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_executions.find(m_currentExecution);
        if (it != m_executions.end())
            it->second.samples.push_back({speed, remaining});
        ++m_state.version;
    }
    m_changed.notify_all();
}

void CShakerBackend::RunEnded(RunEnd why) {
    std::size_t samples = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_executions.find(m_currentExecution);
        if (it != m_executions.end()) {
            Execution& execution = it->second;
            execution.finished = true;
            const auto& speeds = m_engine->m_record.SpeedSeries();
            const auto& times = m_engine->m_record.TimeSeries();
            execution.speeds.assign(speeds.begin(), speeds.end());
            execution.remainingTimes.assign(times.begin(), times.end());
            samples = speeds.size();
        }
        ++m_state.version;
    }
    m_changed.notify_all();
    m_currentExecution.clear();
    CCallLog::Line(std::string("run ended: ") + RunEndText(why) + ", " + std::to_string(samples) +
                   " samples");
}

void CShakerBackend::LinkStateChanged(LinkState state) {
    if (state != LinkState::Answering && state != LinkState::Connecting)
        CCallLog::Line(std::string("link: ") + LinkStateText(state));
}

void CShakerBackend::StatusNote(const std::string& text) {
    CCallLog::Line(text);
}

void CShakerBackend::Busy(bool busy) {
    m_engineBusy = busy;
    // The engine's exchanges end inside the call that started them; the next call waits until
    // that one has returned too.
    if (!busy)
        QTimer::singleShot(0, this, [this] { Pump(); });
}
