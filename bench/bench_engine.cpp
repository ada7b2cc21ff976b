// The run engine's CPU per poll cycle: a status and a run-state exchange with the simulated
// shaker (no byte pause), the notifications handed to the engine's thread, the record, the
// observer and a journal line made durable. Process CPU, so the simulator's thread counts too.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <chrono>

#include "link/serial_channel.h"
#include "run/run_controller.h"
#include "sim/simulated_shaker.h"

namespace {

struct Quiet : IRunObserver {
    std::string port;
    int samples = 0;
    void ChoosePort(CSerialChannel& channel) override {
        channel.SetPortName(port);
        channel.SetBytePause(std::chrono::milliseconds(0));
    }
    void ShowInformation(int) override {}
    void SampleRecorded(int, int, int) override { ++samples; }
};

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void BM_EnginePollCycle(benchmark::State& state) {
    int argc = 0;
    QCoreApplication* app = QCoreApplication::instance();
    std::unique_ptr<QCoreApplication> own;
    if (app == nullptr) {
        own = std::make_unique<QCoreApplication>(argc, nullptr);
    }
    QTemporaryDir folder;
    SimOptions options;
    options.timeUnit = std::chrono::milliseconds(100000);
    CSimulatedShaker shaker(options);
    shaker.Start();
    Quiet observer;
    observer.port = shaker.SlavePath();
    CSerialChannel::Instance()->SetLogDirectory(folder.path().toStdString());
    {
        CRunController engine(observer);
        engine.SetJournalFolder((folder.path() + "/runs").toStdString());
        engine.SetCyclePeriod(std::chrono::milliseconds(100));
        engine.Connect();
        engine.Start(300, 60000);
        const double cpuBefore = ProcessCpuSeconds();
        const int samplesBefore = observer.samples;
        for (auto _ : state) {
            const int target = observer.samples + 1;
            while (observer.samples < target) {
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            }
        }
        const int cycles = observer.samples - samplesBefore;
        state.counters["cpu_us_per_cycle"] =
            cycles > 0 ? (ProcessCpuSeconds() - cpuBefore) * 1e6 / cycles : 0.0;
        // At one cycle a second, the share of one core the run costs.
        state.counters["core_percent_at_1Hz"] =
            cycles > 0 ? (ProcessCpuSeconds() - cpuBefore) / cycles * 100.0 : 0.0;
        engine.Stop(300);
        engine.Shutdown();
    }
    shaker.Stop();
}
BENCHMARK(BM_EnginePollCycle)->Iterations(30)->Unit(benchmark::kMicrosecond);

}  // namespace
