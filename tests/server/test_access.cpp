#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "AuthenticationService.grpc.pb.h"
#include "AuthorizationService.grpc.pb.h"
#include "LockController.grpc.pb.h"
#include "SiLAService.grpc.pb.h"
#include "run/audit_trail.h"
#include "server/login_throttle.h"
#include "server/token_registry.h"
#include "server_support.h"

namespace fw = sila2::org::silastandard;
namespace au = sila2::org::silastandard::core::authenticationservice::v1;
namespace az = sila2::org::silastandard::core::authorizationservice::v1;
namespace lc = sila2::org::silastandard::core::lockcontroller::v1;
namespace sv = sila2::org::silastandard::core::silaservice::v1;

using namespace std::chrono_literals;

namespace {

const std::string kAuthentication = "org.silastandard/core/AuthenticationService/v1";
const std::string kAuthorization = "org.silastandard/core/AuthorizationService/v1";
const std::string kLock = "org.silastandard/core/LockController/v1";
const char* kTokenKey =
    "sila-org.silastandard-core-authorizationservice-v1-metadata-accesstoken-bin";
const char* kLockKey = "sila-org.silastandard-core-lockcontroller-v1-metadata-lockidentifier-bin";

// What a client sends along with a call.
struct Sent {
    Sent(std::string token = {}, std::string identifier = {})
        : token(std::move(token)), identifier(std::move(identifier)) {}
    std::string token;       // none when empty
    std::string identifier;  // none when empty
};

void AddMetadata(grpc::ClientContext& context, const Sent& sent) {
    if (!sent.token.empty()) {
        az::Metadata_AccessToken token;
        token.mutable_accesstoken()->set_value(sent.token);
        context.AddMetadata(kTokenKey, token.SerializeAsString());
    }
    if (!sent.identifier.empty()) {
        lc::Metadata_LockIdentifier identifier;
        identifier.mutable_lockidentifier()->set_value(sent.identifier);
        context.AddMetadata(kLockKey, identifier.SerializeAsString());
    }
}

fw::SiLAError ErrorOf(const grpc::Status& status) {
    fw::SiLAError error;
    EXPECT_TRUE(DecodeSiLAError(status, error)) << status.error_message();
    return error;
}

std::string DefinedError(const grpc::Status& status) {
    return ErrorOf(status).definedexecutionerror().erroridentifier();
}

bool IsInvalidMetadata(const grpc::Status& status) {
    const fw::SiLAError error = ErrorOf(status);
    return error.has_frameworkerror() &&
           error.frameworkerror().errortype() == fw::FrameworkError::INVALID_METADATA;
}

// A client of one server: its three stubs and the calls the tests make.
struct Client {
    explicit Client(CServerProcess& server)
        : authentication(au::AuthenticationService::NewStub(server.InsecureChannel())),
          authorization(az::AuthorizationService::NewStub(server.InsecureChannel())),
          lock(lc::LockController::NewStub(server.InsecureChannel())),
          service(sv::SiLAService::NewStub(server.InsecureChannel())) {
        grpc::ClientContext context;
        sv::Get_ServerUUID_Responses response;
        EXPECT_TRUE(service->Get_ServerUUID(&context, {}, &response).ok());
        uuid = response.serveruuid().value();
    }

