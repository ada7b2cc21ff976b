#include "server/shaking_controller_service.h"

#include <QSysInfo>
#include <algorithm>
#include <limits>
#include <optional>

#include "run/instrument_models.h"
#include "server/access_guard.h"
#include "server/admitted_user.h"
#include "server/call_log.h"
#include "server/feature_definitions.h"
#include "server/shaker_backend.h"
#include "server/sila_error.h"
#include "server/stream_gate.h"

namespace fw = sila2::org::silastandard;
namespace sc = sila2::org::velmora::instruments::shakingcontroller::v1;

namespace {

const std::string kFeature = kShakingControllerFeature;
const std::string kSpeedParameter = kFeature + "/Command/StartShaking/Parameter/Speed";
const std::string kTimeParameter = kFeature + "/Command/StartShaking/Parameter/Time";

// A watcher also notices a client that went away at least this often.
constexpr std::chrono::milliseconds kCancelCheck{500};

std::string ErrorId(const char* name) {
    return kFeature + "/DefinedExecutionError/" + name;
}

grpc::Status NotReady() {
    return sila_error::Defined(
        ErrorId("InstrumentNotReady"),
        "The server is identifying the instrument; try again in a few seconds.");
}

grpc::Status NotConnected() {
    return sila_error::Defined(
        ErrorId("InstrumentNotConnected"),
        "The instrument could not be connected when the server started or changed mode.");
}

// The engine takes one start or stop at a time; a client's request meets another client's.
grpc::Status Busy() {
    return sila_error::Undefined(
        "Another client's start or stop is under way on the instrument; try again when it ends.");
}

grpc::Status Going() {
    return sila_error::Undefined("The server is shutting down.");
}

// A value far outside every range stays outside it as an int.
int ClampToInt(std::int64_t value) {
    return static_cast<int>(std::clamp<std::int64_t>(value, std::numeric_limits<int>::min(),
                                                     std::numeric_limits<int>::max()));
}

std::string RangeText(const SpeedLimits& limits) {
    return std::to_string(limits.low) + " and " + std::to_string(limits.high);
}

// The error of a start that did not start a run; none when it did.
std::optional<grpc::Status> StartError(const StartOutcome& outcome, const InstrumentModel& model) {
    switch (outcome.result) {
        case StartOutcome::Result::Started:
            return std::nullopt;
        case StartOutcome::Result::NotConnected:
            return NotConnected();
        case StartOutcome::Result::SpeedOutOfRange:
            return sila_error::Validation(kSpeedParameter,
                                          "This instrument's speed must be between " +
                                              RangeText(outcome.limits.value_or(model.speedField)) +
                                              " 1/min.");
        case StartOutcome::Result::Unlisted:
            return sila_error::Defined(
                ErrorId("UnlistedInstrument"),
                "The instrument is of no listed type; no run can be started on it.");
        case StartOutcome::Result::Refused:
            return sila_error::Defined(
                ErrorId("RunRefused"),
                "The instrument acknowledged neither the speed nor the time.");
        case StartOutcome::Result::SpeedRefused:
            // A run at a speed nobody asked for is no run to hand a client.
            return sila_error::Defined(
                ErrorId("RunRefused"),
                outcome.stopConfirmed
                    ? "The instrument refused the speed; it had started on the time and was "
                      "stopped again."
                    : "The instrument refused the speed; it had started on the time, and did not "
                      "confirm the stop sent after it: it may be running at its own setpoint.");
        case StartOutcome::Result::TimeOutOfRange:
            return sila_error::Validation(
                kTimeParameter, "The time must be between " +
                                    RangeText(outcome.limits.value_or(model.timeField)) + ".");
        case StartOutcome::Result::Busy:
            return sila_error::Defined(
                ErrorId("RunInProgress"),
                "Another client's start or stop is under way; wait for its end.");
    }
    return sila_error::Undefined("The engine gave an unknown answer.");
}

// The error an execution that ended before its time finishes with; none for a run's own end.
std::optional<grpc::Status> EndingError(CShakerBackend::Ending ending) {
    using Ending = CShakerBackend::Ending;
    switch (ending) {
        case Ending::Succeeded:
            return std::nullopt;
        case Ending::Stopped:
            return sila_error::Defined(ErrorId("RunStopped"),
                                       "Stop Shaking ended the run before its time was up.");
        case Ending::Cancelled:
            return sila_error::Defined(ErrorId("RunCancelled"),
                                       "The run was cancelled before its time was up.");
        case Ending::LinkLost:
            return sila_error::Defined(
                ErrorId("LinkLost"),
                "The link to the instrument was lost and did not come back; the run was given "
                "up and the instrument may run on.");
        case Ending::ServerShutdown:
            return sila_error::Defined(ErrorId("ServerShutdown"),
                                       "The server was shut down during the run.");
    }
    return sila_error::Undefined("The run ended in an unknown way.");
}

grpc::Status UnknownExecution(const std::string& uuid) {
    // Only a UUID's length of the client's text goes back to it.
    const bool echo =
        uuid.size() == 36 && uuid.find_first_not_of("0123456789abcdefABCDEF-") == std::string::npos;
    return sila_error::Framework(fw::FrameworkError::INVALID_COMMAND_EXECUTION_UUID,
                                 "No execution of StartShaking has " +
                                     (echo ? "the UUID '" + uuid + "'" : "this UUID") +
                                     "; an execution is forgotten an hour after its end.");
}

void SetDuration(fw::Duration& duration, std::chrono::nanoseconds length) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(length);
    duration.set_seconds(seconds.count());
    duration.set_nanos(static_cast<int>((length - seconds).count()));
}

