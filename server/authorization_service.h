#pragma once

#include "AuthorizationService.grpc.pb.h"

class CCallLog;

// The AuthorizationService feature: which calls need the access token.
class CAuthorizationService final : public sila2::org::silastandard::core::authorizationservice::
                                        v1::AuthorizationService::Service {
  public:
    explicit CAuthorizationService(CCallLog& log);

    grpc::Status Get_FCPAffectedByMetadata_AccessToken(
        grpc::ServerContext* context,
        const sila2::org::silastandard::core::authorizationservice::v1::
            Get_FCPAffectedByMetadata_AccessToken_Parameters* request,
        sila2::org::silastandard::core::authorizationservice::v1::
            Get_FCPAffectedByMetadata_AccessToken_Responses* response) override;

  private:
    CCallLog& m_log;
};
