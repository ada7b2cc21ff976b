#include "run/audit_trail.h"

std::string CAuditTrail::DefaultPath() {
    return {};
}
CAuditTrail::CAuditTrail(std::string path) : m_path(std::move(path)) {}
bool CAuditTrail::Append(std::string_view, const QJsonObject&, const std::string&) {
    return false;
}
AuditVerdict VerifyAuditTrail(const std::string&) {
    return {};
}
std::vector<AuditEntry> ReadAuditTrail(const std::string&,
                                       std::optional<std::chrono::system_clock::time_point>,
                                       std::string*) {
    return {};
}
