#include "server/lock_controller_service.h"

#include <cstdint>
#include <limits>

#include "server/access_guard.h"
#include "server/admitted_user.h"
#include "server/call_log.h"
#include "server/client_text.h"
#include "server/feature_definitions.h"
#include "server/server_lock.h"
#include "server/sila_error.h"

namespace lc = sila2::org::silastandard::core::lockcontroller::v1;

namespace {

const std::string kFeature = kLockControllerFeature;
constexpr std::size_t kMaxIdentifierLength = 256;
// Seconds; a longer timeout would overflow the clock's arithmetic.
constexpr std::int64_t kMaxTimeout = std::numeric_limits<std::int32_t>::max();

// Why `identifier` can't be a lock identifier; empty when it can.
std::string IdentifierProblem(const std::string& identifier) {
    const auto characters = PlainTextLength(identifier);
    if (!characters)
        return "A lock identifier holds no control characters.";
    if (*characters == 0 || *characters > kMaxIdentifierLength)
        return "A lock identifier has 1 to 256 characters.";
    return {};
}

}  // namespace

CLockControllerService::CLockControllerService(CServerLock& lock, CAccessGuard& guard,
                                               CCallLog& log)
    : m_lock(lock), m_guard(guard), m_log(log) {}

grpc::Status CLockControllerService::LockServer(grpc::ServerContext* context,
                                                const lc::LockServer_Parameters* request,
                                                lc::LockServer_Responses*) {
    Admission admission;
    if (auto status = m_guard.Admit(context, Guard::Token, admission); !status.ok()) {
        m_log.Audited(context, "lock", "LockServer refused: no valid access token", admission.user);
        return status;
    }
    const std::string& identifier = request->lockidentifier().value();
    if (const std::string problem = IdentifierProblem(identifier); !problem.empty()) {
        m_log.Audited(context, "lock", "LockServer" + ByUser(admission) + " refused: " + problem,
                      admission.user);
        return sila_error::Validation(kFeature + "/Command/LockServer/Parameter/LockIdentifier",
                                      problem);
    }
    const std::int64_t timeout = request->timeout().value();
    if (timeout < 0 || timeout > kMaxTimeout) {
        m_log.Audited(context, "lock",
                      "LockServer" + ByUser(admission) + " refused: timeout " +
                          std::to_string(timeout) + " s",
                      admission.user);
        return sila_error::Validation(kFeature + "/Command/LockServer/Parameter/Timeout",
                                      "The timeout must be between 0 (none) and " +
                                          std::to_string(kMaxTimeout) + " seconds.");
    }
    if (!m_lock.Lock(identifier, std::chrono::seconds(timeout))) {
        m_log.Audited(context, "lock", "LockServer" + ByUser(admission) + ": already locked",
                      admission.user);
        return sila_error::Defined(kFeature + "/DefinedExecutionError/ServerAlreadyLocked",
                                   "The server is already locked.");
    }
    const std::string until =
        timeout > 0 ? std::to_string(timeout) + " s after its last use" : "unlocked";
    m_log.Audited(context, "lock", "LockServer" + ByUser(admission) + ": locked until " + until,
                  admission.user);
    return grpc::Status::OK;
}

grpc::Status CLockControllerService::UnlockServer(grpc::ServerContext* context,
                                                  const lc::UnlockServer_Parameters* request,
                                                  lc::UnlockServer_Responses*) {
    Admission admission;
    if (auto status = m_guard.Admit(context, Guard::Token, admission); !status.ok()) {
        m_log.Audited(context, "unlock", "UnlockServer refused: no valid access token",
                      admission.user);
        return status;
    }
    switch (m_lock.Unlock(request->lockidentifier().value())) {
        case CServerLock::Release::NotLocked:
            m_log.Audited(context, "unlock", "UnlockServer" + ByUser(admission) + ": not locked",
                          admission.user);
            return sila_error::Defined(kFeature + "/DefinedExecutionError/ServerNotLocked",
                                       "The server is not locked.");
        case CServerLock::Release::WrongIdentifier:
            m_log.Audited(context, "unlock",
                          "UnlockServer" + ByUser(admission) + ": wrong identifier",
                          admission.user);
            return sila_error::Defined(kFeature + "/DefinedExecutionError/InvalidLockIdentifier",
                                       "The server is locked with another lock identifier.");
        case CServerLock::Release::Unlocked:
            break;
    }
    m_log.Audited(context, "unlock", "UnlockServer" + ByUser(admission) + ": unlocked",
                  admission.user);
    return grpc::Status::OK;
}

grpc::Status CLockControllerService::Get_IsLocked(grpc::ServerContext* context,
                                                  const lc::Get_IsLocked_Parameters*,
                                                  lc::Get_IsLocked_Responses* response) {
    m_log.Seen(context);
    response->mutable_islocked()->set_value(m_lock.IsLocked());
    return grpc::Status::OK;
}

grpc::Status CLockControllerService::Get_FCPAffectedByMetadata_LockIdentifier(
    grpc::ServerContext* context, const lc::Get_FCPAffectedByMetadata_LockIdentifier_Parameters*,
    lc::Get_FCPAffectedByMetadata_LockIdentifier_Responses* response) {
    m_log.Seen(context);
    for (const auto& call : CAccessGuard::LockAffectedCalls())
        response->add_affectedcalls()->set_value(call);
    return grpc::Status::OK;
}
