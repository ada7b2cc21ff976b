#pragma once

#include <grpcpp/impl/codegen/service_type.h>

#include <memory>
#include <string>
#include <vector>

#include "server/authentication_service.h"

class CAccessGuard;
class CCallLog;

// Who may do what on this server: the users kept in the users file, the access tokens handed
// out by Login, the lock, the guard every changing call asks, and the three features that
// clients see of it (AuthenticationService, AuthorizationService, LockController).
class CAccessControl {
  public:
    struct Options {
        std::string usersFile;  // UserStorePath() unless a test says otherwise
        bool tokensRequired = true;
        std::string serverUuid;  // Login's RequestedServer must name this server
    };

    CAccessControl(Options options, CCallLog& log);
    ~CAccessControl();

    CAccessGuard& Guard();
    // A login by name and password from `peer` ("ipv4:ADDRESS:PORT"), as Login judges it:
    // the token, or why not. For the web view.
    CAuthenticationService::PasswordCheck LogIn(const std::string& name,
                                                const std::string& password,
                                                const std::string& peer);
    void LogOut(const std::string& token);
    // The features' services, to register with the gRPC server; owned here.
    std::vector<grpc::Service*> Services();

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// $XDG_CONFIG_HOME/velmora/server-users (default ~/.config/velmora/server-users).
std::string UserStorePath();
// How many users the file at `path` holds; 0 when there is none.
int CountUsers(const std::string& path);
