// The run engine's CPU per poll cycle: a status and a run-state exchange with the simulated
// shaker (no byte pause), the notifications handed to the engine's thread, the record, the
// observer and a journal line made durable. Process CPU, so the simulator's thread counts too.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>

#include "bench/bench_engine_run.h"

namespace {

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void BM_EnginePollCycle(benchmark::State& state) {
    CBenchEngineRun run(std::chrono::milliseconds(100), std::chrono::milliseconds(0));
    const double cpuBefore = ProcessCpuSeconds();
    const int samplesBefore = run.Samples();
    for (auto _ : state) {
        run.WaitForSamples(run.Samples() + 1);
    }
    const int cycles = run.Samples() - samplesBefore;
    state.counters["cpu_us_per_cycle"] =
        cycles > 0 ? (ProcessCpuSeconds() - cpuBefore) * 1e6 / cycles : 0.0;
    // At one cycle a second, the share of one core the run costs.
    state.counters["core_percent_at_1Hz"] =
        cycles > 0 ? (ProcessCpuSeconds() - cpuBefore) / cycles * 100.0 : 0.0;
}
BENCHMARK(BM_EnginePollCycle)->Iterations(30)->Unit(benchmark::kMicrosecond);

}  // namespace
