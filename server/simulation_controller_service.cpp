#include "server/simulation_controller_service.h"

#include "server/access_guard.h"
#include "server/admitted_user.h"
#include "server/call_log.h"
#include "server/feature_definitions.h"
#include "server/shaker_backend.h"
#include "server/sila_error.h"

namespace sim = sila2::org::silastandard::core::simulationcontroller::v1;

namespace {

const std::string kFeature = kSimulationControllerFeature;

}  // namespace

CSimulationControllerService::CSimulationControllerService(CShakerBackend& backend, CCallLog& log,
                                                           CAccessGuard& guard)
    : m_backend(backend), m_log(log), m_guard(guard) {}

grpc::Status CSimulationControllerService::StartSimulationMode(
    grpc::ServerContext* context, const sim::StartSimulationMode_Parameters*,
    sim::StartSimulationMode_Responses*) {
    return Switch(context, true);
}

grpc::Status CSimulationControllerService::StartRealMode(grpc::ServerContext* context,
                                                         const sim::StartRealMode_Parameters*,
                                                         sim::StartRealMode_Responses*) {
    return Switch(context, false);
}

grpc::Status CSimulationControllerService::Get_SimulationMode(
    grpc::ServerContext* context, const sim::Get_SimulationMode_Parameters*,
    sim::Get_SimulationMode_Responses* response) {
    m_log.Seen(context);
    response->mutable_simulationmode()->set_value(m_backend.Simulated());
    return grpc::Status::OK;
}

grpc::Status CSimulationControllerService::Switch(grpc::ServerContext* context, bool simulated) {
    std::string what = simulated ? "StartSimulationMode" : "StartRealMode";
    Admission admission;
    if (const grpc::Status admitted = m_guard.Admit(context, Guard::TokenAndLock, admission);
        !admitted.ok()) {
        m_log.Audited(context, "simulation mode", what + ": not admitted", admission.user);
        return admitted;
    }
    what += ByUser(admission);
    CShakerBackend::ModeSwitch result;
    if (!m_backend.Call([&](CRunController&) { result = m_backend.SwitchMode(simulated); })) {
        m_log.Audited(context, "simulation mode", what + ": refused, the server is going",
                      admission.user);
        return sila_error::Undefined("The server is shutting down.");
    }
    if (!result.refusal.empty()) {
        m_log.Audited(context, "simulation mode", what + ": refused: " + result.refusal,
                      admission.user);
        return sila_error::Defined(
            kFeature + "/DefinedExecutionError/" +
                (simulated ? "StartSimulationModeFailed" : "StartRealModeFailed"),
            result.refusal);
    }
    m_log.Audited(context, "simulation mode",
                  what + (result.switched ? simulated ? ": to the simulated shaker"
                                                      : ": back to the instrument's port"
                                          : ": in that mode already"),
                  admission.user);
    return grpc::Status::OK;
}
