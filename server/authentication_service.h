#pragma once

#include <string>

#include "AuthenticationService.grpc.pb.h"

class CCallLog;
class CLoginThrottle;
class CTokenRegistry;

// The AuthenticationService feature: a user's name and password for an access token, and
// Logout. The passwords are checked against the users file at every login, so users added or
// removed while the server runs count at once.
class CAuthenticationService final : public sila2::org::silastandard::core::authenticationservice::
                                         v1::AuthenticationService::Service {
  public:
    CAuthenticationService(std::string usersFile, std::string serverUuid, CTokenRegistry& tokens,
                           CLoginThrottle& throttle, CCallLog& log);

    grpc::Status Login(
        grpc::ServerContext* context,
        const sila2::org::silastandard::core::authenticationservice::v1::Login_Parameters* request,
        sila2::org::silastandard::core::authenticationservice::v1::Login_Responses* response)
        override;
    grpc::Status Logout(
        grpc::ServerContext* context,
        const sila2::org::silastandard::core::authenticationservice::v1::Logout_Parameters* request,
        sila2::org::silastandard::core::authenticationservice::v1::Logout_Responses* response)
        override;

    // The password part of a login, for Login and the web view alike: throttled, checked,
    // audited (as from `peer`) and, when right, a new token. No token: `refusal` says why.
    struct PasswordCheck {
        std::string token;
        std::string refusal;
        bool tokenFailed = false;  // the password was right but no token could be made
    };
    PasswordCheck CheckPassword(const std::string& name, const std::string& password,
                                const std::string& peer);

  private:
    const std::string m_usersFile;
    const std::string m_serverUuid;
    CTokenRegistry& m_tokens;
    CLoginThrottle& m_throttle;
    CCallLog& m_log;
};
