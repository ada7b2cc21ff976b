#include "server/authorization_service.h"

#include "server/access_guard.h"
#include "server/call_log.h"

namespace az = sila2::org::silastandard::core::authorizationservice::v1;

CAuthorizationService::CAuthorizationService(CCallLog& log) : m_log(log) {}

grpc::Status CAuthorizationService::Get_FCPAffectedByMetadata_AccessToken(
    grpc::ServerContext* context, const az::Get_FCPAffectedByMetadata_AccessToken_Parameters*,
    az::Get_FCPAffectedByMetadata_AccessToken_Responses* response) {
    m_log.Seen(context);
    for (const auto& call : CAccessGuard::TokenAffectedCalls())
        response->add_affectedcalls()->set_value(call);
    return grpc::Status::OK;
}
