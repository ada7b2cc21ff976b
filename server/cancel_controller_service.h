#pragma once

#include "CancelController.grpc.pb.h"

class CAccessGuard;
class CCallLog;
class CShakerBackend;

// The CancelController feature on the shaker backend: a StartShaking execution is cancelled
// by stopping its run as StopShaking does.
class CCancelControllerService final : public sila2::org::silastandard::core::commands::
                                           cancelcontroller::v1::CancelController::Service {
  public:
    CCancelControllerService(CShakerBackend& backend, CCallLog& log, CAccessGuard& guard);

    grpc::Status CancelCommand(
        grpc::ServerContext* context,
        const sila2::org::silastandard::core::commands::cancelcontroller::v1::
            CancelCommand_Parameters* request,
        sila2::org::silastandard::core::commands::cancelcontroller::v1::CancelCommand_Responses*
            response) override;
    grpc::Status CancelAll(
        grpc::ServerContext* context,
        const sila2::org::silastandard::core::commands::cancelcontroller::v1::CancelAll_Parameters*
            request,
        sila2::org::silastandard::core::commands::cancelcontroller::v1::CancelAll_Responses*
            response) override;

  private:
    // Stops the run of the execution in progress; `uuid` empty: whichever that is. `what` is
    // the log line's beginning.
    grpc::Status Cancel(grpc::ServerContext* context, const std::string& uuid,
                        const std::string& what);

    CShakerBackend& m_backend;
    CCallLog& m_log;
    CAccessGuard& m_guard;
};
