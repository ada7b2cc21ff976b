#include "sim/simulated_shaker.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "sim/pty_pair.h"
#include "sim/reply_faults.h"
#include "sim/request_assembler.h"
#include "sim/shaker_model.h"
#include "sim/shaker_replies.h"

namespace {

using Clock = std::chrono::steady_clock;

// A reply the program does not read fills the pty; past this the rest of it is dropped
// rather than holding up the responder.
constexpr int kWriteStallMs = 100;

int MillisecondsUntil(Clock::time_point due) {
    const auto left = due - Clock::now();
    if (left <= Clock::duration::zero()) {
        return 0;
    }
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

void WriteAll(int fd, const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno == EAGAIN) {
            pollfd entry{fd, POLLOUT, 0};
            if (poll(&entry, 1, kWriteStallMs) > 0 && (entry.revents & POLLOUT)) {
                continue;
            }
        }
        return;
    }
}

struct CodeFault {
    InjectedFault fault;
    int count;  // -1: until cleared
};

struct PendingWrite {
    Clock::time_point due;
    std::vector<std::uint8_t> bytes;
};

}  // namespace

struct CSimulatedShaker::Impl {
    explicit Impl(SimOptions options)
        : model(options, Clock::now()),
          deviceId(std::move(options.deviceId)),
          recordStamps(options.recordByteStamps) {}

    void Run(int master, int wake);
    void TakeBytes(const std::uint8_t* bytes, int count, Clock::time_point now);
    void Answer(const CRequestAssembler::Frame& request, Clock::time_point now);
    const InjectedFault* PickFault(std::uint8_t code, InjectedFault& storage);
    void FlushDue(int master);
    void Shutdown();

    // Protects what the responder thread and the caller's threads share: the model, the
    // device ID, injected faults, queued replies and the records.
    mutable std::mutex stateMutex;
    CShakerModel model;
    std::string deviceId;
    std::deque<InjectedFault> nextFaults;
    std::map<std::uint8_t, CodeFault> codeFaults;
    std::map<std::uint8_t, std::deque<std::vector<std::uint8_t>>> queuedReplies;
    std::vector<ByteStamp> received;
    std::vector<std::array<std::uint8_t, 6>> requests;
    bool recordStamps;
    bool silent = false;
    bool noTimeLeft = false;

    // Protects the descriptors, the thread and the path across Start, Stop and Unplug.
    mutable std::mutex lifecycleMutex;
    PtyPair pty;
    int wakeFd = -1;
    std::thread responder;
    std::string slavePath;

    std::atomic<bool> stopRequested{false};
    // Read by the responder before each poll; a change wakes it through wakeFd.
    std::atomic<bool> stalled{false};

    // The responder thread's own.
    CRequestAssembler assembler;
    // Kept from every assembler this shaker had (Replug starts a new one).
    std::atomic<long long> malformed{0};
    std::atomic<long long> malformedBefore{0};
    std::vector<PendingWrite> pending;  // ordered by due time
};

void CSimulatedShaker::Impl::Run(int master, int wake) {
    std::uint8_t buffer[256];
    while (!stopRequested) {
        // A stalled shaker doesn't look at the line at all; its queued replies still go out.
        pollfd fds[2] = {{master, static_cast<short>(stalled ? 0 : POLLIN), 0}, {wake, POLLIN, 0}};
        const int timeout = pending.empty() ? -1 : MillisecondsUntil(pending.front().due);
        const int ready = poll(fds, 2, timeout);
        if (ready < 0 && errno != EINTR) {
            return;
        }
        if (fds[1].revents != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto ignored = read(wake, &count, sizeof(count));
            if (stopRequested) {
                return;
            }
        }
        if (fds[0].revents & POLLIN) {
            const ssize_t n = read(master, buffer, sizeof(buffer));
            if (n > 0) {
                TakeBytes(buffer, static_cast<int>(n), Clock::now());
            }
        } else if (fds[0].revents & (POLLHUP | POLLERR)) {
            // No slave side open: nothing to do until one is, and no reason to spin.
            pollfd wakeOnly{wake, POLLIN, 0};
            poll(&wakeOnly, 1, 10);
        }
        FlushDue(master);
    }
}

