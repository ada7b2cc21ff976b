// A program that runs the engine against its own simulated shaker and prints each sample's
// number once it is in the journal, for a test to kill mid-run.
#include <QCoreApplication>
#include <chrono>
#include <cstdio>

#include "link/serial_channel.h"
#include "run/run_controller.h"
#include "sim/simulated_shaker.h"

namespace {

struct Printer : IRunObserver {
    std::string port;
    void ChoosePort(CSerialChannel& channel) override {
        channel.SetPortName(port);
        channel.SetBytePause(std::chrono::milliseconds(0));
    }
    void ShowInformation(int) override {}
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
    printer.port = shaker.SlavePath();
    CRunController engine(printer);
    engine.SetJournalFolder(argv[1] + std::string("/runs"));
    engine.SetCyclePeriod(std::chrono::milliseconds(50));
    CSerialChannel::Instance()->SetLogDirectory(argv[1]);
    engine.Connect();
    if (engine.Start(300, 600) != CRunController::StartOutcome::Started) {
        return 1;
    }
    return QCoreApplication::exec();
}