    grpc::Status Login(const std::string& user, const std::string& password,
                       au::Login_Responses& response, const std::string& server = {},
                       const std::vector<std::string>& features = {}) {
        grpc::ClientContext context;
        au::Login_Parameters request;
        request.mutable_useridentification()->set_value(user);
        request.mutable_password()->set_value(password);
        request.mutable_requestedserver()->set_value(server.empty() ? uuid : server);
        for (const auto& feature : features)
            request.add_requestedfeatures()->set_value(feature);
        return authentication->Login(&context, request, &response);
    }
    std::string Token(const std::string& user, const std::string& password) {
        au::Login_Responses response;
        EXPECT_TRUE(Login(user, password, response).ok());
        return response.accesstoken().value();
    }
    grpc::Status Logout(const std::string& token) {
        grpc::ClientContext context;
        au::Logout_Parameters request;
        request.mutable_accesstoken()->set_value(token);
        au::Logout_Responses response;
        return authentication->Logout(&context, request, &response);
    }
    grpc::Status Lock(const Sent& sent, const std::string& identifier, int timeout = 0) {
        grpc::ClientContext context;
        AddMetadata(context, sent);
        lc::LockServer_Parameters request;
        request.mutable_lockidentifier()->set_value(identifier);
        request.mutable_timeout()->set_value(timeout);
        lc::LockServer_Responses response;
        return lock->LockServer(&context, request, &response);
    }
    grpc::Status Unlock(const Sent& sent, const std::string& identifier) {
        grpc::ClientContext context;
        AddMetadata(context, sent);
        lc::UnlockServer_Parameters request;
        request.mutable_lockidentifier()->set_value(identifier);
        lc::UnlockServer_Responses response;
        return lock->UnlockServer(&context, request, &response);
    }
    bool IsLocked() {
        grpc::ClientContext context;
        lc::Get_IsLocked_Responses response;
        EXPECT_TRUE(lock->Get_IsLocked(&context, {}, &response).ok());
        return response.islocked().value();
    }
    grpc::Status Rename(const Sent& sent, const std::string& name) {
        grpc::ClientContext context;
        AddMetadata(context, sent);
        sv::SetServerName_Parameters request;
        request.mutable_servername()->set_value(name);
        sv::SetServerName_Responses response;
        return service->SetServerName(&context, request, &response);
    }

    std::unique_ptr<au::AuthenticationService::Stub> authentication;
    std::unique_ptr<az::AuthorizationService::Stub> authorization;
    std::unique_ptr<lc::LockController::Stub> lock;
    std::unique_ptr<sv::SiLAService::Stub> service;
    std::string uuid;
};

// One run of `velmora-server ARGS` that ends by itself, with `input` on its standard input.
struct Outcome {
    int exitCode = -1;
    std::string out, err;
};

Outcome RunServer(const QString& configHome, const QStringList& args,
                  const std::string& input = {}) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", configHome);
    process.setProcessEnvironment(env);
    process.start(VELMORA_SERVER_EXE, args);
    Outcome run;
    if (!process.waitForStarted(5000))
        return run;
    process.write(QByteArray::fromStdString(input));
    process.closeWriteChannel();
    if (!process.waitForFinished(30000))
        return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput().toStdString();
    run.err = process.readAllStandardError().toStdString();
    return run;
}

std::string ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