// How long the server keeps the execution from now on.
void SetLifetime(fw::Duration& duration, const CShakerBackend::Execution& execution) {
    SetDuration(duration, std::max(std::chrono::nanoseconds(0),
                                   std::chrono::nanoseconds(execution.expiry -
                                                            CExecutionStore::Clock::now())));
}

// The journal's "started by": the client's user on this server's machine, else the account
// the server runs under.
std::string StartedBy(const Admission& admission) {
    if (admission.user.empty())
        return CRunController::LocalUser();
    return admission.user + "@" + QSysInfo::machineHostName().toStdString();
}

// Types without limits of their own take the speed entry's bounds.
SpeedLimits StartableSpeeds(int type) {
    const auto deviceType = static_cast<DeviceType>(type);
    return RunSpeedLimits(deviceType).value_or(ModelOf(deviceType).speedField);
}

fw::ExecutionInfo InfoOf(const CShakerBackend::Execution& execution,
                         std::chrono::milliseconds unit) {
    fw::ExecutionInfo info;
    const int remaining = std::max(
        0, execution.samples.empty() ? execution.time : execution.samples.back().remaining);
    const double progress =
        execution.time > 0 ? 1.0 - static_cast<double>(remaining) / execution.time : 0.0;
    if (execution.finished) {
        const bool succeeded = execution.ending == CShakerBackend::Ending::Succeeded;
        info.set_commandstatus(succeeded ? fw::ExecutionInfo::finishedSuccessfully
                                         : fw::ExecutionInfo::finishedWithError);
        // A run cut short got only as far as its last sample.
        info.mutable_progressinfo()->set_value(succeeded ? 1.0 : std::clamp(progress, 0.0, 1.0));
        info.mutable_estimatedremainingtime();
        return info;
    }
    info.set_commandstatus(fw::ExecutionInfo::running);
    info.mutable_progressinfo()->set_value(std::clamp(progress, 0.0, 1.0));
    SetDuration(*info.mutable_estimatedremainingtime(), unit * remaining);
    return info;
}

// Sends the watched value at once and then every change of it, until the client goes or the
// server does. Until the instrument has been identified there is no value to send.
template <typename Response, typename Value, typename Pick, typename Fill>
grpc::Status Watch(const CShakerBackend& backend, CStreamGate& streams,
                   grpc::ServerContext* context, grpc::ServerWriter<Response>* writer, Pick pick,
                   Fill fill) {
    const CStreamGate::Pass pass = streams.Enter();
    if (!pass)
        return streams.Full();
    auto state = backend.CurrentState();
    std::optional<Value> sent;
    while (!state.closed && !context->IsCancelled()) {
        const Value value = pick(state);
        if (backend.DeviceInfo().ready && (!sent || *sent != value)) {
            Response response;
            fill(response, value);
            if (!writer->Write(response))
                break;
            sent = value;
        }
        state = backend.WaitForChange(state.version, kCancelCheck);
    }
    return grpc::Status::OK;
}

}  // namespace

CShakingControllerService::CShakingControllerService(CShakerBackend& backend, CCallLog& log,
                                                     CAccessGuard& guard, CStreamGate& streams)
    : m_backend(backend), m_log(log), m_guard(guard), m_streams(streams) {}

