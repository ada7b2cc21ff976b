#include "run/status_poller.h"

#include <pthread.h>

#include "link/frames.h"
#include "link/serial_channel.h"
#include "link/shaker_protocol.h"

CStatusPoller::~CStatusPoller() {
    RequestStop();
    Join();
}

void CStatusPoller::Start(int pollRun, Sink sink) {
    std::lock_guard lifecycle(m_lifecycleMutex);
    if (m_worker.joinable()) {
        RequestStop();
        m_worker.join();
    }
    m_nStop.store(0);
    m_cancel.Reset();
    m_nSettled.store(0);
    m_nLastSetpoint.store(0);
    // Counted from here, so the count is exact as soon as Start returns.
    s_nRunningWorkers.fetch_add(1);
    m_worker = std::thread(&CStatusPoller::Run, this, pollRun, std::move(sink), m_cyclePeriod);
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
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

bool CStatusPoller::HasThread() const {
    std::lock_guard lifecycle(m_lifecycleMutex);
    return m_worker.joinable();
}

void CStatusPoller::Run(int pollRun, Sink sink, std::chrono::milliseconds period) {
    pthread_setname_np(pthread_self(), "velmora-poller");
    SpeedSmoothing smoothing;
    auto cycleStart = std::chrono::steady_clock::now();
    while (!StopRequested()) {
        // Deadlines are absolute, so time spent in the exchanges never shifts the schedule.
        const auto deadline = cycleStart + period;
        PollStatus(pollRun, sink, smoothing);
        // Nobody takes the answer to a run-state query asked after a stop.
        if (StopRequested()) {
            EndCycle(sink);
            break;
        }
        PollRunState(pollRun, sink);
        EndCycle(sink);
        if (std::chrono::steady_clock::now() >= deadline) {
            // The exchanges took a whole cycle or more: start the next one at once, from now.
            cycleStart = std::chrono::steady_clock::now();
            continue;
        }
        WaitForNextCycle(deadline);
        cycleStart = deadline;
    }
    s_nRunningWorkers.fetch_sub(1);
}

void CStatusPoller::PollStatus(int pollRun, const Sink& sink, SpeedSmoothing& smoothing) {
    std::vector<std::uint8_t> block;
    if (m_protocol.QueryStatus(block, &m_cancel) == 0 || block.size() < StatusFrame::kLength) {
        // A stop cut the exchange short: that is no news about the link.
        if (!StopRequested() && sink.failure) {
            sink.failure(PollFailure{pollRun, m_protocol.Channel().PortLost()});
        }
        return;
    }
    StatusSample sample;
    sample.pollRun = pollRun;
    sample.speedSetpoint = ReadU16(block, StatusFrame::kSpeedSetpoint);
    sample.actual = ReadU16(block, StatusFrame::kActualSpeed);
    sample.timeSetpoint = ReadU16(block, StatusFrame::kTimeSetpoint);
    sample.remaining = ReadU16(block, StatusFrame::kRemaining);
    sample.displayed = SmoothDisplayedSpeed(smoothing, sample.speedSetpoint, sample.actual);
    m_nSettled.store(smoothing.settled);
    m_nLastSetpoint.store(smoothing.lastSetpoint);
    if (sink.status) {
        sink.status(sample);
    }
}

void CStatusPoller::PollRunState(int pollRun, const Sink& sink) {
    std::vector<std::uint8_t> block;
    if (m_protocol.QueryRunState(block, &m_cancel) == 0 || block.size() < RunStateFrame::kLength) {
        return;
    }
    if (sink.runState) {
        sink.runState(RunStateSample{pollRun, block[RunStateFrame::kRunFlag],
                                     block[RunStateFrame::kSecondState]});
    }
}

void CStatusPoller::EndCycle(const Sink& sink) {
    if (sink.cycleEnd) {
        sink.cycleEnd();
    }
}

void CStatusPoller::WaitForNextCycle(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(m_wakeMutex);
    m_wakeCv.wait_until(lock, deadline, [this] { return m_nStop.load() != 0; });
}