mode_t ModeOf(const QString& path) {
    struct stat status {};
    return stat(path.toLocal8Bit().constData(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// The hash part of `user`'s line in a users file.
std::string HashIn(const std::string& file, const std::string& user) {
    const auto start = file.find(user + ":");
    if (start == std::string::npos)
        return {};
    return file.substr(start + user.size() + 1, file.find('\n', start) - start - user.size() - 1);
}

}  // namespace

// The users file holds salted hashes only, is kept from other users, and the commands that
// keep it refuse what they should.
TEST(Access, UserCommandsKeepSaltedHashesOnly) {
    QTemporaryDir config;
    const QString file = config.path() + "/velmora/server-users";

    const Outcome empty =
        RunServer(config.path(), {"--add-user", "alice", "--password-stdin"}, "\n");
    EXPECT_EQ(empty.exitCode, 1) << empty.err;
    EXPECT_FALSE(QFile::exists(file));

    ASSERT_EQ(
        RunServer(config.path(), {"--add-user", "alice", "--password-stdin"}, "s3cret!\n").exitCode,
        0);
    ASSERT_EQ(
        RunServer(config.path(), {"--add-user", "bob", "--password-stdin"}, "s3cret!\n").exitCode,
        0);
    EXPECT_EQ(ModeOf(file), 0600u);
    EXPECT_EQ(ModeOf(config.path() + "/velmora"), 0700u);
    const std::string before = ReadAll(file);
    EXPECT_EQ(before.find("s3cret"), std::string::npos) << before;
    // The same password, salted apart.
    EXPECT_FALSE(HashIn(before, "alice").empty());
    EXPECT_NE(HashIn(before, "alice"), HashIn(before, "bob"));

    const Outcome changed =
        RunServer(config.path(), {"--add-user", "alice", "--password-stdin"}, "other\n");
    EXPECT_EQ(changed.exitCode, 0);
    EXPECT_NE(changed.err.find("changed the password of alice"), std::string::npos) << changed.err;
    EXPECT_NE(HashIn(ReadAll(file), "alice"), HashIn(before, "alice"));

    EXPECT_EQ(RunServer(config.path(), {"--list-users"}).out, "alice\nbob\n");
    EXPECT_EQ(RunServer(config.path(), {"--remove-user", "alice"}).exitCode, 0);
    EXPECT_EQ(RunServer(config.path(), {"--list-users"}).out, "bob\n");
    EXPECT_EQ(RunServer(config.path(), {"--remove-user", "alice"}).exitCode, 1);
    EXPECT_EQ(ModeOf(file), 0600u);

    // Usage errors: a name that can't be a user's; serving without a port.
    EXPECT_EQ(RunServer(config.path(), {"--add-user", "a:b", "--password-stdin"}, "x\n").exitCode,
              2);
    EXPECT_EQ(RunServer(config.path(), {"--no-discovery"}).exitCode, 2);
}

// Login hands out a token for the right name, password and server, and tells a wrong name
// from a wrong password by nothing; the log names the user but never the password.
TEST(Access, LoginNeedsTheRightPasswordForThisServer) {
    CServerProcess server;
    ASSERT_TRUE(server.AddUser("alice", "correct horse"));
    ASSERT_TRUE(server.Start("simulator", {"--insecure"}, false)) << server.Output();
    Client client(server);

    au::Login_Responses ok;
    ASSERT_TRUE(client.Login("alice", "correct horse", ok, {}, {kLock}).ok());
    EXPECT_EQ(ok.accesstoken().value().size(), 64u);
    EXPECT_EQ(ok.tokenlifetime().value(), 3600);
    EXPECT_NE(client.Token("alice", "correct horse"), ok.accesstoken().value());

    const std::string failed = kAuthentication + "/DefinedExecutionError/AuthenticationFailed";
    au::Login_Responses none;
    const fw::SiLAError wrongPassword = ErrorOf(client.Login("alice", "correct horsE", none));
    const fw::SiLAError unknownUser = ErrorOf(client.Login("mallory", "correct horse", none));
    EXPECT_EQ(wrongPassword.definedexecutionerror().erroridentifier(), failed);
    EXPECT_EQ(wrongPassword.SerializeAsString(), unknownUser.SerializeAsString());

    EXPECT_EQ(DefinedError(client.Login("alice", "correct horse", none,
                                        "00000000-0000-0000-0000-000000000000")),
              failed);
    const fw::SiLAError feature =
        ErrorOf(client.Login("alice", "correct horse", none, {}, {"org.example/x/Oven/v1"}));
    EXPECT_EQ(feature.definedexecutionerror().erroridentifier(), failed);
    EXPECT_NE(feature.definedexecutionerror().message().find("org.example/x/Oven/v1"),
              std::string::npos);

    ASSERT_TRUE(server.WaitForOutput("Login mallory"));
    EXPECT_NE(server.Output().find("Login alice"), std::string::npos);
    EXPECT_EQ(server.Output().find("correct hors"), std::string::npos) << server.Output();
}

// A call that changes the server needs a live token; while the server is locked it also needs
// the lock's identifier; a lock with a timeout ends by itself.
TEST(Access, GuardedCallsNeedALiveTokenAndTheLock) {
    CServerProcess server;
    ASSERT_TRUE(server.AddUser("alice", "pw-a"));
    ASSERT_TRUE(server.Start("simulator", {"--insecure"}, false)) << server.Output();
    Client client(server);
    const std::string invalidToken = kAuthorization + "/DefinedExecutionError/InvalidAccessToken";
    const std::string invalidLock = kLock + "/DefinedExecutionError/InvalidLockIdentifier";

    EXPECT_TRUE(IsInvalidMetadata(client.Lock({}, "lock-1")));
    EXPECT_EQ(DefinedError(client.Lock({"00ff"}, "lock-1")), invalidToken);
    EXPECT_TRUE(IsInvalidMetadata(client.Rename({}, "Shaker 2")));

    const std::string token = client.Token("alice", "pw-a");
    EXPECT_EQ(ErrorOf(client.Lock({token}, "lock\n1")).validationerror().parameter(),
              kLock + "/Command/LockServer/Parameter/LockIdentifier");
    ASSERT_TRUE(client.Lock({token}, "lock-1").ok());
    EXPECT_TRUE(client.IsLocked());
    EXPECT_EQ(DefinedError(client.Lock({token}, "lock-2")),
              kLock + "/DefinedExecutionError/ServerAlreadyLocked");

    EXPECT_TRUE(IsInvalidMetadata(client.Rename({token}, "Shaker 2")));
    const Sent wrongLock(token, "lock-2"), rightLock(token, "lock-1");
    EXPECT_EQ(DefinedError(client.Rename(wrongLock, "Shaker 2")), invalidLock);
    EXPECT_TRUE(client.Rename(rightLock, "Shaker 2").ok());

    EXPECT_EQ(DefinedError(client.Unlock({token}, "lock-2")), invalidLock);
    ASSERT_TRUE(client.Unlock({token}, "lock-1").ok());
    EXPECT_FALSE(client.IsLocked());
    EXPECT_EQ(DefinedError(client.Unlock({token}, "lock-1")),
              kLock + "/DefinedExecutionError/ServerNotLocked");
    EXPECT_TRUE(client.Rename({token}, "Shaker 3").ok());

    const auto locked = std::chrono::steady_clock::now();
    ASSERT_TRUE(client.Lock({token}, "brief", 1).ok());
    const QDeadlineTimer deadline(20000);
    while (client.IsLocked() && !deadline.hasExpired())
        std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(client.IsLocked());
    EXPECT_GE(std::chrono::steady_clock::now() - locked, 1s);

    ASSERT_TRUE(client.Logout(token).ok());
    EXPECT_EQ(DefinedError(client.Lock({token}, "lock-3")), invalidToken);
    // A user removed while the server runs loses the logins it gave.
    const std::string kept = client.Token("alice", "pw-a");
    ASSERT_EQ(RunServer(server.ConfigFolder(), {"--remove-user", "alice"}).exitCode, 0);
    EXPECT_EQ(DefinedError(client.Rename({kept}, "Shaker 4")), invalidToken);
    EXPECT_EQ(DefinedError(client.Logout(token)),
              kAuthentication + "/DefinedExecutionError/InvalidAccessToken");

    grpc::ClientContext tokenContext, lockContext;
    az::Get_FCPAffectedByMetadata_AccessToken_Responses tokenCalls;
    lc::Get_FCPAffectedByMetadata_LockIdentifier_Responses lockCalls;
    ASSERT_TRUE(
        client.authorization->Get_FCPAffectedByMetadata_AccessToken(&tokenContext, {}, &tokenCalls)
            .ok());
    ASSERT_TRUE(
        client.lock->Get_FCPAffectedByMetadata_LockIdentifier(&lockContext, {}, &lockCalls).ok());
    const std::string stop = "org.velmora/instruments/ShakingController/v1/Command/StopShaking";
    auto holds = [&](const auto& calls) {
        return std::any_of(calls.begin(), calls.end(),
                           [&](const fw::String& call) { return call.value() == stop; });
    };
    EXPECT_TRUE(holds(tokenCalls.affectedcalls()));
    EXPECT_FALSE(holds(lockCalls.affectedcalls()));

    // Who logged in (or failed to), locked, renamed and unlocked is in the audit trail.
    au::Login_Responses none;
    EXPECT_FALSE(client.Login("mallory", "pw-a", none).ok());
    const std::string audit = (server.DataFolder() + "/../audit.jsonl").toStdString();
    std::ifstream file(audit);
    const std::string text((std::istreambuf_iterator<char>(file)), {});
    std::size_t at = 0;
    for (const char* seen : {R"("event":"login")", R"("user":"alice")", R"(locked until)",
                             R"("event":"rename")", R"(Shaker 2)", R"("event":"unlock")",
                             R"("event":"login refused")", R"("user":"mallory")"}) {
        at = text.find(seen, at);
        ASSERT_NE(at, std::string::npos) << seen << "\n" << text;
    }
    EXPECT_TRUE(VerifyAuditTrail(audit).intact);
}

// After five failures even the right password is refused, at once, with a word to wait.
TEST(Access, FiveFailedLoginsMakeTheNextWait) {
    CServerProcess server;
    ASSERT_TRUE(server.AddUser("alice", "pw-a"));
    ASSERT_TRUE(server.Start("simulator", {"--insecure"}, false)) << server.Output();
    Client client(server);
    au::Login_Responses response;
    for (int i = 0; i < 5; ++i)
        ASSERT_FALSE(client.Login("alice", "guess" + std::to_string(i), response).ok());
    const fw::SiLAError refused = ErrorOf(client.Login("alice", "pw-a", response));
    EXPECT_EQ(refused.definedexecutionerror().erroridentifier(),
              kAuthentication + "/DefinedExecutionError/AuthenticationFailed");
    EXPECT_NE(refused.definedexecutionerror().message().find("wait"), std::string::npos)
        << refused.definedexecutionerror().message();
}

// Names and addresses are counted apart, failures a minute old no longer count, a pause ends
// after half a minute, and tries under way count until they end.
TEST(LoginThrottle, CountsPerNameAndAddressWithinAMinute) {
    const auto t0 = CLoginThrottle::Clock::now();
    auto fail = [](CLoginThrottle& throttle, const std::string& name, const std::string& address,
                   CLoginThrottle::Clock::time_point when) {
        ASSERT_EQ(throttle.Begin(name, address, when).count(), 0) << name << " " << address;
        throttle.Failed(name, address, when);
    };
    {
        CLoginThrottle throttle;
        for (int i = 0; i < 5; ++i)
            fail(throttle, "alice", "10.0.0." + std::to_string(i), t0);
        EXPECT_GT(throttle.Begin("alice", "10.0.0.9", t0 + 1s).count(), 0);
        EXPECT_EQ(throttle.Begin("bob", "10.0.0.9", t0 + 1s).count(), 0);
        EXPECT_EQ(throttle.Begin("alice", "10.0.0.8", t0 + 31s).count(), 0);
    }
    {
        CLoginThrottle throttle;
        for (int i = 0; i < 5; ++i)
            fail(throttle, "user" + std::to_string(i), "10.0.0.1", t0);
        EXPECT_EQ(throttle.Begin("carol", "10.0.0.1", t0).count(), 30);
        EXPECT_EQ(throttle.Begin("", "10.0.0.1", t0).count(), 30);
        EXPECT_EQ(throttle.Begin("carol", "10.0.0.2", t0).count(), 0);
    }
    {
        CLoginThrottle throttle;
        for (int i = 0; i < 8; ++i)
            fail(throttle, "alice", "10.0.0.1", t0 + i * 20s);
    }
    {
        CLoginThrottle throttle;
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(throttle.Begin("alice", "10.0.0.1", t0).count(), 0);
        EXPECT_GT(throttle.Begin("alice", "10.0.0.2", t0).count(), 0);
        throttle.Succeeded("alice", "10.0.0.1");
        EXPECT_EQ(throttle.Begin("alice", "10.0.0.2", t0).count(), 0);
    }
    EXPECT_EQ(PeerAddress("ipv4:127.0.0.1:40000"), "127.0.0.1");
    EXPECT_EQ(PeerAddress("ipv6:[::1]:40000"), "::1");
}

// A token lives an hour from its last use, not from its making; the oldest goes first when
// too many live.
TEST(TokenRegistry, ATokenLivesAnHourFromItsLastUse) {
    CTokenRegistry tokens;
    const auto t0 = CTokenRegistry::Clock::now();
    const std::string token = tokens.Issue("alice", t0);
    EXPECT_EQ(tokens.Use(token, t0 + 59min), "alice");
    EXPECT_EQ(tokens.Use(token, t0 + 118min), "alice");
    EXPECT_FALSE(tokens.Use(token, t0 + 178min + 1s));

    const std::string first = tokens.Issue("bob", t0);
    for (std::size_t i = 0; i < CTokenRegistry::kMaxTokens; ++i)
        tokens.Issue("carol", t0 + 1s);
    EXPECT_FALSE(tokens.Use(first, t0 + 2s));
}