grpc::Status CShakingControllerService::StartShaking(grpc::ServerContext* context,
                                                     const sc::StartShaking_Parameters* request,
                                                     fw::CommandConfirmation* response) {
    std::string what = "StartShaking speed " + std::to_string(request->speed().value()) + " time " +
                       std::to_string(request->time().value());
    const auto refuse = [&](const grpc::Status& status, const std::string& why) {
        m_log.Command(context, what + ": " + why);
        return status;
    };
    Admission admission;
    if (const grpc::Status admitted = m_guard.Admit(context, Guard::TokenAndLock, admission);
        !admitted.ok())
        return refuse(admitted, "not admitted");
    what += ByUser(admission);
    if (!request->has_speed())
        return refuse(sila_error::Validation(kSpeedParameter, "The speed is missing."), "no speed");
    if (!request->has_time())
        return refuse(sila_error::Validation(kTimeParameter, "The time is missing."), "no time");
    const std::int64_t speed = request->speed().value();
    const std::int64_t time = request->time().value();
    const CShakerBackend::Device device = m_backend.DeviceInfo();
    if (!device.ready)
        return refuse(NotReady(), "the instrument is not identified yet");
    const InstrumentModel& model = ModelOf(static_cast<DeviceType>(device.type));
    if (!model.speedField.Contains(ClampToInt(speed)))
        return refuse(
            sila_error::Validation(kSpeedParameter, "The speed must be between " +
                                                        RangeText(model.speedField) + " 1/min."),
            "speed out of range");
    if (!model.timeField.Contains(ClampToInt(time)))
        return refuse(sila_error::Validation(kTimeParameter, "The time must be between " +
                                                                 RangeText(model.timeField) + "."),
                      "time out of range");

    std::optional<grpc::Status> error;
    CShakerBackend::StartFuture started;
    const bool ran = m_backend.Call([&](CRunController& engine) {
        // A change of mode may have begun since the validation above.
        if (!m_backend.DeviceInfo().ready) {
            error = NotReady();
            return;
        }
        if (engine.ConnectionFailed()) {
            error = NotConnected();
            return;
        }
        if (engine.Running()) {
            error = sila_error::Defined(ErrorId("RunInProgress"),
                                        "A run is in progress; stop it or wait for its end.");
            return;
        }
        engine.SetStartedBy(StartedBy(admission));
        started = m_backend.Start(static_cast<int>(speed), static_cast<int>(time));
    });
    if (!ran)
        return refuse(Going(), "refused, the server is going");
    std::string uuid;
    if (!error) {
        const std::optional<CShakerBackend::StartReply> reply = started.get();
        if (!reply)
            return refuse(Going(), "refused, the server is going");
        error = StartError(reply->outcome, model);
        uuid = reply->execution;
    }
    if (error) {
        fw::SiLAError decoded;
        sila_error::Decode(*error, decoded);
        return refuse(*error, decoded.has_definedexecutionerror()
                                  ? decoded.definedexecutionerror().erroridentifier()
                                  : decoded.validationerror().message());
    }
    m_log.Command(context, what + ": started, execution " + uuid);
    response->mutable_commandexecutionuuid()->set_value(uuid);
    if (const auto execution = m_backend.FindExecution(uuid))
        SetLifetime(*response->mutable_lifetimeofexecution(), *execution);
    return grpc::Status::OK;
}

grpc::Status CShakingControllerService::StartShaking_Info(
    grpc::ServerContext* context, const fw::CommandExecutionUUID* request,
    grpc::ServerWriter<fw::ExecutionInfo>* writer) {
    m_log.Seen(context);
    const CStreamGate::Pass pass = m_streams.Enter();
    if (!pass)
        return m_streams.Full();
    auto state = m_backend.CurrentState();
    auto execution = m_backend.FindExecution(request->value());
    if (!execution)
        return UnknownExecution(request->value());
    std::string sent;
    while (execution && !context->IsCancelled()) {
        fw::ExecutionInfo info = InfoOf(*execution, m_backend.TimeUnit());
        // The lifetime counts down all the time: only a change of the rest is news.
        const std::string bytes = info.SerializeAsString();
        if (bytes != sent) {
            SetLifetime(*info.mutable_updatedlifetimeofexecution(), *execution);
            if (!writer->Write(info))
                break;
            sent = bytes;
        }
        if (execution->finished || state.closed)
            break;
        state = m_backend.WaitForChange(state.version, kCancelCheck);
        execution = m_backend.FindExecution(request->value());
    }
    return grpc::Status::OK;
}

