#include "server/sila_error.h"

#include <QByteArray>

namespace sila_error {

namespace {

grpc::Status Abort(const sila2::org::silastandard::SiLAError& error) {
    const std::string bytes = error.SerializeAsString();
    const QByteArray encoded =
        QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())).toBase64();
    return grpc::Status(grpc::StatusCode::ABORTED, encoded.toStdString());
}

}  // namespace

grpc::Status Validation(const std::string& parameter, const std::string& message) {
    sila2::org::silastandard::SiLAError error;
    error.mutable_validationerror()->set_parameter(parameter);
    error.mutable_validationerror()->set_message(message);
    return Abort(error);
}

grpc::Status Defined(const std::string& identifier, const std::string& message) {
    sila2::org::silastandard::SiLAError error;
    error.mutable_definedexecutionerror()->set_erroridentifier(identifier);
    error.mutable_definedexecutionerror()->set_message(message);
    return Abort(error);
}

grpc::Status Undefined(const std::string& message) {
    sila2::org::silastandard::SiLAError error;
    error.mutable_undefinedexecutionerror()->set_message(message);
    return Abort(error);
}

grpc::Status Framework(sila2::org::silastandard::FrameworkError::ErrorType type,
                       const std::string& message) {
    sila2::org::silastandard::SiLAError error;
    error.mutable_frameworkerror()->set_errortype(type);
    error.mutable_frameworkerror()->set_message(message);
    return Abort(error);
}

bool Decode(const grpc::Status& status, sila2::org::silastandard::SiLAError& error) {
    if (status.error_code() != grpc::StatusCode::ABORTED)
        return false;
    const QByteArray raw = QByteArray::fromBase64(QByteArray::fromStdString(status.error_message()),
                                                  QByteArray::AbortOnBase64DecodingErrors);
    return !raw.isEmpty() && error.ParseFromArray(raw.constData(), static_cast<int>(raw.size()));
}

}  // namespace sila_error
