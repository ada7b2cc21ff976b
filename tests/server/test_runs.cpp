#include <gtest/gtest.h>
#include <QDeadlineTimer>
#include <thread>

#include <QDir>
#include <QFile>
#include <QSysInfo>
#include <optional>

#include "AuthenticationService.grpc.pb.h"
#include "AuthorizationService.grpc.pb.h"
#include "CancelController.grpc.pb.h"
#include "ShakingController.grpc.pb.h"
#include "SiLAService.grpc.pb.h"
#include "SimulationController.grpc.pb.h"
#include "link/frames.h"
#include "server/execution_store.h"
#include "server/stream_gate.h"
#include "server_support.h"
#include "sim/simulated_shaker.h"

namespace fw = sila2::org::silastandard;
namespace sc = sila2::org::velmora::instruments::shakingcontroller::v1;
namespace cc = sila2::org::silastandard::core::commands::cancelcontroller::v1;
namespace sim = sila2::org::silastandard::core::simulationcontroller::v1;
namespace au = sila2::org::silastandard::core::authenticationservice::v1;
namespace az = sila2::org::silastandard::core::authorizationservice::v1;
namespace sv = sila2::org::silastandard::core::silaservice::v1;

namespace {

const std::string kShaking = "org.velmora/instruments/ShakingController/v1";
const std::string kCancel = "org.silastandard/core.commands/CancelController/v1";
const std::string kSimulation = "org.silastandard/core/SimulationController/v1";
const std::string kNotReady = kShaking + "/DefinedExecutionError/InstrumentNotReady";
const std::string kUnknownUuid = "0b7b4e2c-0000-4000-8000-000000000000";
const std::string kPassword = "correct horse";

fw::SiLAError ErrorOf(const grpc::Status& status) {
    fw::SiLAError error;
    EXPECT_TRUE(DecodeSiLAError(status, error))
        << status.error_code() << " " << status.error_message();
    return error;
}

std::string DefinedError(const grpc::Status& status) {
    return ErrorOf(status).definedexecutionerror().erroridentifier();
}

// An access token of `user` on `server`.
std::string LogIn(const CServerProcess& server, const std::string& user,
                  const std::string& password) {
    grpc::ClientContext uuidContext, loginContext;
    sv::Get_ServerUUID_Responses uuid;
    EXPECT_TRUE(sv::SiLAService::NewStub(server.InsecureChannel())
                    ->Get_ServerUUID(&uuidContext, {}, &uuid)
                    .ok());
    au::Login_Parameters request;
    request.mutable_useridentification()->set_value(user);
    request.mutable_password()->set_value(password);
    request.mutable_requestedserver()->set_value(uuid.serveruuid().value());
    au::Login_Responses response;
    EXPECT_TRUE(au::AuthenticationService::NewStub(server.InsecureChannel())
                    ->Login(&loginContext, request, &response)
                    .ok());
    return response.accesstoken().value();
}

bool IsInvalidMetadata(const grpc::Status& status) {
    return ErrorOf(status).frameworkerror().errortype() == fw::FrameworkError::INVALID_METADATA;
}

// The stubs of one server, and the calls the tests make on them.
struct Client {
    explicit Client(const CServerProcess& server)
        : shaking(sc::ShakingController::NewStub(server.InsecureChannel())),
          cancel(cc::CancelController::NewStub(server.InsecureChannel())),
          simulation(sim::SimulationController::NewStub(server.InsecureChannel())) {}

    // A call that changes something carries the token, once there is one.
    void Authorize(grpc::ClientContext& context) const {
        if (token.empty())
            return;
        az::Metadata_AccessToken metadata;
        metadata.mutable_accesstoken()->set_value(token);
        context.AddMetadata(
            "sila-org.silastandard-core-authorizationservice-v1-metadata-accesstoken-bin",
            metadata.SerializeAsString());
    }

