#include "server/instrument_source.h"

#include <QString>
#include <QtGlobal>

#include "sim/simulated_shaker.h"

CInstrumentSource::CInstrumentSource(std::string port, int baud) : m_baud(baud) {
    if (QString::fromStdString(port).compare("simulator", Qt::CaseInsensitive) != 0)
        m_realPort = PortChoice{std::move(port), baud};
    if (const int unitMs = qEnvironmentVariableIntValue("VELMORA_SIM_UNIT_MS"); unitMs > 0)
        m_simulatorUnit = std::chrono::milliseconds(unitMs);
}

CInstrumentSource::~CInstrumentSource() = default;

std::optional<PortChoice> CInstrumentSource::Port(bool simulated) {
    if (!simulated)
        return m_realPort;
    if (!m_simulator) {
        SimOptions options;
        options.noise = 2;
        options.timeUnit = m_simulatorUnit;
        auto simulator = std::make_unique<CSimulatedShaker>(options);
        if (!simulator->Start())
            return std::nullopt;
        m_simulator = std::move(simulator);
    }
    return PortChoice{m_simulator->SlavePath(), m_baud};
}

std::chrono::milliseconds CInstrumentSource::TimeUnit(bool simulated) const {
    return simulated ? m_simulatorUnit : std::chrono::milliseconds(1000);
}
