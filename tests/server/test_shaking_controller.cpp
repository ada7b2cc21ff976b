#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>

#include "ShakingController.grpc.pb.h"
#include "link/frames.h"
#include "server_support.h"
#include "sim/simulated_shaker.h"

namespace fw = sila2::org::silastandard;
namespace sc = sila2::org::velmora::instruments::shakingcontroller::v1;

namespace {

const std::string kFeature = "org.velmora/instruments/ShakingController/v1";
const std::string kSpeed = kFeature + "/Command/StartShaking/Parameter/Speed";
const std::string kTime = kFeature + "/Command/StartShaking/Parameter/Time";

// A time unit short enough for runs of a few poll cycles.
constexpr std::chrono::milliseconds kUnit{200};

std::string ErrorId(const std::string& name) {
    return kFeature + "/DefinedExecutionError/" + name;
}

// Everything one client saw of one execution, collected on threads of its own.
struct Watch {
    std::vector<fw::ExecutionInfo> infos;
    std::vector<sc::StartShaking_IntermediateResponses> intermediates;
    std::thread infoThread, intermediateThread;

    Watch(sc::ShakingController::Stub& stub, const std::string& uuid) {
        fw::CommandExecutionUUID id;
        id.set_value(uuid);
        infoThread = std::thread([this, &stub, id] {
            grpc::ClientContext context;
            auto reader = stub.StartShaking_Info(&context, id);
            fw::ExecutionInfo info;
            while (reader->Read(&info))
                infos.push_back(info);
            reader->Finish();
        });
        intermediateThread = std::thread([this, &stub, id] {
            grpc::ClientContext context;
            auto reader = stub.StartShaking_Intermediate(&context, id);
            sc::StartShaking_IntermediateResponses response;
            while (reader->Read(&response))
                intermediates.push_back(response);
            reader->Finish();
        });
    }
    // Both streams end when the run does.
    void Join() {
        infoThread.join();
        intermediateThread.join();
    }
};

// Sends one whole request on the shaker's line once the server has let go of it: a frame the
// server left cut short runs into it and shows among the malformed bytes.
bool SendProbeRequest(CSimulatedShaker& shaker) {
    const int fd = open(shaker.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return false;
    termios raw{};
    tcgetattr(fd, &raw);
    cfmakeraw(&raw);
    tcsetattr(fd, TCSANOW, &raw);
    const int before = shaker.RequestCount(kCodeRunState);
    const auto frame = BuildCommand(kCodeRunState);
    const bool written = write(fd, frame.data(), frame.size()) == ssize_t(frame.size());
    const QDeadlineTimer deadline(5000);
    while (written && shaker.RequestCount(kCodeRunState) == before && !deadline.hasExpired())
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    close(fd);
    return shaker.RequestCount(kCodeRunState) > before;
}

class ShakingController : public ::testing::Test {
  protected:
    void Serve(SimOptions options = {}, const QStringList& extra = {"--insecure"}) {
        options.timeUnit = kUnit;
        shaker = std::make_unique<CSimulatedShaker>(options);
        ASSERT_TRUE(shaker->Start());
        ASSERT_TRUE(server.Start(shaker->SlavePath(), extra)) << server.Output();
        stub = sc::ShakingController::NewStub(server.InsecureChannel());
        shaker->ClearRecords();
    }

    grpc::Status Start(int speed, int time, std::string* uuid = nullptr) {
        grpc::ClientContext context;
        sc::StartShaking_Parameters request;
        request.mutable_speed()->set_value(speed);
        request.mutable_time()->set_value(time);
        fw::CommandConfirmation confirmation;
        const grpc::Status status = stub->StartShaking(&context, request, &confirmation);
        if (uuid)
            *uuid = confirmation.commandexecutionuuid().value();
        return status;
    }

    grpc::Status Stop() {
        grpc::ClientContext context;
        sc::StopShaking_Responses response;
        return stub->StopShaking(&context, {}, &response);
    }

    grpc::Status Result(const std::string& uuid, sc::StartShaking_Responses& result) {
        grpc::ClientContext context;
        fw::CommandExecutionUUID id;
        id.set_value(uuid);
        return stub->StartShaking_Result(&context, id, &result);
    }

    // The run's first poll cycle has sent its last request: a request in flight always ends
    // its frame, and the line stays quiet until the next cycle, so what the server sends next
    // is recorded first.
    void WaitForQuietLine() {
        const QDeadlineTimer deadline(10000);
        while (shaker->RequestCount(kCodeRunState) == 0 && !deadline.hasExpired())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    bool Running() {
        grpc::ClientContext context;
        context.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(10));
        auto reader = stub->Subscribe_Running(&context, {});
        sc::Subscribe_Running_Responses response;
        const bool read = reader->Read(&response);
        context.TryCancel();
        reader->Finish();
        return read && response.running().value();
    }

    // The Alarms property's first value that holds any.
    std::vector<std::string> StandingAlarms() {
        grpc::ClientContext context;
        context.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(10));
        auto reader = stub->Subscribe_Alarms(&context, {});
        sc::Subscribe_Alarms_Responses response;
        std::vector<std::string> alarms;
        while (alarms.empty() && reader->Read(&response)) {
            for (const auto& alarm : response.alarms())
                alarms.push_back(alarm.value());
        }
        context.TryCancel();
        reader->Finish();
        return alarms;
    }

    static fw::SiLAError ErrorOf(const grpc::Status& status) {
        fw::SiLAError error;
        EXPECT_TRUE(DecodeSiLAError(status, error))
            << status.error_code() << " " << status.error_message();
        return error;
    }

    std::unique_ptr<CSimulatedShaker> shaker;
    CServerProcess server;
    std::unique_ptr<sc::ShakingController::Stub> stub;
};

}  // namespace

