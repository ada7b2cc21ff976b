#include "server/cancel_controller_service.h"

#include "server/access_guard.h"
#include "server/admitted_user.h"
#include "server/call_log.h"
#include "server/feature_definitions.h"
#include "server/shaker_backend.h"
#include "server/sila_error.h"

namespace cc = sila2::org::silastandard::core::commands::cancelcontroller::v1;

namespace {

const std::string kFeature = kCancelControllerFeature;
const std::string kUuidParameter =
    kFeature + "/Command/CancelCommand/Parameter/CommandExecutionUUID";

// The parameter's constraint: 8-4-4-4-12 lower-case hexadecimal digits.
bool IsUuid(const std::string& text) {
    if (text.size() != 36)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphen ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

grpc::Status InvalidUuid(const std::string& message) {
    return sila_error::Defined(kFeature + "/DefinedExecutionError/InvalidCommandExecutionUUID",
                               message);
}

}  // namespace

CCancelControllerService::CCancelControllerService(CShakerBackend& backend, CCallLog& log,
                                                   CAccessGuard& guard)
    : m_backend(backend), m_log(log), m_guard(guard) {}

grpc::Status CCancelControllerService::CancelCommand(grpc::ServerContext* context,
                                                     const cc::CancelCommand_Parameters* request,
                                                     cc::CancelCommand_Responses*) {
    Admission admission;
    if (const grpc::Status admitted = m_guard.Admit(context, Guard::TokenAndLock, admission);
        !admitted.ok()) {
        m_log.Command(context, "CancelCommand: not admitted");
        return admitted;
    }
    const std::string& uuid = request->commandexecutionuuid().uuid().value();
    if (!IsUuid(uuid)) {
        m_log.Command(context, "CancelCommand" + ByUser(admission) + ": no UUID");
        return sila_error::Validation(
            kUuidParameter,
            "The command execution UUID must be 36 characters: lower-case hexadecimal digits in "
            "groups of 8, 4, 4, 4 and 12, joined by hyphens.");
    }
    return Cancel(context, uuid, "CancelCommand " + uuid + ByUser(admission));
}

grpc::Status CCancelControllerService::CancelAll(grpc::ServerContext* context,
                                                 const cc::CancelAll_Parameters*,
                                                 cc::CancelAll_Responses*) {
    Admission admission;
    if (const grpc::Status admitted = m_guard.Admit(context, Guard::TokenAndLock, admission);
        !admitted.ok()) {
        m_log.Command(context, "CancelAll: not admitted");
        return admitted;
    }
    return Cancel(context, {}, "CancelAll" + ByUser(admission));
}

grpc::Status CCancelControllerService::Cancel(grpc::ServerContext* context, const std::string& uuid,
                                              const std::string& what) {
    const auto answer = [&](const grpc::Status& status, const std::string& how) {
        m_log.Command(context, what + ": " + how);
        return status;
    };
    enum class Found { Running, Finished, Unknown };
    Found found = Found::Unknown;
    CShakerBackend::StopFuture stopped;
    const bool ran = m_backend.Call([&](CRunController&) {
        const std::string& running = m_backend.RunningExecution();
        if (!running.empty() && (uuid.empty() || uuid == running)) {
            found = Found::Running;
            stopped = m_backend.CancelRun();
        } else if (!uuid.empty() && m_backend.FindExecution(uuid)) {
            found = Found::Finished;
        }
    });
    if (!ran)
        return answer(sila_error::Undefined("The server is shutting down."),
                      "refused, the server is going");
    if (found == Found::Finished)
        return answer(InvalidUuid("The execution " + uuid +
                                  " has finished already; only a running one can be cancelled."),
                      "finished already");
    if (found == Found::Unknown && uuid.empty())
        return answer(grpc::Status::OK, "no run to cancel");
    if (found == Found::Unknown)
        return answer(InvalidUuid("No execution has the UUID " + uuid +
                                  "; an execution is forgotten an hour after its end."),
                      "no such execution");
    const std::optional<StopOutcome> outcome = stopped.get();
    if (!outcome)
        return answer(sila_error::Undefined("The server is shutting down."),
                      "refused, the server is going");
    switch (outcome->result) {
        case StopOutcome::Result::Busy:
            return answer(sila_error::Undefined("Another client's start or stop is under way on "
                                                "the instrument; try again when it ends."),
                          "refused, a start or stop is under way");
        case StopOutcome::Result::NotConfirmed:
            return answer(sila_error::Undefined(
                              "The instrument did not confirm the stop: it may still be running, "
                              "and the run goes on being watched. Cancel again, or check the "
                              "link."),
                          "the instrument did not confirm the stop");
        case StopOutcome::Result::Confirmed:
        case StopOutcome::Result::NothingSent:
            break;
    }
    return answer(grpc::Status::OK, "cancelled");
}
