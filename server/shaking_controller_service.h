#pragma once

#include "ShakingController.grpc.pb.h"

class CAccessGuard;
class CCallLog;
class CStreamGate;
class CShakerBackend;

// The ShakingController feature on the shaker backend.
class CShakingControllerService final
    : public sila2::org::velmora::instruments::shakingcontroller::v1::ShakingController::Service {
  public:
    CShakingControllerService(CShakerBackend& backend, CCallLog& log, CAccessGuard& guard,
                              CStreamGate& streams);

    grpc::Status StartShaking(
        grpc::ServerContext* context,
        const sila2::org::velmora::instruments::shakingcontroller::v1::StartShaking_Parameters*
            request,
        sila2::org::silastandard::CommandConfirmation* response) override;
    grpc::Status StartShaking_Info(
        grpc::ServerContext* context, const sila2::org::silastandard::CommandExecutionUUID* request,
        grpc::ServerWriter<sila2::org::silastandard::ExecutionInfo>* writer) override;
    grpc::Status StartShaking_Intermediate(
        grpc::ServerContext* context, const sila2::org::silastandard::CommandExecutionUUID* request,
        grpc::ServerWriter<sila2::org::velmora::instruments::shakingcontroller::v1::
                               StartShaking_IntermediateResponses>* writer) override;
    grpc::Status StartShaking_Result(
        grpc::ServerContext* context, const sila2::org::silastandard::CommandExecutionUUID* request,
        sila2::org::velmora::instruments::shakingcontroller::v1::StartShaking_Responses* response)
        override;
    grpc::Status StopShaking(
        grpc::ServerContext* context,
        const sila2::org::velmora::instruments::shakingcontroller::v1::StopShaking_Parameters*
            request,
        sila2::org::velmora::instruments::shakingcontroller::v1::StopShaking_Responses* response)
        override;
    grpc::Status Subscribe_CurrentSpeed(
        grpc::ServerContext* context,
        const sila2::org::velmora::instruments::shakingcontroller::v1::
            Subscribe_CurrentSpeed_Parameters* request,
        grpc::ServerWriter<sila2::org::velmora::instruments::shakingcontroller::v1::
                               Subscribe_CurrentSpeed_Responses>* writer) override;
    grpc::Status Subscribe_RemainingTime(
        grpc::ServerContext* context,
        const sila2::org::velmora::instruments::shakingcontroller::v1::
            Subscribe_RemainingTime_Parameters* request,
        grpc::ServerWriter<sila2::org::velmora::instruments::shakingcontroller::v1::
                               Subscribe_RemainingTime_Responses>* writer) override;
    grpc::Status Subscribe_Running(
        grpc::ServerContext* context,
        const sila2::org::velmora::instruments::shakingcontroller::v1::Subscribe_Running_Parameters*
            request,
        grpc::ServerWriter<
            sila2::org::velmora::instruments::shakingcontroller::v1::Subscribe_Running_Responses>*
            writer) override;
    grpc::Status Subscribe_Alarms(
        grpc::ServerContext* context,
        const sila2::org::velmora::instruments::shakingcontroller::v1::Subscribe_Alarms_Parameters*
            request,
        grpc::ServerWriter<
            sila2::org::velmora::instruments::shakingcontroller::v1::Subscribe_Alarms_Responses>*
            writer) override;
    grpc::Status Get_DeviceId(
        grpc::ServerContext* context,
        const sila2::org::velmora::instruments::shakingcontroller::v1::Get_DeviceId_Parameters*
            request,
        sila2::org::velmora::instruments::shakingcontroller::v1::Get_DeviceId_Responses* response)
        override;
    grpc::Status Get_DeviceType(
        grpc::ServerContext* context,
        const sila2::org::velmora::instruments::shakingcontroller::v1::Get_DeviceType_Parameters*
            request,
        sila2::org::velmora::instruments::shakingcontroller::v1::Get_DeviceType_Responses* response)
        override;
    grpc::Status Get_MinimumSpeed(
        grpc::ServerContext* context,
        const sila2::org::velmora::instruments::shakingcontroller::v1::Get_MinimumSpeed_Parameters*
            request,
        sila2::org::velmora::instruments::shakingcontroller::v1::Get_MinimumSpeed_Responses*
            response) override;
    grpc::Status Get_MaximumSpeed(
        grpc::ServerContext* context,
        const sila2::org::velmora::instruments::shakingcontroller::v1::Get_MaximumSpeed_Parameters*
            request,
        sila2::org::velmora::instruments::shakingcontroller::v1::Get_MaximumSpeed_Responses*
            response) override;

  private:
    CShakerBackend& m_backend;
    CCallLog& m_log;
    CAccessGuard& m_guard;
    CStreamGate& m_streams;
};