void CSimulatedShaker::Impl::TakeBytes(const std::uint8_t* bytes, int count,
                                       Clock::time_point now) {
    {
        std::lock_guard lock(stateMutex);
        for (int i = 0; recordStamps && i < count; ++i) {
            received.push_back({bytes[i], now});
        }
    }
    CRequestAssembler::Frame request{};
    for (int i = 0; i < count; ++i) {
        if (assembler.Push(bytes[i], request)) {
            Answer(request, now);
        }
    }
    malformed.store(assembler.MalformedBytes());
}

// The fault for this reply: a "next reply" fault first, then one set for the command code.
const InjectedFault* CSimulatedShaker::Impl::PickFault(std::uint8_t code, InjectedFault& storage) {
    if (!nextFaults.empty()) {
        storage = nextFaults.front();
        nextFaults.pop_front();
        return &storage;
    }
    const auto found = codeFaults.find(code);
    if (found == codeFaults.end()) {
        return nullptr;
    }
    storage = found->second.fault;
    if (found->second.count > 0 && --found->second.count == 0) {
        codeFaults.erase(found);
    }
    return &storage;
}

namespace {

// An acknowledgement frame, to be marked refused by the fault that chose it.
std::vector<std::uint8_t> RefusalOf(std::uint8_t code) {
    std::vector<std::uint8_t> frame(AckFrame::kLength, 0);
    frame[0] = kFrameStartByte;
    frame[AckFrame::kEcho] = code;
    SealFrame(frame);
    return frame;
}

}  // namespace

void CSimulatedShaker::Impl::Answer(const CRequestAssembler::Frame& request,
                                    Clock::time_point now) {
    const std::uint8_t code = request[CommandFrame::kCode];
    std::vector<ReplyWrite> writes;
    {
        std::lock_guard lock(stateMutex);
        requests.push_back(request);
        if (silent) {
            return;
        }
        InjectedFault storage{};
        const InjectedFault* fault = PickFault(code, storage);
        // A setting the shaker refuses is not made: it answers with a status byte other than 0
        // and keeps the setting it had.
        const bool refused = fault != nullptr && fault->fault == Fault::NonZeroStatus &&
                             (code == kCodeSetSpeed || code == kCodeSetTime);
        auto reply =
            refused ? std::optional(RefusalOf(code)) : ShakerReply(request, model, deviceId, now);
        if (reply && noTimeLeft && code == kCodeStatus) {
            WriteU16(*reply, StatusFrame::kRemaining, 0);
            SealFrame(*reply);
        }
        if (auto queued = queuedReplies.find(code);
            queued != queuedReplies.end() && !queued->second.empty()) {
            reply = std::move(queued->second.front());
            queued->second.pop_front();
        }
        if (!reply) {
            return;  // an unknown command gets no reply
        }
        writes = PlanReply(std::move(*reply), fault);
    }
    for (auto& write : writes) {
        PendingWrite entry{now + write.delay, std::move(write.bytes)};
        const auto after = std::upper_bound(
            pending.begin(), pending.end(), entry.due,
            [](Clock::time_point due, const PendingWrite& other) { return due < other.due; });
        pending.insert(after, std::move(entry));
    }
}

void CSimulatedShaker::Impl::FlushDue(int master) {
    const auto now = Clock::now();
    while (!pending.empty() && pending.front().due <= now) {
        WriteAll(master, pending.front().bytes);
        pending.erase(pending.begin());
    }
}

void CSimulatedShaker::Impl::Shutdown() {
    std::lock_guard lock(lifecycleMutex);
    if (responder.joinable()) {
        stopRequested = true;
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto ignored = write(wakeFd, &one, sizeof(one));
        responder.join();
    }
    if (wakeFd >= 0) {
        close(wakeFd);
        wakeFd = -1;
    }
    // Closing the master hangs the line up for whoever has the slave side open.
    ClosePtyPair(pty);
    pending.clear();
    malformedBefore += assembler.MalformedBytes();
    malformed.store(0);
    assembler = CRequestAssembler{};
}

CSimulatedShaker::CSimulatedShaker(SimOptions options)
    : m_impl(std::make_unique<Impl>(std::move(options))) {}

CSimulatedShaker::~CSimulatedShaker() {
    Stop();
}

bool CSimulatedShaker::Start() {
    Impl& impl = *m_impl;
    std::lock_guard lock(impl.lifecycleMutex);
    if (impl.responder.joinable()) {
        return true;
    }
    if (!OpenPtyPair(impl.pty)) {
        return false;
    }
    impl.wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (impl.wakeFd < 0) {
        ClosePtyPair(impl.pty);
        return false;
    }
    impl.slavePath = impl.pty.slavePath;
    impl.stopRequested = false;
    impl.responder = std::thread(&Impl::Run, &impl, impl.pty.master, impl.wakeFd);
    return true;
}

