#pragma once

// The least CPU any program can spend on one poll cycle's traffic at the real pace (raw system
// calls: two paced requests, a byte every 50 ms, two replies, four log lines, then sleep to
// the next second), against the simulated shaker on a pseudo-terminal; and the per-thread run
// times the benchmarks compare with it. What a sleep and a wake-up cost depends on the machine:
// the floor, measured in the same process run, tells how much of a program's cost is the
// pacing itself.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "link/frames.h"
#include "link/traffic_log.h"
#include "sim/simulated_shaker.h"

namespace bench_floor {

// Nanoseconds on a CPU so far of one task of this process.
inline double TaskRunNs(const std::filesystem::path& task) {
    std::ifstream schedstat(task / "schedstat");
    double ns = 0;
    schedstat >> ns;
    return ns;
}

// Times one task of this process went to sleep so far: its wake-ups.
inline double TaskSleeps(const std::filesystem::path& task) {
    std::ifstream status(task / "status");
    const std::string key = "voluntary_ctxt_switches:";
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(key, 0) == 0) {
            return std::stod(line.substr(key.size()));
        }
    }
    return 0;
}

inline std::string TaskName(const std::filesystem::path& task) {
    std::ifstream comm(task / "comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

// Nanoseconds on a CPU so far, summed over this process's threads that `counted` accepts
// (by name and thread id).
inline double ThreadsRunNs(const std::function<bool(const std::string&, long)>& counted) {
    double total = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        if (counted(TaskName(task.path()), std::stol(task.path().filename().string()))) {
            total += TaskRunNs(task.path());
        }
    }
    return total;
}

// Summed over this process's threads named `name`.
inline double ThreadRunNs(const std::string& name) {
    return ThreadsRunNs([&name](const std::string& task, long) { return task == name; });
}

// The calling thread's.
inline double OwnRunNs() {
    return TaskRunNs("/proc/thread-self");
}

inline bool Exchange(int fd, int log, std::uint8_t code, int replyLength) {
    const auto request = BuildCommand(code, 0);
    const std::string sendLine = "Send:" + CTrafficLog::Hex(request.data(), 6) + "\r\n";
    if (write(log, sendLine.data(), sendLine.size()) < 0) {
        return false;
    }
    for (std::uint8_t byte : request) {
        if (write(fd, &byte, 1) != 1) {
            return false;
        }
        const timespec pause{0, 50'000'000};
        ppoll(nullptr, 0, &pause, nullptr);
    }
    std::uint8_t reply[64];
    int received = 0;
    while (received < replyLength) {
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, 2000) <= 0) {
            return false;
        }
        const ssize_t n = read(fd, reply + received, sizeof(reply) - received);
        if (n <= 0) {
            return false;
        }
        received += static_cast<int>(n);
    }
    const std::string receiveLine = "Receive:" + CTrafficLog::Hex(reply, received) + "\r\n";
    return write(log, receiveLine.data(), receiveLine.size()) >= 0;
}

// Cycles the programs' benchmarks measure the floor over: over ten, one cycle's stray
// interrupt or late wake moved it by a fifth from run to run.
constexpr int kFloorCycles = 20;

// Milliseconds of CPU per cycle of the bare traffic over `cycles` seconds; negative when it
// could not be run.
inline double FloorMsPerCycle(int cycles = kFloorCycles) {
    using Clock = std::chrono::steady_clock;
    QTemporaryDir folder;
    CSimulatedShaker shaker;
    const int fd = shaker.Start() ? open(shaker.SlavePath().c_str(), O_RDWR | O_NOCTTY) : -1;
    const int log = open((folder.path() + "/log.txt").toLocal8Bit().constData(),
                         O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    double ms = -1;
    if (fd >= 0 && log >= 0) {
        termios line{};
        tcgetattr(fd, &line);
        cfmakeraw(&line);
        tcsetattr(fd, TCSANOW, &line);
        auto next = Clock::now();
        const double before = OwnRunNs();
        int done = 0;
        for (; done < cycles; ++done) {
            next += std::chrono::seconds(1);
            if (!Exchange(fd, log, kCodeStatus, StatusFrame::kLength) ||
                !Exchange(fd, log, kCodeRunState, RunStateFrame::kLength)) {
                break;
            }
            std::this_thread::sleep_until(next);
        }
        if (done == cycles) {
            ms = (OwnRunNs() - before) / 1e6 / cycles;
        }
    }
    if (fd >= 0) {
        close(fd);
    }
    if (log >= 0) {
        close(log);
    }
    return ms;
}

}  // namespace bench_floor
