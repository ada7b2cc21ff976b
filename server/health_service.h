#pragma once

#include "health.grpc.pb.h"

// grpc.health.v1.Health for probes (grpc_health_probe, an orchestrator's): the server as a
// whole is SERVING while it runs; a named service is not known, as with gRPC's built-in
// service. Synchronous, like the server's other services: the built-in one runs on the
// callback API, whose completion queue keeps two threads of its own waking about twice a
// second each for as long as the server runs. Watch is not offered (UNIMPLEMENTED), which
// tells a client to ask with Check.
class CHealthService final : public grpc::health::v1::Health::Service {
  public:
    grpc::Status Check(grpc::ServerContext* context,
                       const grpc::health::v1::HealthCheckRequest* request,
                       grpc::health::v1::HealthCheckResponse* response) override;
};
