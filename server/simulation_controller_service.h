#pragma once

#include "SimulationController.grpc.pb.h"

class CAccessGuard;
class CCallLog;
class CShakerBackend;

// The SimulationController feature on the shaker backend: simulation mode runs the built-in
// simulated shaker in place of the instrument on the configured port.
class CSimulationControllerService final
    : public sila2::org::silastandard::core::simulationcontroller::v1::SimulationController::
          Service {
  public:
    CSimulationControllerService(CShakerBackend& backend, CCallLog& log, CAccessGuard& guard);

    grpc::Status StartSimulationMode(
        grpc::ServerContext* context,
        const sila2::org::silastandard::core::simulationcontroller::v1::
            StartSimulationMode_Parameters* request,
        sila2::org::silastandard::core::simulationcontroller::v1::StartSimulationMode_Responses*
            response) override;
    grpc::Status StartRealMode(
        grpc::ServerContext* context,
        const sila2::org::silastandard::core::simulationcontroller::v1::StartRealMode_Parameters*
            request,
        sila2::org::silastandard::core::simulationcontroller::v1::StartRealMode_Responses* response)
        override;
    grpc::Status Get_SimulationMode(
        grpc::ServerContext* context,
        const sila2::org::silastandard::core::simulationcontroller::v1::
            Get_SimulationMode_Parameters* request,
        sila2::org::silastandard::core::simulationcontroller::v1::Get_SimulationMode_Responses*
            response) override;

  private:
    grpc::Status Switch(grpc::ServerContext* context, bool simulated);

    CShakerBackend& m_backend;
    CCallLog& m_log;
    CAccessGuard& m_guard;
};