grpc::Status CShakingControllerService::StartShaking_Intermediate(
    grpc::ServerContext* context, const fw::CommandExecutionUUID* request,
    grpc::ServerWriter<sc::StartShaking_IntermediateResponses>* writer) {
    m_log.Seen(context);
    const CStreamGate::Pass pass = m_streams.Enter();
    if (!pass)
        return m_streams.Full();
    auto state = m_backend.CurrentState();
    auto execution = m_backend.FindExecution(request->value());
    if (!execution)
        return UnknownExecution(request->value());
    // Responses from the moment of subscription on, as with any stream.
    std::size_t next = execution->samples.size();
    while (execution && !context->IsCancelled()) {
        for (; next < execution->samples.size(); ++next) {
            sc::StartShaking_IntermediateResponses response;
            response.mutable_currentspeed()->set_value(execution->samples[next].speed);
            response.mutable_remainingtime()->set_value(execution->samples[next].remaining);
            if (!writer->Write(response))
                return grpc::Status::OK;
        }
        if (execution->finished || state.closed)
            break;
        state = m_backend.WaitForChange(state.version, kCancelCheck);
        execution = m_backend.FindExecution(request->value());
    }
    return grpc::Status::OK;
}

grpc::Status CShakingControllerService::StartShaking_Result(grpc::ServerContext* context,
                                                            const fw::CommandExecutionUUID* request,
                                                            sc::StartShaking_Responses* response) {
    m_log.Seen(context);
    const auto execution = m_backend.FindExecution(request->value());
    if (!execution)
        return UnknownExecution(request->value());
    if (!execution->finished)
        return sila_error::Framework(fw::FrameworkError::COMMAND_EXECUTION_NOT_FINISHED,
                                     "The run is still in progress.");
    if (const auto error = EndingError(execution->ending))
        return *error;
    for (const auto speed : execution->speeds)
        response->add_speeds()->set_value(speed);
    for (const auto remaining : execution->remainingTimes)
        response->add_remainingtimes()->set_value(remaining);
    return grpc::Status::OK;
}

grpc::Status CShakingControllerService::StopShaking(grpc::ServerContext* context,
                                                    const sc::StopShaking_Parameters*,
                                                    sc::StopShaking_Responses*) {
    std::string what = "StopShaking";
    const auto answer = [&](const grpc::Status& status, const std::string& how) {
        m_log.Command(context, what + how);
        return status;
    };
    Admission admission;
    if (const grpc::Status admitted = m_guard.Admit(context, Guard::Token, admission);
        !admitted.ok())
        return answer(admitted, ": not admitted");
    what += ByUser(admission);
    // Anyone may stop the instrument, but the lock's holder should hear who did.
    if (admission.locked && !admission.lockHolder)
        what += " (not the holder of the server's lock)";
    std::optional<grpc::Status> refusal;
    std::string why;
    CShakerBackend::StopFuture stopped;
    const bool ran = m_backend.Call([&](CRunController& engine) {
        if (!m_backend.DeviceInfo().ready) {
            refusal = NotReady();
            why = ": the instrument is not identified yet";
        } else if (engine.ConnectionFailed()) {
            refusal = NotConnected();
            why = ": InstrumentNotConnected";
        } else {
            stopped = m_backend.Stop(engine.FallbackStopSpeed());
        }
    });
    if (ran && refusal)
        return answer(*refusal, why);
    const std::optional<StopOutcome> outcome = ran ? stopped.get() : std::nullopt;
    if (!outcome)
        return answer(Going(), ": refused, the server is going");
    if (outcome->result == StopOutcome::Result::Busy)
        return answer(Busy(), ": refused, a start or stop is under way");
    if (outcome->result == StopOutcome::Result::NotConfirmed) {
        return answer(sila_error::Defined(
                          ErrorId("StopNotConfirmed"),
                          "The instrument did not confirm the stop; it may still be running, and "
                          "a run in progress goes on being watched. Stop again, or check the "
                          "link."),
                      ": StopNotConfirmed");
    }
    return answer(grpc::Status::OK, "");
}

