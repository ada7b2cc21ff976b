#include "server/access_guard.h"

CAccessGuard::CAccessGuard(CTokenRegistry& tokens, CServerLock& lock, bool tokensRequired)
    : m_tokens(tokens), m_lock(lock), m_tokensRequired(tokensRequired) {}

grpc::Status CAccessGuard::Admit(const grpc::ServerContext*, Guard, Admission& admission) {
    admission = {};
    return grpc::Status::OK;
}

const std::vector<std::string>& CAccessGuard::TokenAffectedCalls() {
    static const std::vector<std::string> calls;
    return calls;
}

const std::vector<std::string>& CAccessGuard::LockAffectedCalls() {
    static const std::vector<std::string> calls;
    return calls;
}