// A whole run as a scheduler drives it: the instrument gets the window's frames, the client
// watches progress and samples, a second client watches the speed, and the result is the run's
// record.
TEST_F(ShakingController, RunsToTheEndAsTheWindowsStartDoes) {
    Serve();
    // A second client, subscribed before the run.
    auto other = sc::ShakingController::NewStub(server.InsecureChannel());
    std::vector<std::int64_t> speeds;
    std::vector<bool> running;
    std::mutex runningMutex;  // guards running while its watcher fills it
    std::condition_variable runningGrew;
    grpc::ClientContext speedContext, runningContext;
    std::thread speedWatcher([&] {
        auto reader = other->Subscribe_CurrentSpeed(&speedContext, {});
        sc::Subscribe_CurrentSpeed_Responses response;
        while (reader->Read(&response))
            speeds.push_back(response.currentspeed().value());
    });
    std::thread runningWatcher([&] {
        auto reader = other->Subscribe_Running(&runningContext, {});
        sc::Subscribe_Running_Responses response;
        while (reader->Read(&response)) {
            std::lock_guard<std::mutex> lock(runningMutex);
            running.push_back(response.running().value());
            runningGrew.notify_all();
        }
    });

    // KW41: 100 ... 500.
    EXPECT_EQ(ErrorOf(Start(501, 10)).validationerror().parameter(), kSpeed);
    std::string uuid;
    ASSERT_TRUE(Start(250, 10, &uuid).ok());
    Watch watch(*stub, uuid);
    watch.Join();
    {
        // The property travels on a stream of its own: its last change may arrive after the
        // command's streams have ended.
        std::unique_lock<std::mutex> lock(runningMutex);
        runningGrew.wait_for(lock, std::chrono::seconds(10), [&] { return running.size() >= 3; });
    }
    speedContext.TryCancel();
    runningContext.TryCancel();
    speedWatcher.join();
    runningWatcher.join();

    ASSERT_GE(watch.infos.size(), 2u);
    EXPECT_EQ(watch.infos.front().commandstatus(), fw::ExecutionInfo::running);
    EXPECT_EQ(watch.infos.back().commandstatus(), fw::ExecutionInfo::finishedSuccessfully);
    for (std::size_t i = 1; i < watch.infos.size(); ++i)
        EXPECT_GE(watch.infos[i].progressinfo().value(), watch.infos[i - 1].progressinfo().value());
    // A port of its own is a real instrument to the server: its unit is the second.
    EXPECT_EQ(watch.infos.front().estimatedremainingtime().seconds(), 10);
    EXPECT_EQ(watch.infos.front().progressinfo().value(), 0.0);

    sc::StartShaking_Responses result;
    ASSERT_TRUE(Result(uuid, result).ok());
    ASSERT_GE(result.speeds_size(), 1);
    ASSERT_EQ(result.speeds_size(), result.remainingtimes_size());
    ASSERT_EQ(static_cast<int>(watch.intermediates.size()), result.speeds_size());
    for (int i = 0; i < result.speeds_size(); ++i) {
        EXPECT_EQ(watch.intermediates[i].currentspeed().value(), result.speeds(i).value());
        EXPECT_EQ(watch.intermediates[i].remainingtime().value(), result.remainingtimes(i).value());
    }

    // The instrument saw SetSpeed, SetTime, then nothing but the poller's and the setpoints'
    // queries.
    const auto requests = shaker->Requests();
    ASSERT_GE(requests.size(), 4u);
    EXPECT_EQ(requests[0], BuildCommand(kCodeSetSpeed, 250));
    EXPECT_EQ(requests[1], BuildCommand(kCodeSetTime, 10));
    for (std::size_t i = 2; i < requests.size(); ++i)
        EXPECT_TRUE(requests[i] == BuildCommand(kCodeStatus) ||
                    requests[i] == BuildCommand(kCodeRunState))
            << i;

    // The other client saw the speed at once (the idle setpoint), then the run's speeds.
    ASSERT_GE(speeds.size(), 2u);
    EXPECT_EQ(speeds.front(), 300);
    EXPECT_NE(std::find(speeds.begin(), speeds.end(), result.speeds(0).value()), speeds.end());
    EXPECT_EQ(running, (std::vector<bool>{false, true, false}));
    EXPECT_EQ(server.Terminate(), 0);
    EXPECT_NE(server.Output().find("run ended: "), std::string::npos) << server.Output();
}

