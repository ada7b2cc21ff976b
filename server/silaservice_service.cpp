#include "server/silaservice_service.h"

#include <QString>

#include "server/access_guard.h"
#include "server/call_log.h"
#include "server/client_text.h"
#include "server/feature_definitions.h"
#include "server/sila_error.h"

namespace sv = sila2::org::silastandard::core::silaservice::v1;

namespace {

const std::string kFeature = kSiLAServiceFeature;
const std::string kServerNameParameter = kFeature + "/Command/SetServerName/Parameter/ServerName";
constexpr std::size_t kMaxNameCharacters = 255;

}  // namespace

CSiLAServiceService::CSiLAServiceService(Identity identity, CCallLog& log,
                                         std::function<bool(const std::string&)> rename,
                                         CAccessGuard& guard)
    : m_identity(std::move(identity)), m_log(log), m_rename(std::move(rename)), m_guard(guard) {}

std::string CSiLAServiceService::Name() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_identity.name;
}

grpc::Status CSiLAServiceService::GetFeatureDefinition(
    grpc::ServerContext* context, const sv::GetFeatureDefinition_Parameters* request,
    sv::GetFeatureDefinition_Responses* response) {
    const std::string& wanted = request->featureidentifier().value();
    m_log.Command(context, "GetFeatureDefinition " + CleanForLog(wanted));
    // Identifiers differ in more than case, so clients may write them in any case.
    for (const auto& feature : ImplementedFeatureDefinitions()) {
        if (feature.identifier.size() == wanted.size() &&
            QString::fromStdString(feature.identifier)
                    .compare(QString::fromStdString(wanted), Qt::CaseInsensitive) == 0) {
            response->mutable_featuredefinition()->set_value(feature.xml);
            return grpc::Status::OK;
        }
    }
    // Whatever came in, the answer stays small enough for the status it travels in.
    return sila_error::Defined(kFeature + "/DefinedExecutionError/UnimplementedFeature",
                               "This server implements no feature '" + EchoLimit(wanted) + "'.");
}

grpc::Status CSiLAServiceService::SetServerName(grpc::ServerContext* context,
                                                const sv::SetServerName_Parameters* request,
                                                sv::SetServerName_Responses*) {
    Admission admission;
    if (const grpc::Status admitted = m_guard.Admit(context, Guard::TokenAndLock, admission);
        !admitted.ok()) {
        m_log.Audited(context, "rename",
                      "SetServerName refused: no valid access token or lock identifier",
                      admission.user);
        return admitted;
    }
    const std::string& name = request->servername().value();
    const std::string by = admission.user.empty() ? "" : " by " + CleanForLog(admission.user);
    const std::string logged = CleanForLog(name);
    // The name goes out in the discovery record and into clients' lists and logs: text only.
    const auto characters = PlainTextLength(name);
    if (!characters) {
        m_log.Audited(context, "rename",
                      "SetServerName" + by + " refused (not plain text): " + logged,
                      admission.user);
        return sila_error::Validation(
            kServerNameParameter,
            "The name must be UTF-8 text without control characters (line breaks, tabs, "
            "escapes).");
    }
    if (*characters > kMaxNameCharacters) {
        m_log.Audited(context, "rename", "SetServerName" + by + " refused (too long): " + logged,
                      admission.user);
        return sila_error::Validation(kServerNameParameter,
                                      "The name is longer than 255 characters.");
    }
    m_log.Audited(context, "rename", "SetServerName" + by + ": " + logged, admission.user);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_identity.name = name;
    }
    if (m_rename && !m_rename(name))
        return sila_error::Undefined("The new name is in use but could not be stored.");
    return grpc::Status::OK;
}

grpc::Status CSiLAServiceService::Get_ServerName(grpc::ServerContext* context,
                                                 const sv::Get_ServerName_Parameters*,
                                                 sv::Get_ServerName_Responses* response) {
    m_log.Seen(context);
    response->mutable_servername()->set_value(Name());
    return grpc::Status::OK;
}

grpc::Status CSiLAServiceService::Get_ServerType(grpc::ServerContext* context,
                                                 const sv::Get_ServerType_Parameters*,
                                                 sv::Get_ServerType_Responses* response) {
    m_log.Seen(context);
    response->mutable_servertype()->set_value(m_identity.type);
    return grpc::Status::OK;
}

grpc::Status CSiLAServiceService::Get_ServerUUID(grpc::ServerContext* context,
                                                 const sv::Get_ServerUUID_Parameters*,
                                                 sv::Get_ServerUUID_Responses* response) {
    m_log.Seen(context);
    response->mutable_serveruuid()->set_value(m_identity.uuid);
    return grpc::Status::OK;
}

grpc::Status CSiLAServiceService::Get_ServerDescription(
    grpc::ServerContext* context, const sv::Get_ServerDescription_Parameters*,
    sv::Get_ServerDescription_Responses* response) {
    m_log.Seen(context);
    response->mutable_serverdescription()->set_value(m_identity.description);
    return grpc::Status::OK;
}

grpc::Status CSiLAServiceService::Get_ServerVersion(grpc::ServerContext* context,
                                                    const sv::Get_ServerVersion_Parameters*,
                                                    sv::Get_ServerVersion_Responses* response) {
    m_log.Seen(context);
    response->mutable_serverversion()->set_value(m_identity.version);
    return grpc::Status::OK;
}

grpc::Status CSiLAServiceService::Get_ServerVendorURL(grpc::ServerContext* context,
                                                      const sv::Get_ServerVendorURL_Parameters*,
                                                      sv::Get_ServerVendorURL_Responses* response) {
    m_log.Seen(context);
    response->mutable_servervendorurl()->set_value(m_identity.vendorUrl);
    return grpc::Status::OK;
}

grpc::Status CSiLAServiceService::Get_ImplementedFeatures(
    grpc::ServerContext* context, const sv::Get_ImplementedFeatures_Parameters*,
    sv::Get_ImplementedFeatures_Responses* response) {
    m_log.Seen(context);
    for (const auto& feature : ImplementedFeatureDefinitions())
        response->add_implementedfeatures()->set_value(feature.identifier);
    return grpc::Status::OK;
}