grpc::Status CShakingControllerService::Subscribe_CurrentSpeed(
    grpc::ServerContext* context, const sc::Subscribe_CurrentSpeed_Parameters*,
    grpc::ServerWriter<sc::Subscribe_CurrentSpeed_Responses>* writer) {
    m_log.Seen(context);
    return Watch<sc::Subscribe_CurrentSpeed_Responses, int>(
        m_backend, m_streams, context, writer,
        [](const CShakerBackend::State& s) { return s.speed; },
        [](sc::Subscribe_CurrentSpeed_Responses& r, int v) {
            r.mutable_currentspeed()->set_value(v);
        });
}

grpc::Status CShakingControllerService::Subscribe_RemainingTime(
    grpc::ServerContext* context, const sc::Subscribe_RemainingTime_Parameters*,
    grpc::ServerWriter<sc::Subscribe_RemainingTime_Responses>* writer) {
    m_log.Seen(context);
    return Watch<sc::Subscribe_RemainingTime_Responses, int>(
        m_backend, m_streams, context, writer,
        [](const CShakerBackend::State& s) { return s.remaining; },
        [](sc::Subscribe_RemainingTime_Responses& r, int v) {
            r.mutable_remainingtime()->set_value(v);
        });
}

grpc::Status CShakingControllerService::Subscribe_Running(
    grpc::ServerContext* context, const sc::Subscribe_Running_Parameters*,
    grpc::ServerWriter<sc::Subscribe_Running_Responses>* writer) {
    m_log.Seen(context);
    return Watch<sc::Subscribe_Running_Responses, bool>(
        m_backend, m_streams, context, writer,
        [](const CShakerBackend::State& s) { return s.running; },
        [](sc::Subscribe_Running_Responses& r, bool v) { r.mutable_running()->set_value(v); });
}

grpc::Status CShakingControllerService::Subscribe_Alarms(
    grpc::ServerContext* context, const sc::Subscribe_Alarms_Parameters*,
    grpc::ServerWriter<sc::Subscribe_Alarms_Responses>* writer) {
    m_log.Seen(context);
    return Watch<sc::Subscribe_Alarms_Responses, std::vector<std::string>>(
        m_backend, m_streams, context, writer,
        [](const CShakerBackend::State& s) { return s.alarms; },
        [](sc::Subscribe_Alarms_Responses& r, const std::vector<std::string>& alarms) {
            for (const std::string& alarm : alarms)
                r.add_alarms()->set_value(alarm);
        });
}

grpc::Status CShakingControllerService::Get_DeviceId(grpc::ServerContext* context,
                                                     const sc::Get_DeviceId_Parameters*,
                                                     sc::Get_DeviceId_Responses* response) {
    m_log.Seen(context);
    const auto device = m_backend.DeviceInfo();
    if (!device.ready)
        return NotReady();
    if (!device.connected)
        return NotConnected();
    response->mutable_deviceid()->set_value(device.id);
    return grpc::Status::OK;
}

grpc::Status CShakingControllerService::Get_DeviceType(grpc::ServerContext* context,
                                                       const sc::Get_DeviceType_Parameters*,
                                                       sc::Get_DeviceType_Responses* response) {
    m_log.Seen(context);
    const auto device = m_backend.DeviceInfo();
    if (!device.ready)
        return NotReady();
    if (!device.connected)
        return NotConnected();
    response->mutable_devicetype()->set_value(device.type);
    return grpc::Status::OK;
}

grpc::Status CShakingControllerService::Get_MinimumSpeed(grpc::ServerContext* context,
                                                         const sc::Get_MinimumSpeed_Parameters*,
                                                         sc::Get_MinimumSpeed_Responses* response) {
    m_log.Seen(context);
    const auto device = m_backend.DeviceInfo();
    if (!device.ready)
        return NotReady();
    if (!device.connected)
        return NotConnected();
    response->mutable_minimumspeed()->set_value(StartableSpeeds(device.type).low);
    return grpc::Status::OK;
}

grpc::Status CShakingControllerService::Get_MaximumSpeed(grpc::ServerContext* context,
                                                         const sc::Get_MaximumSpeed_Parameters*,
                                                         sc::Get_MaximumSpeed_Responses* response) {
    m_log.Seen(context);
    const auto device = m_backend.DeviceInfo();
    if (!device.ready)
        return NotReady();
    if (!device.connected)
        return NotConnected();
    response->mutable_maximumspeed()->set_value(StartableSpeeds(device.type).high);
    return grpc::Status::OK;
}
