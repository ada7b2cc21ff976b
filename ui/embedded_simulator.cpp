#include "ui/embedded_simulator.h"

#include <memory>

#include "sim/simulated_shaker.h"

namespace {

// UI thread only: started from the port choice, stopped at exit.
std::unique_ptr<CSimulatedShaker>& Simulator() {
    static std::unique_ptr<CSimulatedShaker> simulator;
    return simulator;
}

}  // namespace

std::string CEmbeddedSimulator::StartAndGetPort() {
    auto& simulator = Simulator();
    if (!simulator) {
        SimOptions options;
        // A little noise so the graph looks like a real platform once the speed has settled.
        options.noise = 2;
        simulator = std::make_unique<CSimulatedShaker>(options);
    }
    if (!simulator->IsRunning() && !simulator->Start()) {
        simulator.reset();
        return {};
    }
    return simulator->SlavePath();
}

bool CEmbeddedSimulator::IsItsPort(const std::string& port) {
    const auto& simulator = Simulator();
    return simulator && simulator->IsRunning() && !port.empty() && simulator->SlavePath() == port;
}

void CEmbeddedSimulator::Shutdown() {
    Simulator().reset();
}
