#pragma once

#include <grpcpp/support/status.h>

#include <string>

#include "SiLAFramework.pb.h"

// The only error shape a SiLA 2 client understands: status ABORTED whose message is a
// serialized SiLAError in base64. Every failure of a call leaves the server as one of these.
namespace sila_error {

// A parameter's value was refused before anything ran; `parameter` is its fully qualified
// identifier.
grpc::Status Validation(const std::string& parameter, const std::string& message);
// An error the feature definition lists; `identifier` is fully qualified.
grpc::Status Defined(const std::string& identifier, const std::string& message);
grpc::Status Undefined(const std::string& message);
grpc::Status Framework(sila2::org::silastandard::FrameworkError::ErrorType type,
                       const std::string& message);

// The SiLAError a status carries; false for a status of any other shape.
bool Decode(const grpc::Status& status, sila2::org::silastandard::SiLAError& error);

}  // namespace sila_error
