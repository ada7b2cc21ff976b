#include "server/access_control.h"

#include <QStandardPaths>
#include <QString>

#include "server/access_guard.h"
#include "server/authentication_service.h"
#include "server/authorization_service.h"
#include "server/lock_controller_service.h"
#include "server/login_throttle.h"
#include "server/server_lock.h"
#include "server/token_registry.h"
#include "server/user_file.h"

struct CAccessControl::Impl {
    Impl(Options options, CCallLog& log)
        : guard(tokens, lock, options.tokensRequired, options.usersFile),
          authentication(std::move(options.usersFile), std::move(options.serverUuid), tokens,
                         throttle, log),
          authorization(log),
          lockController(lock, guard, log) {}

    CTokenRegistry tokens;
    CServerLock lock;
    CLoginThrottle throttle;
    CAccessGuard guard;
    CAuthenticationService authentication;
    CAuthorizationService authorization;
    CLockControllerService lockController;
};

CAccessControl::CAccessControl(Options options, CCallLog& log)
    : m_impl(std::make_unique<Impl>(std::move(options), log)) {}

CAccessControl::~CAccessControl() = default;

CAccessGuard& CAccessControl::Guard() {
    return m_impl->guard;
}

CAuthenticationService::PasswordCheck CAccessControl::LogIn(const std::string& name,
                                                            const std::string& password,
                                                            const std::string& peer) {
    return m_impl->authentication.CheckPassword(name, password, peer);
}

void CAccessControl::LogOut(const std::string& token) {
    m_impl->tokens.Revoke(token);
}

std::vector<grpc::Service*> CAccessControl::Services() {
    return {&m_impl->authentication, &m_impl->authorization, &m_impl->lockController};
}

std::string UserStorePath() {
    return (QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
            "/velmora/server-users")
        .toStdString();
}

int CountUsers(const std::string& path) {
    CUserFile users(path);
    return users.Load() ? static_cast<int>(users.Names().size()) : 0;
}
