// The cost of one status exchange with the simulated shaker, with and without the 50 ms pause
// after every request byte, of the traffic log's lines, and of building and checking frames.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <vector>

#include "link/frames.h"
#include "link/serial_channel.h"
#include "link/shaker_protocol.h"
#include "link/traffic_log.h"
#include "sim/simulated_shaker.h"

namespace {

void BM_LinkStatusExchange(benchmark::State& state) {
    char pattern[] = "/tmp/velmora-bench-XXXXXX";
    const char* logDir = mkdtemp(pattern);
    SimOptions options;
    options.recordByteStamps = true;
    CSimulatedShaker shaker(options);
    if (logDir == nullptr || !shaker.Start()) {
        state.SkipWithError("no pseudo-terminal or temporary directory");
        return;
    }
    CSerialChannel channel;
    CShakerProtocol protocol(channel);
    channel.SetLogDirectory(logDir);
    channel.SetBytePause(std::chrono::milliseconds(state.range(0)));
    if (channel.Open(shaker.SlavePath(), CSerialChannel::kDefaultBaudRate) != 1) {
        state.SkipWithError("the simulator's port did not open");
    } else {
        std::vector<std::uint8_t> block;
        for (auto _ : state) {
            if (protocol.QueryStatus(block) != 1) {
                state.SkipWithError("status exchange failed");
                break;
            }
            benchmark::DoNotOptimize(block.data());
        }
        // The pacing as the instrument sees it: the shortest gap between two request bytes.
        const auto bytes = shaker.ReceivedBytes();
        double shortestMs = 0;
        for (std::size_t i = 1; i < bytes.size(); ++i) {
            const double gapMs =
                std::chrono::duration<double, std::milli>(bytes[i].at - bytes[i - 1].at).count();
            shortestMs = i == 1 ? gapMs : std::min(shortestMs, gapMs);
        }
        state.counters["min_byte_gap_ms"] = shortestMs;
    }
    channel.Close();
    shaker.Stop();
    std::error_code ignored;
    std::filesystem::remove_all(logDir, ignored);
}
BENCHMARK(BM_LinkStatusExchange)->Arg(0)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_LinkStatusExchange)
    ->Arg(50)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The log lines of one status exchange, as the channel writes them: the request, then the
// reply's start, its bytes and its line end.
const std::string kExchangeLines[] = {"Send:FE A2 00 00 00 A2 \r\n",
                                      "Receive:", "FE A2 01 2C 01 2A 00 06 00 05 05 ", "\r\n"};

// The log as the channel keeps it: open between lines.
void BM_LinkLogExchangeKeptOpen(benchmark::State& state) {
    char pattern[] = "/tmp/velmora-bench-XXXXXX";
    const char* logDir = mkdtemp(pattern);
    if (logDir == nullptr) {
        state.SkipWithError("no temporary directory");
        return;
    }
    CTrafficLog log;
    log.SetDirectory(logDir);
    log.Reset();
    for (auto _ : state) {
        for (const std::string& line : kExchangeLines) {
            log.Append(line);
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(logDir, ignored);
}
BENCHMARK(BM_LinkLogExchangeKeptOpen)->Unit(benchmark::kMicrosecond);

// For comparison: the file opened, appended to and closed for every line.
void BM_LinkLogExchangeReopenedPerLine(benchmark::State& state) {
    char pattern[] = "/tmp/velmora-bench-XXXXXX";
    const char* logDir = mkdtemp(pattern);
    if (logDir == nullptr) {
        state.SkipWithError("no temporary directory");
        return;
    }
    const std::string path = std::string(logDir) + "/" + CTrafficLog::kFileName;
    close(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    for (auto _ : state) {
        for (const std::string& line : kExchangeLines) {
            const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY);
            if (fd >= 0) {
                benchmark::DoNotOptimize(write(fd, line.data(), line.size()));
                close(fd);
            }
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(logDir, ignored);
}
BENCHMARK(BM_LinkLogExchangeReopenedPerLine)->Unit(benchmark::kMicrosecond);

void BM_LinkBuildCommand(benchmark::State& state) {
    int param = 0;
    for (auto _ : state) {
        auto frame = BuildCommand(kCodeSetSpeed, param++);
        benchmark::DoNotOptimize(frame);
    }
}
BENCHMARK(BM_LinkBuildCommand);

void BM_LinkStatusChecksum(benchmark::State& state) {
    std::vector<std::uint8_t> status = {0xFE, 0xA2, 0x01, 0x2C, 0x01, 0x2A,
                                        0x00, 0x06, 0x00, 0x05, 0x05};
    for (auto _ : state) {
        benchmark::DoNotOptimize(status.data());
        benchmark::DoNotOptimize(ChecksumMatches(status));
    }
}
BENCHMARK(BM_LinkStatusChecksum);

}  // namespace