    grpc::Status Start(int speed, int time, fw::CommandConfirmation* confirmation = nullptr) {
        grpc::ClientContext context;
        Authorize(context);
        sc::StartShaking_Parameters request;
        request.mutable_speed()->set_value(speed);
        request.mutable_time()->set_value(time);
        fw::CommandConfirmation ignored;
        return shaking->StartShaking(&context, request, confirmation ? confirmation : &ignored);
    }
    grpc::Status Stop() {
        grpc::ClientContext context;
        Authorize(context);
        sc::StopShaking_Responses response;
        return shaking->StopShaking(&context, {}, &response);
    }
    grpc::Status Result(const std::string& uuid) {
        grpc::ClientContext context;
        fw::CommandExecutionUUID id;
        id.set_value(uuid);
        sc::StartShaking_Responses result;
        return shaking->StartShaking_Result(&context, id, &result);
    }
    grpc::Status DeviceId(std::string* id = nullptr) {
        grpc::ClientContext context;
        sc::Get_DeviceId_Responses response;
        const grpc::Status status = shaking->Get_DeviceId(&context, {}, &response);
        if (id)
            *id = response.deviceid().value();
        return status;
    }
    grpc::Status Cancel(const std::string& uuid) {
        grpc::ClientContext context;
        Authorize(context);
        cc::CancelCommand_Parameters request;
        request.mutable_commandexecutionuuid()->mutable_uuid()->set_value(uuid);
        cc::CancelCommand_Responses response;
        return cancel->CancelCommand(&context, request, &response);
    }
    grpc::Status CancelAll() {
        grpc::ClientContext context;
        Authorize(context);
        cc::CancelAll_Responses response;
        return cancel->CancelAll(&context, {}, &response);
    }
    grpc::Status Switch(bool simulated) {
        grpc::ClientContext context;
        Authorize(context);
        if (simulated) {
            sim::StartSimulationMode_Responses response;
            return simulation->StartSimulationMode(&context, {}, &response);
        }
        sim::StartRealMode_Responses response;
        return simulation->StartRealMode(&context, {}, &response);
    }
    bool SimulationMode() {
        grpc::ClientContext context;
        sim::Get_SimulationMode_Responses response;
        EXPECT_TRUE(simulation->Get_SimulationMode(&context, {}, &response).ok());
        return response.simulationmode().value();
    }
    // The first value of Running, as a subscriber gets it.
    std::optional<bool> FirstRunning() {
        grpc::ClientContext context;
        context.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(30));
        auto reader = shaking->Subscribe_Running(&context, {});
        sc::Subscribe_Running_Responses response;
        const bool read = reader->Read(&response);
        context.TryCancel();
        reader->Finish();
        return read ? std::optional<bool>(response.running().value()) : std::nullopt;
    }

    std::unique_ptr<sc::ShakingController::Stub> shaking;
    std::unique_ptr<cc::CancelController::Stub> cancel;
    std::unique_ptr<sim::SimulationController::Stub> simulation;
    std::string token;
};

// A subscription left open once its first value has arrived: the server holds it then.
struct OpenStream {
    grpc::ClientContext context;
    std::unique_ptr<grpc::ClientReader<sc::Subscribe_CurrentSpeed_Responses>> reader;
    bool open = false;
};

std::unique_ptr<OpenStream> Subscribe(sc::ShakingController::Stub& stub) {
    auto stream = std::make_unique<OpenStream>();
    stream->context.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(120));
    stream->reader = stub.Subscribe_CurrentSpeed(&stream->context, {});
    sc::Subscribe_CurrentSpeed_Responses response;
    stream->open = stream->reader->Read(&response);
    return stream;
}

// How the stream ends, after whatever values it still sends.
grpc::Status EndOf(OpenStream& stream) {
    sc::Subscribe_CurrentSpeed_Responses response;
    while (stream.reader->Read(&response)) {
    }
    return stream.reader->Finish();
}

QString JournalText(const CServerProcess& server) {
    const QStringList journals = QDir(server.JournalFolder()).entryList(QDir::Files);
    if (journals.size() != 1)
        return {};
    QFile journal(server.JournalFolder() + "/" + journals.front());
    return journal.open(QIODevice::ReadOnly) ? QString::fromUtf8(journal.readAll()) : QString();
}

// The journal once its run's end line is written: the end is written on the journal's own
// thread, just after the outcome that ended the run is reported.
QString EndedJournalText(const CServerProcess& server) {
    const QDeadlineTimer deadline(20000);
    QString text = JournalText(server);
    while (!text.contains("\n# end\t") && !deadline.hasExpired()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        text = JournalText(server);
    }
    return text;
}

class Runs : public ::testing::Test {
  protected:
    // With a user, calls that change something need a token.
    void Serve(SimOptions options = {}, const std::string& user = {}) {
        options.timeUnit = std::chrono::milliseconds(200);
        shaker = std::make_unique<CSimulatedShaker>(options);
        ASSERT_TRUE(shaker->Start());
        if (!user.empty()) {
            ASSERT_TRUE(server.AddUser(user, kPassword));
        }
        ASSERT_TRUE(server.Start(shaker->SlavePath())) << server.Output();
        client = std::make_unique<Client>(server);
    }

    std::unique_ptr<CSimulatedShaker> shaker;
    CServerProcess server;
    std::unique_ptr<Client> client;
};

}  // namespace

