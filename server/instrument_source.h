#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "run/run_outcomes.h"

class CSimulatedShaker;

// Where the instrument is: the port named on the command line, or the simulated shaker the
// window offers as "Simulator", made in this process the first time it is asked for and kept
// from then on. Used on the engine's thread only.
class CInstrumentSource {
  public:
    // `port` as on the command line: a device path, COMn, or "simulator" (any case), which
    // starts in simulation and leaves no real port to go back to.
    CInstrumentSource(std::string port, int baud);
    ~CInstrumentSource();

    bool StartsSimulated() const { return !m_realPort; }
    bool HasRealPort() const { return m_realPort.has_value(); }
    // The port of the one mode or the other; none when there is no real port, or the
    // simulated shaker can't be made.
    std::optional<PortChoice> Port(bool simulated);
    // One unit of the instrument's remaining time: a second, or for the simulated shaker
    // VELMORA_SIM_UNIT_MS ms when set (a test seam: short runs).
    std::chrono::milliseconds TimeUnit(bool simulated) const;

  private:
    std::optional<PortChoice> m_realPort;
    int m_baud;
    std::chrono::milliseconds m_simulatorUnit{1000};
    std::unique_ptr<CSimulatedShaker> m_simulator;
};
