#include "link/port_io.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

using Clock = std::chrono::steady_clock;

// A block never needs to be larger than the driver's queue; the cap only bounds a bogus count.
constexpr int kMaxBlock = 64 * 1024;

// How often the output queue is looked at while a byte drains: a byte takes about 1 ms at
// 9600 baud, and the pause after it counts only from when it has left.
constexpr std::chrono::microseconds kDrainStep{250};

// Time until the deadline as a timespec, never negative, rounded up.
timespec TimeUntil(PortDeadline deadline, std::chrono::nanoseconds cap) {
    auto left = std::chrono::ceil<std::chrono::nanoseconds>(deadline - Clock::now());
    left = std::clamp(left, std::chrono::nanoseconds::zero(), cap);
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
    return {static_cast<time_t>(seconds.count()), static_cast<long>((left - seconds).count())};
}

// Longest single sleep in a wait; the loops go round again until their deadline.
constexpr std::chrono::nanoseconds kLongestSleep = std::chrono::hours(1);

bool Readable(const pollfd& entry) {
    return entry.fd >= 0 && (entry.revents & (POLLIN | POLLERR | POLLHUP | POLLNVAL)) != 0;
}

// Ok when `events` is ready on fd; Failed on hang-up or error without the wanted readiness.
PortIo WaitFor(int fd, short events, PortDeadline deadline, int wakeFd) {
    for (;;) {
        pollfd entries[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
        const timespec timeout = TimeUntil(deadline, kLongestSleep);
        const int ready = ppoll(entries, wakeFd >= 0 ? 2 : 1, &timeout, nullptr);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return PortIo::Failed;
        }
        if (Readable(entries[1])) {
            return PortIo::Cancelled;
        }
        if (ready == 0) {
            if (Clock::now() < deadline) {
                continue;
            }
            return PortIo::TimedOut;
        }
        if (entries[0].revents & POLLNVAL) {
            return PortIo::Failed;
        }
        if (entries[0].revents & events) {
            return PortIo::Ok;
        }
        return PortIo::Failed;
    }
}

// Until the driver's output queue is empty, the port hangs up or the deadline passes. A
// driver that can't tell its queue's size has nothing to wait for.
PortIo WaitUntilDrained(int fd, PortDeadline deadline, int wakeFd) {
    for (;;) {
        int pending = 0;
        if (ioctl(fd, TIOCOUTQ, &pending) != 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno == ENOTTY || errno == EINVAL ? PortIo::Ok : PortIo::Failed;
        }
        if (pending <= 0) {
            return PortIo::Ok;
        }
        if (Clock::now() >= deadline) {
            return PortIo::TimedOut;
        }
        // Events 0 still reports a hang-up or error on the port.
        pollfd entries[2] = {{fd, 0, 0}, {wakeFd, POLLIN, 0}};
        const timespec step = TimeUntil(deadline, kDrainStep);
        if (ppoll(entries, wakeFd >= 0 ? 2 : 1, &step, nullptr) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return PortIo::Failed;
        }
        if (Readable(entries[1])) {
            return PortIo::Cancelled;
        }
        if (entries[0].revents != 0) {
            return PortIo::Failed;
        }
    }
}

int QueuedCount(int fd) {
    int queued = 0;
    if (ioctl(fd, FIONREAD, &queued) != 0 || queued <= 0) {
        return 0;
    }
    return std::min(queued, kMaxBlock);
}

// One read of what is queued, at most `limit` bytes (at least one byte is asked for, so a
// hang-up shows as 0 or an error). Ok with bytes, TimedOut when nothing was there after all,
// Failed when the port has gone.
PortIo ReadOnce(int fd, std::vector<std::uint8_t>& bytes, int limit = kMaxBlock) {
    bytes.resize(static_cast<std::size_t>(std::clamp(QueuedCount(fd), 1, std::max(limit, 1))));
    for (;;) {
        const ssize_t n = read(fd, bytes.data(), bytes.size());
        if (n > 0) {
            bytes.resize(static_cast<std::size_t>(n));
            return PortIo::Ok;
        }
        bytes.clear();
        if (n == 0) {
            return PortIo::Failed;  // readiness with nothing to read: the other side is gone
        }
        if (errno == EINTR) {
            continue;
        }
        return errno == EAGAIN || errno == EWOULDBLOCK ? PortIo::TimedOut : PortIo::Failed;
    }
}

// Whether input is waiting right now. FIONREAD alone misses bytes the kernel has received
// but not yet moved to the line's read queue; a poll hands them over first.
bool InputWaiting(int fd, bool& gone) {
    gone = false;
    for (;;) {
        pollfd entry{fd, POLLIN, 0};
        const int ready = poll(&entry, 1, 0);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0 || (entry.revents & POLLNVAL)) {
            gone = true;
            return false;
        }
        if (entry.revents & POLLIN) {
            return true;
        }
        gone = (entry.revents & (POLLHUP | POLLERR)) != 0;
        return false;
    }
}

}  // namespace

PortIo WriteByte(int fd, std::uint8_t byte, PortDeadline deadline, int wakeFd) {
    for (;;) {
        const ssize_t n = write(fd, &byte, 1);
        if (n == 1) {
            break;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const PortIo ready = WaitFor(fd, POLLOUT, deadline, wakeFd);
            if (ready != PortIo::Ok) {
                return ready;
            }
            continue;
        }
        return PortIo::Failed;
    }
    // Written: the byte is on its way, and a cancel no longer stops it.
    return WaitUntilDrained(fd, deadline, -1);
}

PortIo ReadBlock(int fd, std::vector<std::uint8_t>& block, PortDeadline deadline, int wakeFd) {
    for (;;) {
        const PortIo ready = WaitFor(fd, POLLIN, deadline, wakeFd);
        if (ready != PortIo::Ok) {
            return ready;
        }
        const PortIo read = ReadOnce(fd, block);
        // A spurious wake-up leaves nothing to read; wait again until the deadline.
        if (read != PortIo::TimedOut) {
            return read;
        }
        if (Clock::now() >= deadline) {
            return PortIo::TimedOut;
        }
    }
}

PortIo ReadQueued(int fd, std::vector<std::uint8_t>& bytes, std::size_t limit, bool& more) {
    more = false;
    std::vector<std::uint8_t> block;
    for (;;) {
        bool gone = false;
        const bool waiting = InputWaiting(fd, gone);
        if (gone) {
            return PortIo::Failed;
        }
        if (!waiting) {
            return PortIo::Ok;
        }
        if (bytes.size() >= limit) {
            more = true;
            return PortIo::Ok;
        }
        const auto room = static_cast<int>(std::min<std::size_t>(limit - bytes.size(), kMaxBlock));
        const PortIo read = ReadOnce(fd, block, room);
        if (read == PortIo::Failed) {
            return PortIo::Failed;
        }
        if (read == PortIo::TimedOut) {
            return PortIo::Ok;
        }
        bytes.insert(bytes.end(), block.begin(), block.end());
    }
}

PortIo PauseUntil(PortDeadline until, int wakeFd) {
    for (;;) {
        if (Clock::now() >= until) {
            return PortIo::Ok;
        }
        pollfd entry{wakeFd, POLLIN, 0};
        const timespec timeout = TimeUntil(until, kLongestSleep);
        const int ready = ppoll(&entry, wakeFd >= 0 ? 1 : 0, &timeout, nullptr);
        if (ready < 0 && errno != EINTR) {
            return PortIo::Failed;
        }
        if (ready > 0 && Readable(entry)) {
            return PortIo::Cancelled;
        }
    }
}
