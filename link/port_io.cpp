#include "link/port_io.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

// A block never needs to be larger than the driver's queue; the cap only bounds a bogus count.
constexpr int kMaxBlock = 64 * 1024;

// Milliseconds until the deadline, rounded up so a wait never ends before it.
int MillisecondsUntil(PortDeadline deadline) {
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) {
        return 0;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<int>(std::min<long long>(ms, 1'000'000));
}

// Ok when `events` is ready; Failed on hang-up or error without the wanted readiness.
PortIo WaitFor(int fd, short events, PortDeadline deadline) {
    for (;;) {
        pollfd entry{fd, events, 0};
        const int ready = poll(&entry, 1, MillisecondsUntil(deadline));
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return PortIo::Failed;
        }
        if (ready == 0) {
            if (std::chrono::steady_clock::now() < deadline) {
                continue;
            }
            return PortIo::TimedOut;
        }
        if (entry.revents & POLLNVAL) {
            return PortIo::Failed;
        }
        if (entry.revents & events) {
            return PortIo::Ok;
        }
        return PortIo::Failed;
    }
}

int QueuedCount(int fd) {
    int queued = 0;
    if (ioctl(fd, FIONREAD, &queued) != 0 || queued <= 0) {
        return 0;
    }
    return std::min(queued, kMaxBlock);
}

// One read of everything queued (at least one byte is asked for, so a hang-up shows as 0 or
// an error). Ok with bytes, TimedOut when nothing was there after all, Failed when the port
// has gone.
PortIo ReadOnce(int fd, std::vector<std::uint8_t>& bytes) {
    bytes.resize(static_cast<std::size_t>(std::max(QueuedCount(fd), 1)));
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

}  // namespace

PortIo WriteByte(int fd, std::uint8_t byte, PortDeadline deadline) {
    for (;;) {
        const ssize_t n = write(fd, &byte, 1);
        if (n == 1) {
            break;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const PortIo ready = WaitFor(fd, POLLOUT, deadline);
            if (ready != PortIo::Ok) {
                return ready;
            }
            continue;
        }
        return PortIo::Failed;
    }
    while (tcdrain(fd) != 0) {
        if (errno != EINTR) {
            return PortIo::Failed;
        }
    }
    return PortIo::Ok;
}

PortIo ReadBlock(int fd, std::vector<std::uint8_t>& block, PortDeadline deadline) {
    for (;;) {
        const PortIo ready = WaitFor(fd, POLLIN, deadline);
        if (ready != PortIo::Ok) {
            return ready;
        }
        const PortIo read = ReadOnce(fd, block);
        // A spurious wake-up leaves nothing to read; wait again until the deadline.
        if (read != PortIo::TimedOut) {
            return read;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return PortIo::TimedOut;
        }
    }
}

PortIo ReadQueued(int fd, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    std::vector<std::uint8_t> block;
    while (QueuedCount(fd) > 0) {
        const PortIo read = ReadOnce(fd, block);
        if (read == PortIo::Failed) {
            return PortIo::Failed;
        }
        if (read == PortIo::TimedOut) {
            break;
        }
        bytes.insert(bytes.end(), block.begin(), block.end());
    }
    return PortIo::Ok;
}
