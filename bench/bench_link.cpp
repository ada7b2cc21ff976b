// The cost of one status exchange with the simulated shaker, with and without the 50 ms pause
// after every request byte, and of building and checking frames.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <vector>

#include "link/frames.h"
#include "link/serial_channel.h"
#include "sim/simulated_shaker.h"

namespace {

void BM_LinkStatusExchange(benchmark::State& state) {
    char pattern[] = "/tmp/velmora-bench-XXXXXX";
    const char* logDir = mkdtemp(pattern);
    CSimulatedShaker shaker;
    if (logDir == nullptr || !shaker.Start()) {
        state.SkipWithError("no pseudo-terminal or temporary directory");
        return;
    }
    CSerialChannel& channel = *CSerialChannel::Instance();
    channel.SetLogDirectory(logDir);
    channel.SetPortName(shaker.SlavePath());
    channel.SetBytePause(std::chrono::milliseconds(state.range(0)));
    if (channel.Open() != 1) {
        state.SkipWithError("the simulator's port did not open");
    } else {
        std::vector<std::uint8_t> block;
        for (auto _ : state) {
            if (channel.QueryStatus(block) != 1) {
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
    CSerialChannel::DestroyInstance();
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
