#include "server/call_log.h"

#include "run/audit_trail.h"
#include "run/local_user.h"

#include <grpcpp/server_context.h>
#include <QJsonObject>

#include <cstdio>

bool CSeenPeers::Note(const std::string& peer) {
    if (const auto known = m_index.find(peer); known != m_index.end()) {
        m_order.splice(m_order.begin(), m_order, known->second);
        return false;
    }
    m_order.push_front(peer);
    m_index.emplace(peer, m_order.begin());
    if (m_order.size() > kMaxPeers) {
        m_index.erase(m_order.back());
        m_order.pop_back();
    }
    return true;
}

void CCallLog::Seen(const grpc::ServerContext* context) {
    // A peer address names one connection: a client that reconnects gets another port.
    const std::string peer = context->peer();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_peers.Note(peer))
            return;
    }
    Line("connection from " + peer);
}

void CCallLog::Command(const grpc::ServerContext* context, const std::string& text) {
    Seen(context);
    Line(text + " (" + context->peer() + ")");
}

CCallLog::CCallLog() = default;
CCallLog::~CCallLog() = default;

void CCallLog::SetAuditTrail(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_auditMutex);
    m_audit = std::make_unique<CAuditTrail>(path);
    m_audit->SetProgram("velmora-server");
    m_audit->SetUser(LocalUserAtHost());
}

void CCallLog::Audited(const grpc::ServerContext* context, const std::string& event,
                       const std::string& text, const std::string& user) {
    Seen(context);
    Audited(context->peer(), event, text, user);
}

void CCallLog::Audited(const std::string& peer, const std::string& event, const std::string& text,
                       const std::string& user) {
    Line(text + " (" + peer + ")");
    std::lock_guard<std::mutex> lock(m_auditMutex);
    if (m_audit &&
        !m_audit->Append(
            event, {{"call", QString::fromStdString(text)}, {"peer", QString::fromStdString(peer)}},
            user)) {
        Line(m_audit->LastError());
    }
}

void CCallLog::Line(const std::string& text) {
    // One write per line so lines of different threads never interleave.
    const std::string line = "velmora-server: " + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}
