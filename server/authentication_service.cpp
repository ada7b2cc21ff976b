#include "server/authentication_service.h"

#include <QString>

#include "server/call_log.h"
#include "server/client_text.h"
#include "server/feature_definitions.h"
#include "server/login_throttle.h"
#include "server/sila_error.h"
#include "server/token_registry.h"
#include "server/user_file.h"

namespace au = sila2::org::silastandard::core::authenticationservice::v1;

namespace {

const std::string kFeature = kAuthenticationServiceFeature;

bool IsImplementedFeature(const std::string& identifier) {
    // Identifiers differ in more than case, so clients may write them in any case.
    for (const auto& feature : ImplementedFeatureDefinitions()) {
        if (QString::fromStdString(feature.identifier)
                .compare(QString::fromStdString(identifier), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

grpc::Status Failed(const std::string& message) {
    return sila_error::Defined(kFeature + "/DefinedExecutionError/AuthenticationFailed", message);
}

}  // namespace

CAuthenticationService::CAuthenticationService(std::string usersFile, std::string serverUuid,
                                               CTokenRegistry& tokens, CLoginThrottle& throttle,
                                               CCallLog& log)
    : m_usersFile(std::move(usersFile)),
      m_serverUuid(std::move(serverUuid)),
      m_tokens(tokens),
      m_throttle(throttle),
      m_log(log) {}

// Who tried, in the audit trail: the name when it can be a user's.
static std::string AuditedName(const std::string& name) {
    return name.empty() ? "unknown" : name;
}

grpc::Status CAuthenticationService::Login(grpc::ServerContext* context,
                                           const au::Login_Parameters* request,
                                           au::Login_Responses* response) {
    const std::string& name = request->useridentification().value();
    const std::string logged = "Login " + CleanForLog(name);
    // Only a name that can be a user's is remembered: any other is judged by its address.
    const std::string throttled = IsValidUserName(name) ? name : std::string();

    const std::string& server = request->requestedserver().value();
    if (QString::fromStdString(server).compare(QString::fromStdString(m_serverUuid),
                                               Qt::CaseInsensitive) != 0) {
        m_log.Audited(context, "login refused", logged + ": refused, for another server",
                      AuditedName(throttled));
        return Failed("This is not the server '" + EchoLimit(server) + "': its UUID is " +
                      m_serverUuid + ".");
    }
    for (const auto& feature : request->requestedfeatures()) {
        if (!IsImplementedFeature(feature.value())) {
            m_log.Audited(context, "login refused",
                          logged + ": refused, for a feature not implemented here",
                          AuditedName(throttled));
            return Failed("This server implements no feature '" + EchoLimit(feature.value()) +
                          "'.");
        }
    }
    m_log.Seen(context);
    const PasswordCheck check = CheckPassword(name, request->password().value(), context->peer());
    if (check.tokenFailed)
        return sila_error::Undefined(check.refusal);
    if (check.token.empty())
        return Failed(check.refusal);
    const std::string& token = check.token;
    response->mutable_accesstoken()->set_value(token);
    response->mutable_tokenlifetime()->set_value(CTokenRegistry::kLifetime.count());
    return grpc::Status::OK;
}

CAuthenticationService::PasswordCheck CAuthenticationService::CheckPassword(
    const std::string& name, const std::string& password, const std::string& peer) {
    const std::string logged = "Login " + CleanForLog(name);
    const std::string address = PeerAddress(peer);
    const std::string throttled = IsValidUserName(name) ? name : std::string();
    PasswordCheck check;
    if (const auto wait = m_throttle.Begin(throttled, address); wait.count() > 0) {
        m_log.Audited(peer, "login refused", logged + ": refused, too many failed logins",
                      AuditedName(throttled));
        check.refusal = "Too many failed logins for this user or from this address: wait " +
                        std::to_string(wait.count()) + " s before trying again.";
        return check;
    }
    if (!CheckUserPassword(m_usersFile, name, password)) {
        m_throttle.Failed(throttled, address);
        m_log.Audited(peer, "login refused", logged + ": wrong user name or password",
                      AuditedName(throttled));
        check.refusal = "The user name or the password is wrong.";
        return check;
    }
    m_throttle.Succeeded(throttled, address);
    check.token = m_tokens.Issue(name);
    if (check.token.empty()) {
        m_log.Audited(peer, "login refused", logged + ": no token could be made",
                      AuditedName(throttled));
        check.refusal = "No access token could be made; try again.";
        check.tokenFailed = true;
        return check;
    }
    m_log.Audited(peer, "login", logged + ": logged in", AuditedName(throttled));
    return check;
}

grpc::Status CAuthenticationService::Logout(grpc::ServerContext* context,
                                            const au::Logout_Parameters* request,
                                            au::Logout_Responses*) {
    const auto user = m_tokens.Revoke(request->accesstoken().value());
    if (!user) {
        m_log.Audited(context, "logout", "Logout: unknown access token", std::string());
        return sila_error::Defined(kFeature + "/DefinedExecutionError/InvalidAccessToken",
                                   "The access token is unknown, expired or already revoked.");
    }
    m_log.Audited(context, "logout", "Logout " + CleanForLog(*user), *user);
    return grpc::Status::OK;
}
