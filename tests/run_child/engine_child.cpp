// A program that runs the engine against its own simulated shaker and prints each sample's
// number once it is in the journal, for a test to kill mid-run.
#include <QCoreApplication>
#include <chrono>
#include <cstdio>

#include "run/run_controller.h"
#include "sim/simulated_shaker.h"

namespace {

struct Printer : IRunObserver {
    CRunController* engine = nullptr;
    void ConnectFinished(const ConnectOutcome& outcome) override {
        if (outcome.result != ConnectOutcome::Result::Connected) {
            QCoreApplication::exit(1);
            return;
        }
        engine->Start(300, 600);
    }
    void StartFinished(const StartOutcome& outcome) override {
        if (outcome.result != StartOutcome::Result::Started) {
            QCoreApplication::exit(1);
        }
    }
    void SampleRecorded(int number, int, int) override {
        std::printf("%d\n", number);
        std::fflush(stdout);
    }
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        return 1;
    }
    SimOptions options;
    options.timeUnit = std::chrono::milliseconds(100);
    CSimulatedShaker shaker(options);
    if (!shaker.Start()) {
        return 1;
    }
    Printer printer;
    CRunController engine(printer);
    printer.engine = &engine;
    engine.SetJournalFolder(argv[1] + std::string("/runs"));
    engine.SetCyclePeriod(std::chrono::milliseconds(50));
    engine.SetBytePause(std::chrono::milliseconds(0));
    engine.SetLogDirectory(argv[1]);
    engine.Connect(PortChoice{shaker.SlavePath(), 9600});
    return QCoreApplication::exec();
}
