#pragma once

#include <grpcpp/server_context.h>
#include <grpcpp/support/status.h>

#include <optional>
#include <string>
#include <vector>

class CTokenRegistry;
class CServerLock;

// What a call that changes the instrument or the server needs, besides being well formed.
enum class Guard {
    Token,         // a valid access token, when the server has users
    TokenAndLock,  // that, and the lock identifier while the server is locked
};

// Who made an admitted call.
struct Admission {
    std::string user;         // the token's user; empty when the server runs without users
    bool locked = false;      // the server was locked when the call came
    bool lockHolder = false;  // the call carried the lock identifier of that lock
};

// The one check every guarded call makes first: the AccessToken and LockIdentifier metadata
// of the call, against the tokens handed out by Login and the server's lock. Thread-safe.
class CAccessGuard {
  public:
    // `tokensRequired` is false when the server runs without users (loopback, or --no-auth):
    // then a call needs no token, and one sent is not checked. A token whose user is no longer
    // in `usersFile` is revoked at its next use.
    CAccessGuard(CTokenRegistry& tokens, CServerLock& lock, bool tokensRequired,
                 std::string usersFile);

    // OK with `admission` filled when the call may go ahead; otherwise the SiLA error to answer
    // with: the framework's INVALID_METADATA when a needed token or lock identifier is missing
    // or unreadable, the defined InvalidAccessToken or InvalidLockIdentifier when it is wrong.
    // A valid token's lifetime is renewed; so is a valid lock identifier's lock timeout.
    grpc::Status Admit(const grpc::ServerContext* context, Guard guard, Admission& admission);
    bool TokensRequired() const { return m_tokensRequired; }
    // The user of a live token whose user is still listed (its hour starts again); nothing
    // otherwise.
    std::optional<std::string> UserOfToken(const std::string& token);
    bool Locked();

    // The fully qualified identifiers of the calls each metadata affects, as the standard's
    // Get_FCPAffectedByMetadata_* queries answer.
    static const std::vector<std::string>& TokenAffectedCalls();
    static const std::vector<std::string>& LockAffectedCalls();

  private:
    bool UserListed(const std::string& user) const;

    CTokenRegistry& m_tokens;
    CServerLock& m_lock;
    const bool m_tokensRequired;
    const std::string m_usersFile;
};
