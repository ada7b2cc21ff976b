#include "server/simulation_controller_service.h"

CSimulationControllerService::CSimulationControllerService(CShakerBackend& backend, CCallLog& log,
                                                           CAccessGuard& guard)
    : m_backend(backend), m_log(log), m_guard(guard) {}
