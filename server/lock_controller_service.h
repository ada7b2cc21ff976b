#pragma once

#include "LockController.grpc.pb.h"

class CAccessGuard;
class CCallLog;
class CServerLock;

// The LockController feature: one client locks the server for itself, so that the other
// clients can watch but not change it.
class CLockControllerService final
    : public sila2::org::silastandard::core::lockcontroller::v1::LockController::Service {
  public:
    CLockControllerService(CServerLock& lock, CAccessGuard& guard, CCallLog& log);

    grpc::Status LockServer(
        grpc::ServerContext* context,
        const sila2::org::silastandard::core::lockcontroller::v1::LockServer_Parameters* request,
        sila2::org::silastandard::core::lockcontroller::v1::LockServer_Responses* response)
        override;
    grpc::Status UnlockServer(
        grpc::ServerContext* context,
        const sila2::org::silastandard::core::lockcontroller::v1::UnlockServer_Parameters* request,
        sila2::org::silastandard::core::lockcontroller::v1::UnlockServer_Responses* response)
        override;
    grpc::Status Get_IsLocked(
        grpc::ServerContext* context,
        const sila2::org::silastandard::core::lockcontroller::v1::Get_IsLocked_Parameters* request,
        sila2::org::silastandard::core::lockcontroller::v1::Get_IsLocked_Responses* response)
        override;
    grpc::Status Get_FCPAffectedByMetadata_LockIdentifier(
        grpc::ServerContext* context,
        const sila2::org::silastandard::core::lockcontroller::v1::
            Get_FCPAffectedByMetadata_LockIdentifier_Parameters* request,
        sila2::org::silastandard::core::lockcontroller::v1::
            Get_FCPAffectedByMetadata_LockIdentifier_Responses* response) override;

  private:
    CServerLock& m_lock;
    CAccessGuard& m_guard;
    CCallLog& m_log;
};
