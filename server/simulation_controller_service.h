#pragma once

#include "SimulationController.grpc.pb.h"

class CAccessGuard;
class CCallLog;
class CShakerBackend;

// The SimulationController feature on the shaker backend.
class CSimulationControllerService final
    : public sila2::org::silastandard::core::simulationcontroller::v1::SimulationController::
          Service {
  public:
    CSimulationControllerService(CShakerBackend& backend, CCallLog& log, CAccessGuard& guard);

  private:
    CShakerBackend& m_backend;
    CCallLog& m_log;
    CAccessGuard& m_guard;
};
