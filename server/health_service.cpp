#include "server/health_service.h"

grpc::Status CHealthService::Check(grpc::ServerContext* /*context*/,
                                   const grpc::health::v1::HealthCheckRequest* request,
                                   grpc::health::v1::HealthCheckResponse* response) {
    if (!request->service().empty()) {
        return {grpc::StatusCode::NOT_FOUND, "service name unknown"};
    }
    response->set_status(grpc::health::v1::HealthCheckResponse::SERVING);
    return grpc::Status::OK;
}
