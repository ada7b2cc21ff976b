#include "run/status_poller.h"

#include <pthread.h>

#include "link/frames.h"
#include "link/serial_channel.h"
#include "run/cross_thread_notifier.h"

CStatusPoller::~CStatusPoller() {
    RequestStop();
    CancelNotifications();
    Join();
}

void CStatusPoller::SetOwner(IPollerReceiver* owner, QObject* context) {
    m_pOwner = owner;
    m_pContext = context;
}

void CStatusPoller::Start() {
    std::lock_guard lifecycle(m_lifecycleMutex);
    if (m_worker.joinable()) {
        RequestStop();
        CancelNotifications();
        m_worker.join();
    }

    m_nStop.store(0);
    m_cancel.Reset();
    m_nSettled.store(0);
    m_nLastSetpoint.store(0);
    auto notifier = CCrossThreadNotifier::Create(m_pOwner, m_pContext);
    {
        std::lock_guard lock(m_notifierMutex);
        m_notifier = notifier;
    }
    // Counted from here, so the count is exact as soon as Start returns.
    s_nRunningWorkers.fetch_add(1);
    m_worker = std::thread(&CStatusPoller::Run, this, CSerialChannel::Instance(),
                           std::move(notifier), m_cyclePeriod);
}

void CStatusPoller::RequestStop() {
    {
        std::lock_guard lock(m_wakeMutex);
        m_nStop.store(1);
    }
    m_cancel.Cancel();
    m_wakeCv.notify_all();
}

void CStatusPoller::Join() {
    std::lock_guard lifecycle(m_lifecycleMutex);
    if (!m_worker.joinable()) {
        return;
    }
    {
        std::lock_guard lock(m_notifierMutex);
        if (m_notifier && m_notifier->OnReceiverThread()) {
            m_notifier->Cancel();
        }
    }
    m_worker.join();
}

void CStatusPoller::CancelNotifications() {
    std::lock_guard lock(m_notifierMutex);
    if (m_notifier) {
        m_notifier->Cancel();
    }
}

bool CStatusPoller::HasThread() const {
    std::lock_guard lifecycle(m_lifecycleMutex);
    return m_worker.joinable();
}

int CStatusPoller::Run(CSerialChannel* channel, std::shared_ptr<CCrossThreadNotifier> notifier,
                       std::chrono::milliseconds period) {
    pthread_setname_np(pthread_self(), "velmora-poller");

    SpeedSmoothing smoothing;
    auto cycleStart = std::chrono::steady_clock::now();
    while (!StopRequested()) {
        // Deadlines are absolute, so time spent in the exchanges never shifts the schedule.
        const auto deadline = cycleStart + period;
        PollStatus(*channel, *notifier, smoothing);
        // Nobody takes the answer to a run-state query asked after a stop.
        if (StopRequested()) {
            break;
        }
        PollRunState(*channel, *notifier);
        if (std::chrono::steady_clock::now() >= deadline) {
            // The exchanges took a whole cycle or more: start the next one at once, from now.
            cycleStart = std::chrono::steady_clock::now();
            continue;
        }
        WaitForNextCycle(deadline);
        cycleStart = deadline;
    }
    s_nRunningWorkers.fetch_sub(1);
    return 1;
}

void CStatusPoller::PollStatus(CSerialChannel& channel, CCrossThreadNotifier& notifier,
                               SpeedSmoothing& smoothing) {
    std::vector<std::uint8_t> block;
    if (channel.QueryStatus(block, &m_cancel) == 0 || block.size() < StatusFrame::kLength) {
        // A stop cut the exchange short: that is no news about the link.
        if (!StopRequested()) {
            notifier.Deliver(WM_POLL_FAILED, channel.PortLost() ? 1 : 0, 0);
        }
        return;
    }
    const int setpoint = ReadU16(block, StatusFrame::kSpeedSetpoint);
    const int actual = ReadU16(block, StatusFrame::kActualSpeed);
    const int remaining = ReadU16(block, StatusFrame::kRemaining);
    const int displayed = SmoothDisplayedSpeed(smoothing, setpoint, actual);
    m_nSettled.store(smoothing.settled);
    m_nLastSetpoint.store(smoothing.lastSetpoint);
    notifier.Deliver(WM_STATUS_UPDATE, displayed, remaining);
}

void CStatusPoller::PollRunState(CSerialChannel& channel, CCrossThreadNotifier& notifier) {
    std::vector<std::uint8_t> block;
    if (channel.QueryRunState(block, &m_cancel) == 0 || block.size() < RunStateFrame::kLength) {
        return;
    }
    notifier.Deliver(WM_RUN_STATE, block[RunStateFrame::kRunFlag],
                     block[RunStateFrame::kSecondState]);
}

void CStatusPoller::WaitForNextCycle(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(m_wakeMutex);
    m_wakeCv.wait_until(lock, deadline, [this] { return m_nStop.load() != 0; });
}