// The server answers while it identifies the instrument, and says so; a SIGTERM then does not
// wait for the identification to end. Started on the simulated shaker, it has no real port.
TEST(RunsAtStartUp, AnswersNotReadyWhileIdentifyingAndStopsAtOnce) {
    CServerProcess server;
    ASSERT_TRUE(server.Start("simulator", {"--insecure"}, /*waitForInstrument=*/false))
        << server.Output();
    Client client(server);
    EXPECT_EQ(DefinedError(client.DeviceId()), kNotReady);
    EXPECT_EQ(DefinedError(client.Start(300, 10)), kNotReady);
    EXPECT_EQ(DefinedError(client.Stop()), kNotReady);
    EXPECT_TRUE(client.SimulationMode());
    EXPECT_EQ(DefinedError(client.Switch(false)),
              kSimulation + "/DefinedExecutionError/StartRealModeFailed");
    EXPECT_TRUE(client.Switch(true).ok());  // on already
    EXPECT_EQ(server.Terminate(), 0) << server.Output();
    EXPECT_NE(server.Output().find("identifying the instrument was given up"), std::string::npos)
        << server.Output();
}

// A cancelled execution ends with an error that says so and its instrument is stopped; a stop
// the instrument does not confirm cancels nothing. Only a running execution can be cancelled.
// The user who starts and cancels is named in the log, and in the journal as who started it.
TEST_F(Runs, CancelStopsTheRunAndEndsItsExecutionWithAnError) {
    Serve({}, "ana");
    const std::string invalidUuid = kCancel + "/DefinedExecutionError/InvalidCommandExecutionUUID";
    EXPECT_TRUE(IsInvalidMetadata(client->Start(300, 1000)));
    EXPECT_TRUE(IsInvalidMetadata(client->CancelAll()));
    client->token = LogIn(server, "ana", kPassword);
    EXPECT_TRUE(client->CancelAll().ok());  // nothing to cancel
    EXPECT_EQ(DefinedError(client->Cancel(kUnknownUuid)), invalidUuid);

    fw::CommandConfirmation confirmation;
    ASSERT_TRUE(client->Start(300, 1000, &confirmation).ok());
    const std::string uuid = confirmation.commandexecutionuuid().value();
    // Kept an hour after the run's expected end (a port of its own counts seconds).
    EXPECT_GE(confirmation.lifetimeofexecution().seconds(), 3600 + 1000 - 60);
    grpc::ClientContext infoContext;
    fw::CommandExecutionUUID id;
    id.set_value(uuid);
    auto infos = client->shaking->StartShaking_Info(&infoContext, id);
    fw::ExecutionInfo info, next;
    ASSERT_TRUE(infos->Read(&info));
    EXPECT_GE(info.updatedlifetimeofexecution().seconds(), 3600 + 1000 - 60);
    ASSERT_TRUE(WaitUntil([&] { return shaker->RequestCount(kCodeStatus) > 0; }));

    shaker->InjectFor(kCodeSetSpeed, CSimulatedShaker::Fault::NonZeroStatus, 4);
    EXPECT_TRUE(ErrorOf(client->Cancel(uuid)).has_undefinedexecutionerror());
    EXPECT_TRUE(shaker->CurrentState().running);
    EXPECT_EQ(ErrorOf(client->Result(uuid)).frameworkerror().errortype(),
              fw::FrameworkError::COMMAND_EXECUTION_NOT_FINISHED);

    ASSERT_TRUE(client->Cancel(uuid).ok());
    EXPECT_FALSE(shaker->CurrentState().running);
    while (infos->Read(&next))
        info = next;
    EXPECT_TRUE(infos->Finish().ok());
    EXPECT_EQ(info.commandstatus(), fw::ExecutionInfo::finishedWithError);
    EXPECT_GE(info.updatedlifetimeofexecution().seconds(), 3600 + 1000 - 60);  // never shortened
    const fw::DefinedExecutionError cancelled =
        ErrorOf(client->Result(uuid)).definedexecutionerror();
    EXPECT_EQ(cancelled.erroridentifier(), kShaking + "/DefinedExecutionError/RunCancelled");
    EXPECT_NE(cancelled.message().find("cancelled"), std::string::npos);
    EXPECT_EQ(DefinedError(client->Cancel(uuid)), invalidUuid);  // finished already
    const QString journal = EndedJournalText(server);
    EXPECT_TRUE(journal.contains("\n# end\tStop\t")) << journal.toStdString();
    EXPECT_TRUE(journal.contains("\n# started by\tana@" + QSysInfo::machineHostName() + "\n"))
        << journal.toStdString();
    EXPECT_TRUE(server.WaitForOutput("CancelCommand " + uuid + " by ana: cancelled"))
        << server.Output();
}

