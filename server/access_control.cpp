#include "server/access_control.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include "server/access_guard.h"
#include "server/server_lock.h"
#include "server/token_registry.h"

struct CAccessControl::Impl {
    CTokenRegistry tokens;
    CServerLock lock;
    std::unique_ptr<CAccessGuard> guard;
};

CAccessControl::CAccessControl(Options options, CCallLog&) : m_impl(std::make_unique<Impl>()) {
    m_impl->guard =
        std::make_unique<CAccessGuard>(m_impl->tokens, m_impl->lock, options.tokensRequired);
}

CAccessControl::~CAccessControl() = default;

CAccessGuard& CAccessControl::Guard() {
    return *m_impl->guard;
}

std::vector<grpc::Service*> CAccessControl::Services() {
    return {};
}

std::string UserStorePath() {
    return (QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
            "/velmora/server-users")
        .toStdString();
}

int CountUsers(const std::string& path) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    int users = 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (!line.isEmpty() && !line.startsWith('#'))
            ++users;
    }
    return users;
}