void CSimulatedShaker::Stop() {
    m_impl->Shutdown();
}

void CSimulatedShaker::Unplug() {
    m_impl->Shutdown();
}

bool CSimulatedShaker::Replug() {
    return Start();
}

void CSimulatedShaker::SetSilent(bool silent) {
    std::lock_guard lock(m_impl->stateMutex);
    m_impl->silent = silent;
}

void CSimulatedShaker::SetStalled(bool stalled) {
    m_impl->stalled = stalled;
    std::lock_guard lock(m_impl->lifecycleMutex);
    if (m_impl->wakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto ignored = write(m_impl->wakeFd, &one, sizeof(one));
    }
}

void CSimulatedShaker::SetReportNoTimeLeft(bool noTimeLeft) {
    std::lock_guard lock(m_impl->stateMutex);
    m_impl->noTimeLeft = noTimeLeft;
}

void CSimulatedShaker::SetPlatformStalledAt(std::optional<int> speed) {
    std::lock_guard lock(m_impl->stateMutex);
    m_impl->model.HoldPlatform(speed, CShakerModel::Clock::now());
}

void CSimulatedShaker::SetByteStampsRecorded(bool record) {
    std::lock_guard lock(m_impl->stateMutex);
    m_impl->recordStamps = record;
    if (!record) {
        m_impl->received.clear();
    }
}

bool CSimulatedShaker::IsRunning() const {
    std::lock_guard lock(m_impl->lifecycleMutex);
    return m_impl->responder.joinable();
}

std::string CSimulatedShaker::SlavePath() const {
    std::lock_guard lock(m_impl->lifecycleMutex);
    return m_impl->slavePath;
}

void CSimulatedShaker::SetDeviceId(std::string id) {
    std::lock_guard lock(m_impl->stateMutex);
    m_impl->deviceId = std::move(id);
}

void CSimulatedShaker::InjectNext(Fault fault, int detail) {
    std::lock_guard lock(m_impl->stateMutex);
    m_impl->nextFaults.push_back({fault, detail});
}

void CSimulatedShaker::InjectFor(std::uint8_t code, Fault fault, int count, int detail) {
    std::lock_guard lock(m_impl->stateMutex);
    if (count == 0) {
        m_impl->codeFaults.erase(code);
        return;
    }
    m_impl->codeFaults[code] = {{fault, detail}, count < 0 ? -1 : count};
}

void CSimulatedShaker::QueueReply(std::uint8_t code, std::vector<std::uint8_t> bytes) {
    std::lock_guard lock(m_impl->stateMutex);
    m_impl->queuedReplies[code].push_back(std::move(bytes));
}

void CSimulatedShaker::ClearFaults() {
    std::lock_guard lock(m_impl->stateMutex);
    m_impl->nextFaults.clear();
    m_impl->codeFaults.clear();
    m_impl->queuedReplies.clear();
}

CSimulatedShaker::State CSimulatedShaker::CurrentState() const {
    std::lock_guard lock(m_impl->stateMutex);
    return m_impl->model.StateAt(Clock::now());
}

void CSimulatedShaker::SetActualSpeed(int speed) {
    std::lock_guard lock(m_impl->stateMutex);
    m_impl->model.SetActualSpeed(speed, Clock::now());
}

std::vector<CSimulatedShaker::ByteStamp> CSimulatedShaker::ReceivedBytes() const {
    std::lock_guard lock(m_impl->stateMutex);
    return m_impl->received;
}

std::vector<std::array<std::uint8_t, 6>> CSimulatedShaker::Requests() const {
    std::lock_guard lock(m_impl->stateMutex);
    return m_impl->requests;
}

long long CSimulatedShaker::MalformedBytes() const {
    return m_impl->malformedBefore + m_impl->malformed.load();
}

int CSimulatedShaker::RequestCount(std::uint8_t code) const {
    std::lock_guard lock(m_impl->stateMutex);
    return static_cast<int>(std::count_if(
        m_impl->requests.begin(), m_impl->requests.end(),
        [code](const auto& request) { return request[CommandFrame::kCode] == code; }));
}

void CSimulatedShaker::ClearRecords() {
    std::lock_guard lock(m_impl->stateMutex);
    m_impl->received.clear();
    m_impl->requests.clear();
}
