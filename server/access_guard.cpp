#include "server/access_guard.h"

#include "AuthorizationService.pb.h"
#include "LockController.pb.h"
#include "server/feature_definitions.h"
#include "server/server_lock.h"
#include "server/sila_error.h"
#include "server/token_registry.h"
#include "server/user_file.h"

namespace {

namespace fw = sila2::org::silastandard;

constexpr const char* kTokenKey =
    "sila-org.silastandard-core-authorizationservice-v1-metadata-"
    "accesstoken-bin";
constexpr const char* kLockKey =
    "sila-org.silastandard-core-lockcontroller-v1-metadata-"
    "lockidentifier-bin";

std::string Command(const char* feature, const char* command) {
    return std::string(feature) + "/Command/" + command;
}

// The string a metadata entry carries; false when the call has none or it can't be read.
template <typename Message>
bool ReadMetadata(const grpc::ServerContext* context, const char* key,
                  const fw::String& (Message::*field)() const, bool (Message::*has)() const,
                  std::string& value) {
    const auto& metadata = context->client_metadata();
    const auto found = metadata.find(key);
    if (found == metadata.end())
        return false;
    Message message;
    if (!message.ParseFromArray(found->second.data(), static_cast<int>(found->second.size())) ||
        !(message.*has)())
        return false;
    value = (message.*field)().value();
    return true;
}

grpc::Status MissingMetadata(const std::string& what) {
    return sila_error::Framework(fw::FrameworkError::INVALID_METADATA, what);
}

}  // namespace

CAccessGuard::CAccessGuard(CTokenRegistry& tokens, CServerLock& lock, bool tokensRequired,
                           std::string usersFile)
    : m_tokens(tokens),
      m_lock(lock),
      m_tokensRequired(tokensRequired),
      m_usersFile(std::move(usersFile)) {}

grpc::Status CAccessGuard::Admit(const grpc::ServerContext* context, Guard guard,
                                 Admission& admission) {
    namespace az = sila2::org::silastandard::core::authorizationservice::v1;
    namespace lc = sila2::org::silastandard::core::lockcontroller::v1;
    admission = {};
    if (m_tokensRequired) {
        std::string token;
        if (!ReadMetadata<az::Metadata_AccessToken>(
                context, kTokenKey, &az::Metadata_AccessToken::accesstoken,
                &az::Metadata_AccessToken::has_accesstoken, token))
            return MissingMetadata(
                "This call needs an access token from Login, sent as the metadata " +
                std::string(kAuthorizationServiceFeature) + "/Metadata/AccessToken.");
        const auto user = UserOfToken(token);
        if (!user)
            return sila_error::Defined(
                std::string(kAuthorizationServiceFeature) +
                    "/DefinedExecutionError/InvalidAccessToken",
                "The access token is unknown, expired or revoked: log in again.");
        admission.user = *user;
    }

    admission.locked = m_lock.IsLocked();
    if (!admission.locked)
        return grpc::Status::OK;
    std::string identifier;
    const bool sent = ReadMetadata<lc::Metadata_LockIdentifier>(
        context, kLockKey, &lc::Metadata_LockIdentifier::lockidentifier,
        &lc::Metadata_LockIdentifier::has_lockidentifier, identifier);
    admission.lockHolder = sent && m_lock.Holds(identifier);
    if (guard != Guard::TokenAndLock || admission.lockHolder)
        return grpc::Status::OK;
    // The lock may have ended between the two looks; then the call needs no identifier.
    if (!m_lock.IsLocked()) {
        admission.locked = false;
        return grpc::Status::OK;
    }
    if (!sent)
        return MissingMetadata(
            "The server is locked: this call needs the lock identifier, sent "
            "as the metadata " +
            std::string(kLockControllerFeature) + "/Metadata/LockIdentifier.");
    return sila_error::Defined(
        std::string(kLockControllerFeature) + "/DefinedExecutionError/InvalidLockIdentifier",
        "The server is locked with another lock identifier.");
}

std::optional<std::string> CAccessGuard::UserOfToken(const std::string& token) {
    auto user = m_tokens.Use(token);
    // A user removed with --remove-user loses the logins of the running server too.
    if (user && !UserListed(*user)) {
        m_tokens.Revoke(token);
        user.reset();
    }
    return user;
}

bool CAccessGuard::Locked() {
    return m_lock.IsLocked();
}

bool CAccessGuard::UserListed(const std::string& user) const {
    CUserFile users(m_usersFile);
    return users.Load() && !users.HashOf(user).empty();
}

const std::vector<std::string>& CAccessGuard::TokenAffectedCalls() {
    static const std::vector<std::string> calls = {
        Command(kShakingControllerFeature, "StartShaking"),
        Command(kShakingControllerFeature, "StopShaking"),
        Command(kSiLAServiceFeature, "SetServerName"),
        Command(kLockControllerFeature, "LockServer"),
        Command(kLockControllerFeature, "UnlockServer"),
        Command(kCancelControllerFeature, "CancelCommand"),
        Command(kCancelControllerFeature, "CancelAll"),
        Command(kSimulationControllerFeature, "StartSimulationMode"),
        Command(kSimulationControllerFeature, "StartRealMode"),
    };
    return calls;
}

const std::vector<std::string>& CAccessGuard::LockAffectedCalls() {
    static const std::vector<std::string> calls = {
        Command(kShakingControllerFeature, "StartShaking"),
        Command(kSiLAServiceFeature, "SetServerName"),
        Command(kCancelControllerFeature, "CancelCommand"),
        Command(kCancelControllerFeature, "CancelAll"),
        Command(kSimulationControllerFeature, "StartSimulationMode"),
        Command(kSimulationControllerFeature, "StartRealMode"),
    };
    return calls;
}