// Each refusal is the standard's error with the feature's own identifiers; Stop ends a run,
// whose execution then ends with an error, not as if its time had run out.
TEST_F(ShakingController, RefusesAsTheStandardSaysAndStops) {
    // KW27: no speed limits of its own, so only the server's bounds keep 900 from it.
    SimOptions kw27;
    kw27.deviceId = "KW27-VTX-SIM";
    Serve(kw27);
    EXPECT_EQ(ErrorOf(Start(900, 10)).validationerror().parameter(), kSpeed);
    EXPECT_EQ(ErrorOf(Start(99, 10)).validationerror().parameter(), kSpeed);
    EXPECT_EQ(ErrorOf(Start(300, 65536)).validationerror().parameter(), kTime);
    EXPECT_EQ(ErrorOf(Start(300, -1)).validationerror().parameter(), kTime);
    // Time 0 would run nothing and "finish" a second later.
    const fw::ValidationError timeZero = ErrorOf(Start(300, 0)).validationerror();
    EXPECT_EQ(timeZero.parameter(), kTime);
    EXPECT_EQ(timeZero.message(), "The time must be between 1 and 65535.");
    EXPECT_TRUE(shaker->Requests().empty());

    shaker->InjectFor(kCodeSetSpeed, CSimulatedShaker::Fault::NonZeroStatus, 1);
    shaker->InjectFor(kCodeSetTime, CSimulatedShaker::Fault::NonZeroStatus, 1);
    EXPECT_EQ(ErrorOf(Start(300, 1)).definedexecutionerror().erroridentifier(),
              ErrorId("RunRefused"));
    // The shaker acts on a command whose reply is refused: that one time unit runs out first.
    ASSERT_TRUE(WaitUntil([&] { return !shaker->CurrentState().running; }));
    // The time alone starts the instrument at its own setpoint: a run nobody asked for.
    shaker->InjectFor(kCodeSetSpeed, CSimulatedShaker::Fault::NonZeroStatus, 1);
    EXPECT_EQ(ErrorOf(Start(350, 1000)).definedexecutionerror().erroridentifier(),
              ErrorId("RunRefused"));
    EXPECT_FALSE(shaker->CurrentState().running);
    EXPECT_FALSE(Running());

    shaker->ClearRecords();
    std::string uuid;
    ASSERT_TRUE(Start(300, 1000, &uuid).ok());
    EXPECT_EQ(ErrorOf(Start(300, 10)).definedexecutionerror().erroridentifier(),
              kFeature + "/DefinedExecutionError/RunInProgress");
    sc::StartShaking_Responses result;
    EXPECT_EQ(ErrorOf(Result(uuid, result)).frameworkerror().errortype(),
              fw::FrameworkError::COMMAND_EXECUTION_NOT_FINISHED);
    EXPECT_EQ(ErrorOf(Result("0b7b4e2c-0000-4000-8000-000000000000", result))
                  .frameworkerror()
                  .errortype(),
              fw::FrameworkError::INVALID_COMMAND_EXECUTION_UUID);

    Watch watch(*stub, uuid);
    WaitForQuietLine();
    shaker->ClearRecords();
    ASSERT_TRUE(Stop().ok());
    watch.Join();
    EXPECT_FALSE(shaker->CurrentState().running);
    ASSERT_FALSE(shaker->Requests().empty());
    EXPECT_EQ(shaker->Requests().front(), BuildCommand(kCodeSetSpeed, 300));
    ASSERT_FALSE(watch.infos.empty());
    EXPECT_EQ(watch.infos.back().commandstatus(), fw::ExecutionInfo::finishedWithError);
    EXPECT_LT(watch.infos.back().progressinfo().value(), 0.5);
    EXPECT_EQ(ErrorOf(Result(uuid, result)).definedexecutionerror().erroridentifier(),
              ErrorId("RunStopped"));
    EXPECT_EQ(server.Terminate(), 0);
}

