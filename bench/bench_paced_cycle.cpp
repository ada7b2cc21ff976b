// CPU of one poll cycle at the real pace (a request byte every 50 ms, one cycle a second):
// the run engine, against the least any program can do for the same traffic (raw system calls:
// two paced requests, two replies, four log lines, then sleep to the next second). Both talk to
// the simulated shaker on a pseudo-terminal; only the threads doing the work are counted, from
// the kernel's per-thread run time, so the simulator's own thread is left out. What a sleep and
// a wake-up cost depends on the machine: the floor tells how much of the engine's cost is the
// pacing itself.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "bench/bench_engine_run.h"
#include "link/frames.h"
#include "link/traffic_log.h"
#include "run/status_poller.h"
#include "sim/simulated_shaker.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kCycles = 10;

// Nanoseconds on a CPU so far, summed over this process's threads named `name`.
double ThreadRunNs(const std::string& name) {
    double total = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string taskName;
        std::getline(comm, taskName);
        if (taskName != name) {
            continue;
        }
        std::ifstream schedstat(task.path() / "schedstat");
        double ns = 0;
        schedstat >> ns;
        total += ns;
    }
    return total;
}

double OwnRunNs() {
    std::ifstream schedstat("/proc/thread-self/schedstat");
    double ns = 0;
    schedstat >> ns;
    return ns;
}

bool Exchange(int fd, int log, std::uint8_t code, int replyLength) {
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

// Milliseconds of CPU per cycle of the bare traffic; negative when it could not be run.
double FloorMsPerCycle() {
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
        int cycles = 0;
        for (; cycles < kCycles; ++cycles) {
            next += std::chrono::seconds(1);
            if (!Exchange(fd, log, kCodeStatus, StatusFrame::kLength) ||
                !Exchange(fd, log, kCodeRunState, RunStateFrame::kLength)) {
                break;
            }
            std::this_thread::sleep_until(next);
        }
        if (cycles == kCycles) {
            ms = (OwnRunNs() - before) / 1e6 / kCycles;
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

// The engine as the window drives it, less the painting: the poller thread and the thread that
// takes its notifications (record, journal line made durable).
double EngineMsPerCycle() {
    CBenchEngineRun run(CStatusPoller::kCyclePeriod, std::nullopt);
    // The first samples include the poller's start.
    run.WaitForSamples(2);
    const int first = run.Samples();
    const double before = OwnRunNs() + ThreadRunNs("velmora-poller");
    run.WaitForSamples(first + kCycles);
    return (OwnRunNs() + ThreadRunNs("velmora-poller") - before) / 1e6 / kCycles;
}

// Both in turn, in one process: the cost of each and the engine's share above the floor.
void BM_PacedCycle(benchmark::State& state) {
    for (auto _ : state) {
        const double floor = FloorMsPerCycle();
        const double engine = EngineMsPerCycle();
        if (floor <= 0 || engine <= 0) {
            state.SkipWithError("no pseudo-terminal, or an exchange failed");
            return;
        }
        state.counters["floor_ms"] = floor;
        state.counters["engine_ms"] = engine;
        state.counters["engine/floor"] = engine / floor;
        // One cycle a second: milliseconds per cycle are tenths of a percent of one core.
        state.counters["floor_core_%"] = floor / 10.0;
        state.counters["engine_core_%"] = engine / 10.0;
    }
}
BENCHMARK(BM_PacedCycle)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