// The simulated shaker stands in for the instrument between runs only; meanwhile calls hear
// that the instrument is not ready and subscriptions wait for it.
TEST_F(Runs, SwitchesToTheSimulatedShakerAndBackBetweenRuns) {
    SimOptions labShaker;
    labShaker.deviceId = "KW27-LAB";
    Serve(labShaker);
    EXPECT_FALSE(client->SimulationMode());
    EXPECT_TRUE(client->Switch(false).ok());  // on already

    ASSERT_TRUE(client->Switch(true).ok());
    EXPECT_TRUE(client->SimulationMode());
    EXPECT_EQ(DefinedError(client->DeviceId()), kNotReady);
    // A subscriber's first value waits for the simulated shaker to be identified.
    EXPECT_EQ(client->FirstRunning(), false);
    std::string id;
    ASSERT_TRUE(client->DeviceId(&id).ok());
    EXPECT_EQ(id, "KW41-VTX-SIM");

    ASSERT_TRUE(client->Start(300, 1000).ok());
    const fw::DefinedExecutionError midRun = ErrorOf(client->Switch(false)).definedexecutionerror();
    EXPECT_EQ(midRun.erroridentifier(), kSimulation + "/DefinedExecutionError/StartRealModeFailed");
    EXPECT_NE(midRun.message().find("run is in progress"), std::string::npos) << midRun.message();
    EXPECT_TRUE(client->SimulationMode());
    ASSERT_TRUE(client->Stop().ok());
    EXPECT_TRUE(JournalText(server).contains("\n# simulation\n"))
        << JournalText(server).toStdString();
    EXPECT_FALSE(shaker->CurrentState().running);
    EXPECT_EQ(shaker->RequestCount(kCodeSetSpeed), 0);

    ASSERT_TRUE(client->Switch(false).ok());
    EXPECT_FALSE(client->SimulationMode());
    ASSERT_TRUE(WaitUntil([&] { return client->DeviceId(&id).ok(); }, 30000));
    EXPECT_EQ(id, "KW27-LAB");
    EXPECT_EQ(server.Terminate(), 0);
}

// Streams are capped, each holds its place only while open, and on SIGTERM every open one is
// ended by the server with OK before it exits.
TEST_F(Runs, CapsOpenStreamsAndEndsThemWithOkOnSigterm) {
    Serve();
    std::vector<std::unique_ptr<OpenStream>> streams;
    for (int i = 0; i < CStreamGate::kMaxStreams; ++i) {
        streams.push_back(Subscribe(*client->shaking));
        ASSERT_TRUE(streams.back()->open) << i;
    }
    const auto refused = Subscribe(*client->shaking);
    if (refused->open)
        refused->context.TryCancel();  // lest it stay open
    EXPECT_FALSE(refused->open);
    EXPECT_EQ(EndOf(*refused).error_code(), grpc::StatusCode::RESOURCE_EXHAUSTED);

    // A stream's place is free again once the server has seen its client go.
    streams.back()->context.TryCancel();
    EndOf(*streams.back());
    streams.pop_back();
    ASSERT_TRUE(WaitUntil([&] {
        auto stream = Subscribe(*client->shaking);
        if (!stream->open) {
            EndOf(*stream);
            return false;
        }
        streams.push_back(std::move(stream));
        return true;
    }));

    server.SignalTerminate();
    for (auto& stream : streams) {
        const grpc::Status end = EndOf(*stream);
        EXPECT_TRUE(end.ok()) << end.error_code() << " " << end.error_message();
    }
    EXPECT_EQ(server.WaitForExit(), 0) << server.Output();
}

// A finished execution is kept a lifetime after its end and then forgotten; beyond the count
// the oldest finished one goes first, a running one never.
TEST(ExecutionStore, ForgetsByLifetimeAndCountButNeverARunningExecution) {
    using Clock = CExecutionStore::Clock;
    const Clock::time_point t0{};
    CExecutionStore store(3);
    ExecutionRecord& running = store.Add("running", 10, t0, t0);
    store.Add("a", 10, t0, t0).finished = true;
    store.Add("b", 10, t0, t0).finished = true;
    store.Add("c", 10, t0, t0);  // the oldest finished makes room
    EXPECT_EQ(store.Find("a", t0), nullptr);
    EXPECT_NE(store.Find("b", t0), nullptr);
    EXPECT_EQ(&running, store.Find("running", t0));

    // A run that went on longer is kept a lifetime after its real end.
    ExecutionRecord& b = *store.Find("b", t0);
    CExecutionStore::KeepUntilAfter(b, t0 + std::chrono::minutes(5));
    CExecutionStore::KeepUntilAfter(b, t0);  // never shortened
    const auto lifetime = CExecutionStore::kLifetime;
    EXPECT_NE(store.Find("b", t0 + lifetime + std::chrono::minutes(4)), nullptr);
    EXPECT_EQ(store.Find("b", t0 + lifetime + std::chrono::minutes(5)), nullptr);
    EXPECT_NE(store.Find("running", t0 + 10 * lifetime), nullptr);
    store.Add("d", 10, t0, t0 + 2 * lifetime);
    EXPECT_EQ(store.Size(), 3u);  // the expired one gone: running, c, d
}