// A stop the instrument never confirmed may have left it running: the client must hear so.
TEST_F(ShakingController, AnUnconfirmedStopIsAnError) {
    Serve();
    std::string uuid;
    ASSERT_TRUE(Start(300, 1000, &uuid).ok());
    ASSERT_TRUE(WaitUntil([&] { return shaker->RequestCount(kCodeStatus) > 0; }));
    // Every one of the stop's four sends refused.
    shaker->InjectFor(kCodeSetSpeed, CSimulatedShaker::Fault::NonZeroStatus, 4);
    EXPECT_EQ(ErrorOf(Stop()).definedexecutionerror().erroridentifier(),
              ErrorId("StopNotConfirmed"));
    EXPECT_EQ(StandingAlarms(), std::vector<std::string>{
                                    "stop not confirmed: The instrument did not confirm the stop"});
}

// A run whose link stays down is given up after the server's reconnection time: its execution
// ends with LinkLost, not as if its time had run out.
TEST_F(ShakingController, GivesUpARunWhoseLinkStaysDown) {
    Serve({}, {"--insecure", "--reconnect-timeout", "1"});
    std::string uuid;
    ASSERT_TRUE(Start(300, 1000, &uuid).ok());
    Watch watch(*stub, uuid);
    EXPECT_TRUE(WaitUntil([&] { return shaker->RequestCount(kCodeStatus) > 0; }));
    shaker->Unplug();
    sc::StartShaking_Responses result;
    const bool ended = WaitUntil(
        [&] {
            fw::SiLAError error;
            return !(DecodeSiLAError(Result(uuid, result), error) && error.has_frameworkerror());
        },
        30000);
    if (!ended)
        server.Terminate();  // ends the watch's streams
    watch.Join();
    ASSERT_TRUE(ended);
    EXPECT_EQ(ErrorOf(Result(uuid, result)).definedexecutionerror().erroridentifier(),
              ErrorId("LinkLost"));
    ASSERT_FALSE(watch.infos.empty());
    EXPECT_EQ(watch.infos.back().commandstatus(), fw::ExecutionInfo::finishedWithError);
    EXPECT_LT(watch.infos.back().progressinfo().value(), 0.5);
    EXPECT_EQ(StandingAlarms(),
              std::vector<std::string>{"run ended early: The run was given up: the link to the "
                                       "instrument did not come back"});
}

