#pragma once

#include "CancelController.grpc.pb.h"

class CAccessGuard;
class CCallLog;
class CShakerBackend;

// The CancelController feature on the shaker backend.
class CCancelControllerService final : public sila2::org::silastandard::core::commands::
                                           cancelcontroller::v1::CancelController::Service {
  public:
    CCancelControllerService(CShakerBackend& backend, CCallLog& log, CAccessGuard& guard);

  private:
    CShakerBackend& m_backend;
    CCallLog& m_log;
    CAccessGuard& m_guard;
};
