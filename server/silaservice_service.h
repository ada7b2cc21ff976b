#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "SiLAService.grpc.pb.h"

class CAccessGuard;
class CCallLog;

// The SiLAService feature: the server's identity and the definitions of its features.
class CSiLAServiceService final
    : public sila2::org::silastandard::core::silaservice::v1::SiLAService::Service {
  public:
    struct Identity {
        std::string name;
        std::string uuid;
        std::string type;
        std::string description;
        std::string version;
        std::string vendorUrl;
    };
    // `rename` is told every new name (to store it and announce it); false when it can't be
    // kept.
    CSiLAServiceService(Identity identity, CCallLog& log,
                        std::function<bool(const std::string&)> rename, CAccessGuard& guard);

    std::string Name() const;

    grpc::Status GetFeatureDefinition(
        grpc::ServerContext* context,
        const sila2::org::silastandard::core::silaservice::v1::GetFeatureDefinition_Parameters*
            request,
        sila2::org::silastandard::core::silaservice::v1::GetFeatureDefinition_Responses* response)
        override;
    grpc::Status SetServerName(
        grpc::ServerContext* context,
        const sila2::org::silastandard::core::silaservice::v1::SetServerName_Parameters* request,
        sila2::org::silastandard::core::silaservice::v1::SetServerName_Responses* response)
        override;
    grpc::Status Get_ServerName(
        grpc::ServerContext* context,
        const sila2::org::silastandard::core::silaservice::v1::Get_ServerName_Parameters* request,
        sila2::org::silastandard::core::silaservice::v1::Get_ServerName_Responses* response)
        override;
    grpc::Status Get_ServerType(
        grpc::ServerContext* context,
        const sila2::org::silastandard::core::silaservice::v1::Get_ServerType_Parameters* request,
        sila2::org::silastandard::core::silaservice::v1::Get_ServerType_Responses* response)
        override;
    grpc::Status Get_ServerUUID(
        grpc::ServerContext* context,
        const sila2::org::silastandard::core::silaservice::v1::Get_ServerUUID_Parameters* request,
        sila2::org::silastandard::core::silaservice::v1::Get_ServerUUID_Responses* response)
        override;
    grpc::Status Get_ServerDescription(
        grpc::ServerContext* context,
        const sila2::org::silastandard::core::silaservice::v1::Get_ServerDescription_Parameters*
            request,
        sila2::org::silastandard::core::silaservice::v1::Get_ServerDescription_Responses* response)
        override;
    grpc::Status Get_ServerVersion(
        grpc::ServerContext* context,
        const sila2::org::silastandard::core::silaservice::v1::Get_ServerVersion_Parameters*
            request,
        sila2::org::silastandard::core::silaservice::v1::Get_ServerVersion_Responses* response)
        override;
    grpc::Status Get_ServerVendorURL(
        grpc::ServerContext* context,
        const sila2::org::silastandard::core::silaservice::v1::Get_ServerVendorURL_Parameters*
            request,
        sila2::org::silastandard::core::silaservice::v1::Get_ServerVendorURL_Responses* response)
        override;
    grpc::Status Get_ImplementedFeatures(
        grpc::ServerContext* context,
        const sila2::org::silastandard::core::silaservice::v1::Get_ImplementedFeatures_Parameters*
            request,
        sila2::org::silastandard::core::silaservice::v1::Get_ImplementedFeatures_Responses*
            response) override;

  private:
    Identity m_identity;  // the name under m_mutex; the rest never changes
    CCallLog& m_log;
    std::function<bool(const std::string&)> m_rename;
    CAccessGuard& m_guard;
    mutable std::mutex m_mutex;  // guards m_identity.name
};