// A server restarted after a crash finds the instrument running: it says so, follows the run
// and stops it.
TEST_F(ShakingController, WatchesARunFoundRunningAfterARestart) {
    Serve();
    ASSERT_TRUE(Start(350, 1000).ok());
    ASSERT_TRUE(WaitUntil([&] { return shaker->RequestCount(kCodeStatus) > 0; }));
    server.Kill();
    ASSERT_TRUE(shaker->CurrentState().running);

    CServerProcess restarted;
    restarted.ShareFoldersWith(server);
    ASSERT_TRUE(restarted.Start(shaker->SlavePath())) << restarted.Output();
    stub = sc::ShakingController::NewStub(restarted.InsecureChannel());
    EXPECT_TRUE(Running());
    // After the setpoint shown at the connection, the remaining time counts down with the
    // instrument's.
    std::vector<std::int64_t> remaining;
    {
        grpc::ClientContext context;
        context.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(10));
        auto reader = stub->Subscribe_RemainingTime(&context, {});
        sc::Subscribe_RemainingTime_Responses response;
        while (reader->Read(&response)) {
            if (response.remainingtime().value() < 1000)
                remaining.push_back(response.remainingtime().value());
            if (remaining.size() >= 2)
                break;
        }
        context.TryCancel();
        reader->Finish();
    }
    ASSERT_EQ(remaining.size(), 2u);
    EXPECT_LT(remaining.back(), remaining.front());

    shaker->ClearRecords();
    ASSERT_TRUE(Stop().ok());
    EXPECT_FALSE(shaker->CurrentState().running);
    const auto requests = shaker->Requests();
    EXPECT_NE(std::find(requests.begin(), requests.end(), BuildCommand(kCodeSetSpeed, 350)),
              requests.end());
    EXPECT_FALSE(Running());
    EXPECT_EQ(restarted.Terminate(), 0);
}

// An instrument of no listed type, and one that isn't there. The first one's ID holds an
// escape sequence and a byte that is no UTF-8: clients and the log get them escaped.
TEST_F(ShakingController, UnlistedAndMissingInstruments) {
    SimOptions unlisted;
    unlisted.deviceId = "XY12\x1b[2J\xff";
    Serve(unlisted);
    grpc::ClientContext deviceIdContext;
    sc::Get_DeviceId_Responses deviceId;
    ASSERT_TRUE(stub->Get_DeviceId(&deviceIdContext, {}, &deviceId).ok());
    EXPECT_EQ(deviceId.deviceid().value(), "XY12\\x1B[2J\\xFF");
    EXPECT_EQ(ErrorOf(Start(300, 10)).definedexecutionerror().erroridentifier(),
              kFeature + "/DefinedExecutionError/UnlistedInstrument");
    grpc::ClientContext typeContext;
    sc::Get_DeviceType_Responses type;
    ASSERT_TRUE(stub->Get_DeviceType(&typeContext, {}, &type).ok());
    EXPECT_EQ(type.devicetype().value(), 4);
    EXPECT_TRUE(shaker->Requests().empty());
    EXPECT_EQ(server.Terminate(), 0);
    EXPECT_NE(server.Output().find("instrument XY12\\x1B[2J\\xFF (type 4)"), std::string::npos)
        << server.Output();

    CServerProcess missing;
    ASSERT_TRUE(missing.Start(QDir::tempPath().toStdString() + "/no-such-port"))
        << missing.Output();
    auto missingStub = sc::ShakingController::NewStub(missing.InsecureChannel());
    const std::string notConnected = kFeature + "/DefinedExecutionError/InstrumentNotConnected";
    grpc::ClientContext startContext, stopContext, idContext;
    sc::StartShaking_Parameters request;
    request.mutable_speed()->set_value(300);
    request.mutable_time()->set_value(10);
    fw::CommandConfirmation confirmation;
    EXPECT_EQ(ErrorOf(missingStub->StartShaking(&startContext, request, &confirmation))
                  .definedexecutionerror()
                  .erroridentifier(),
              notConnected);
    sc::StopShaking_Responses stopped;
    EXPECT_EQ(ErrorOf(missingStub->StopShaking(&stopContext, {}, &stopped))
                  .definedexecutionerror()
                  .erroridentifier(),
              notConnected);
    sc::Get_DeviceId_Responses id;
    EXPECT_EQ(ErrorOf(missingStub->Get_DeviceId(&idContext, {}, &id))
                  .definedexecutionerror()
                  .erroridentifier(),
              notConnected);
    EXPECT_EQ(missing.Terminate(), 0);
}

