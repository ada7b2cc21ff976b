// CPU of one poll cycle at the real pace (a request byte every 50 ms, one cycle a second):
// the run engine, against the least any program can do for the same traffic (bench_floor.h).
// Both talk to the simulated shaker on a pseudo-terminal; only the threads doing the work are
// counted, from the kernel's per-thread run time, so the simulator's own thread is left out.
#include <benchmark/benchmark.h>

#include <optional>

#include "bench/bench_engine_run.h"
#include "bench/bench_floor.h"
#include "run/status_poller.h"

namespace {

using bench_floor::FloorMsPerCycle;
using bench_floor::OwnRunNs;
using bench_floor::ThreadRunNs;
constexpr int kCycles = 10;

struct EngineCost {
    double poller = 0;
    double record = 0;
    double journal = 0;
    double Total() const { return poller + record + journal; }
};

// The engine as the window drives it, less the painting: the poller thread, the thread that
// takes its notifications (the record) and the journal's (each line made durable), in ms a
// cycle each.
EngineCost EngineMsPerCycle() {
    CBenchEngineRun run(CStatusPoller::kCyclePeriod, std::nullopt);
    // The first samples include the poller's start.
    run.WaitForSamples(2);
    const int first = run.Samples();
    const auto costs = [] {
        return EngineCost{ThreadRunNs("velmora-poller"), OwnRunNs(),
                          ThreadRunNs("velmora-journal")};
    };
    const EngineCost before = costs();
    run.WaitForSamples(first + kCycles);
    const EngineCost after = costs();
    const auto perCycle = [](double ns) { return ns / 1e6 / kCycles; };
    return {perCycle(after.poller - before.poller), perCycle(after.record - before.record),
            perCycle(after.journal - before.journal)};
}

// Both in turn, in one process: the cost of each and the engine's share above the floor.
void BM_PacedCycle(benchmark::State& state) {
    for (auto _ : state) {
        const double floor = FloorMsPerCycle(kCycles);
        const EngineCost cost = EngineMsPerCycle();
        const double engine = cost.Total();
        if (floor <= 0 || engine <= 0) {
            state.SkipWithError("no pseudo-terminal, or an exchange failed");
            return;
        }
        state.counters["floor_ms"] = floor;
        state.counters["engine_ms"] = engine;
        state.counters["engine/floor"] = engine / floor;
        state.counters["poller_ms"] = cost.poller;
        state.counters["record_ms"] = cost.record;
        state.counters["journal_ms"] = cost.journal;
        // One cycle a second: milliseconds per cycle are tenths of a percent of one core.
        state.counters["floor_core_%"] = floor / 10.0;
        state.counters["engine_core_%"] = engine / 10.0;
    }
}
BENCHMARK(BM_PacedCycle)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
