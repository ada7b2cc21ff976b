// The run record and its export at the longest run (20 hours at one sample per second), and
// the poller's one-second cycle against the simulated shaker.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "link/frames.h"
#include "link/serial_channel.h"
#include "link/shaker_protocol.h"
#include "run/atomic_file_writer.h"
#include "run/record_export.h"
#include "run/run_record.h"
#include "run/status_poller.h"
#include "sim/simulated_shaker.h"

namespace {

constexpr std::uint32_t kLongestRunSamples = 72000;

CRunRecord LongestRun(std::uint32_t samples = kLongestRunSamples) {
    CRunRecord record;
    record.ResetSpeedExtent();
    for (std::uint32_t i = 0; i < samples; ++i) {
        record.AppendSpeed(295 + i % 11);
        record.AppendRemainingTime(samples - i);
    }
    return record;
}

std::string MakeTempDir() {
    char pattern[] = "/tmp/velmora-bench-XXXXXX";
    const char* dir = mkdtemp(pattern);
    return dir != nullptr ? dir : "";
}

// One status notification's worth: a speed and a remaining time. The record is emptied at
// the longest run's length, as a new Start would.
void BM_RecordAppendSample(benchmark::State& state) {
    CRunRecord record;
    record.ResetSpeedExtent();
    std::uint32_t sample = 0;
    std::size_t heapBytes = 0;
    for (auto _ : state) {
        record.AppendSpeed(295 + sample % 11);
        record.AppendRemainingTime(sample);
        if (++sample == kLongestRunSamples) {
            heapBytes = (record.SpeedSeries().capacity() + record.TimeSeries().capacity()) *
                        sizeof(std::uint32_t);
            record.ResetRecord();
            sample = 0;
        }
    }
    state.counters["heap_bytes_per_sample_at_72000"] =
        static_cast<double>(heapBytes) / kLongestRunSamples;
}
BENCHMARK(BM_RecordAppendSample);

void BM_RecordFormat72000(benchmark::State& state) {
    const CRunRecord record = LongestRun();
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::string content = FormatRecordExport(record, DeviceKW41);
        bytes = content.size();
        benchmark::DoNotOptimize(content.data());
    }
    state.counters["file_bytes_per_sample"] = static_cast<double>(bytes) / kLongestRunSamples;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_RecordFormat72000)->Unit(benchmark::kMillisecond);

// The whole save: format, write beside the target, fsync, rename over the previous file.
void BM_RecordExport72000(benchmark::State& state) {
    const CRunRecord record = LongestRun();
    const std::string dir = MakeTempDir();
    if (dir.empty()) {
        state.SkipWithError("no temporary directory");
        return;
    }
    const std::string target = dir + "/run.xls";
    for (auto _ : state) {
        if (ExportRecord(target, record, DeviceKW41) != 1) {
            state.SkipWithError("export failed");
            break;
        }
    }
    std::error_code ignored;
    const auto bytes = std::filesystem::file_size(target, ignored);
    state.counters["file_bytes_per_sample"] = static_cast<double>(bytes) / kLongestRunSamples;
    state.counters["samples_per_second"] =
        benchmark::Counter(kLongestRunSamples, benchmark::Counter::kIsIterationInvariantRate);
    std::filesystem::remove_all(dir, ignored);
}
BENCHMARK(BM_RecordExport72000)->Unit(benchmark::kMillisecond)->UseRealTime();

// The save of a million samples, as the program writes it (in pieces) and, for comparison,
// formatted whole into one string first. The counter is the largest block of the file held
// in memory at once.
void BM_RecordExportMillion(benchmark::State& state) {
    const bool whole = state.range(0) != 0;
    const CRunRecord record = LongestRun(1'000'000);
    const std::string dir = MakeTempDir();
    if (dir.empty()) {
        state.SkipWithError("no temporary directory");
        return;
    }
    const std::string target = dir + "/run.xls";
    std::size_t held = 64 * 1024;
    for (auto _ : state) {
        int result = 0;
        if (whole) {
            const std::string content = FormatRecordExport(record, DeviceKW41);
            held = content.size();
            result = ReplaceFileAtomically(target, content);
        } else {
            result = ExportRecord(target, record, DeviceKW41);
        }
        if (result != 1) {
            state.SkipWithError("export failed");
            break;
        }
    }
    state.SetLabel(whole ? "whole string" : "in pieces");
    state.counters["bytes_held"] = static_cast<double>(held);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}
BENCHMARK(BM_RecordExportMillion)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Ten seconds of polling at the real pace (50 ms after every request byte) with no receiver;
// the cycle starts are the times the shaker received the first byte of each status request.
void BM_PollerCycleTiming10s(benchmark::State& state) {
    const std::string logDir = MakeTempDir();
    SimOptions options;
    options.recordByteStamps = true;
    CSimulatedShaker shaker(options);
    if (logDir.empty() || !shaker.Start()) {
        state.SkipWithError("no pseudo-terminal or temporary directory");
        return;
    }
    CSerialChannel channel;
    CShakerProtocol protocol(channel);
    channel.SetLogDirectory(logDir);
    channel.SetBytePause(std::chrono::milliseconds(50));
    if (channel.Open(shaker.SlavePath(), CSerialChannel::kDefaultBaudRate) != 1) {
        state.SkipWithError("the simulator's port did not open");
    }

    std::vector<double> periodsMs;
    for (auto _ : state) {
        if (!channel.IsOpen()) {
            break;
        }
        CStatusPoller poller(protocol);
        poller.Start(1, {});
        std::this_thread::sleep_for(std::chrono::milliseconds(10500));
        poller.RequestStop();
        poller.Join();

        std::vector<std::chrono::steady_clock::time_point> starts;
        const auto bytes = shaker.ReceivedBytes();
        for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
            if (bytes[i].byte == kFrameStartByte && bytes[i + 1].byte == kCodeStatus) {
                starts.push_back(bytes[i].at);
            }
        }
        for (std::size_t i = 1; i < starts.size(); ++i) {
            periodsMs.push_back(
                std::chrono::duration<double, std::milli>(starts[i] - starts[i - 1]).count());
        }
    }
    channel.Close();
    shaker.Stop();
    std::error_code ignored;
    std::filesystem::remove_all(logDir, ignored);

    if (periodsMs.empty()) {
        return;
    }
    double sum = 0;
    double maxDeviation = 0;
    int skipped = 0;
    for (double period : periodsMs) {
        sum += period;
        maxDeviation = std::max(maxDeviation, std::abs(period - 1000.0));
        skipped += period > 1500.0 ? 1 : 0;
    }
    state.counters["cycles"] = static_cast<double>(periodsMs.size() + 1);
    state.counters["mean_period_ms"] = sum / static_cast<double>(periodsMs.size());
    state.counters["max_deviation_ms"] = maxDeviation;
    state.counters["skipped_cycles"] = skipped;
}
BENCHMARK(BM_PollerCycleTiming10s)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