// SIGTERM during a run: the instrument is stopped as Stop does, watchers see the end, the
// journal has its end line, and the server exits cleanly.
TEST_F(ShakingController, SigtermMidRunStopsTheInstrumentAndEndsTheJournal) {
    Serve();
    std::string uuid;
    ASSERT_TRUE(Start(350, 1000, &uuid).ok());
    Watch watch(*stub, uuid);
    while (watch.intermediates.empty() && shaker->CurrentState().running)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    WaitForQuietLine();
    shaker->ClearRecords();
    EXPECT_EQ(server.Terminate(), 0) << server.Output();
    watch.Join();

    EXPECT_FALSE(shaker->CurrentState().running);
    ASSERT_FALSE(shaker->Requests().empty());
    EXPECT_EQ(shaker->Requests().front(), BuildCommand(kCodeSetSpeed, 350));
    ASSERT_FALSE(watch.infos.empty());
    EXPECT_EQ(watch.infos.back().commandstatus(), fw::ExecutionInfo::finishedWithError);
    EXPECT_LT(watch.infos.back().progressinfo().value(), 0.5);

    const QStringList journals = QDir(server.JournalFolder()).entryList(QDir::Files);
    ASSERT_EQ(journals.size(), 1) << server.Output();
    QFile journal(server.JournalFolder() + "/" + journals.front());
    ASSERT_TRUE(journal.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(journal.readAll());
    EXPECT_TRUE(text.contains("\n# end\tStop\t")) << text.toStdString();
}

// SIGTERM at random moments of a run, from its StartShaking on, at the real pace of 50 ms a
// byte: the server never leaves half a frame on the line and always stops the instrument.
// Several servers run side by side, each on a shaker of its own, to fit twenty moments in.
TEST(ShakingControllerSigterm, StopsTheRunWithWholeFramesAtAnyMoment) {
    constexpr int kServers = 5;
    constexpr int kMomentsEach = 4;
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    struct Moment {
        int delayMs = 0;
        bool served = false;
        int exitCode = -1;
        long long malformed = -1;
        bool stillRunning = true;
        bool probed = false;
        std::string output;
    };
    std::vector<Moment> moments(kServers * kMomentsEach);
    std::mt19937 random(seed);
    // From the start request to past the first poll cycles.
    std::uniform_int_distribution<int> delay(0, 2500);
    for (auto& moment : moments)
        moment.delayMs = delay(random);

    std::vector<std::thread> lanes;
    for (int lane = 0; lane < kServers; ++lane) {
        lanes.emplace_back([&moments, lane] {
            for (int i = lane * kMomentsEach; i < (lane + 1) * kMomentsEach; ++i) {
                Moment& moment = moments[i];
                SimOptions options;
                options.deviceId = "KW41VTX";  // short: the connection reads it at 50 ms a byte
                CSimulatedShaker shaker(options);
                CServerProcess server;
                if (!shaker.Start() || !server.Start(shaker.SlavePath())) {
                    moment.output = server.Output();
                    continue;
                }
                moment.served = true;
                auto stub = sc::ShakingController::NewStub(server.InsecureChannel());
                std::thread client([&stub] {
                    grpc::ClientContext context;
                    sc::StartShaking_Parameters request;
                    request.mutable_speed()->set_value(350);
                    request.mutable_time()->set_value(1000);
                    fw::CommandConfirmation confirmation;
                    stub->StartShaking(&context, request, &confirmation);
                });
                std::this_thread::sleep_for(std::chrono::milliseconds(moment.delayMs));
                moment.exitCode = server.Terminate();
                client.join();
                moment.probed = SendProbeRequest(shaker);
                moment.malformed = shaker.MalformedBytes();
                moment.stillRunning = shaker.CurrentState().running;
                moment.output = server.Output();
            }
        });
    }
    for (auto& lane : lanes)
        lane.join();

    for (const Moment& moment : moments) {
        SCOPED_TRACE("SIGTERM " + std::to_string(moment.delayMs) + " ms after StartShaking");
        ASSERT_TRUE(moment.served) << moment.output;
        EXPECT_EQ(moment.exitCode, 0) << moment.output;
        EXPECT_TRUE(moment.probed);
        EXPECT_EQ(moment.malformed, 0) << moment.output;
        EXPECT_FALSE(moment.stillRunning) << moment.output;
    }
}
