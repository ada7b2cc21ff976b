#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace grpc {
class ServerContext;
}

// The connections seen lately, by peer address, so that each gets one "connection from" line.
// A server up for months meets many connections, nearly all of them long closed: it keeps the
// most recently seen ones only.
class CAuditTrail;

class CSeenPeers {
  public:
    static constexpr std::size_t kMaxPeers = 1024;

    // True when `peer` is not among the connections kept (new, or forgotten since).
    bool Note(const std::string& peer);
    std::size_t Size() const { return m_index.size(); }

  private:
    std::list<std::string> m_order;  // most recently seen first
    std::unordered_map<std::string, std::list<std::string>::iterator> m_index;
};

// The server's lines on standard error: one when a client connection is first seen, one per
// command, one per run end. Thread-safe: the gRPC threads all write here.
class CCallLog {
  public:
    // Notes the call's connection; the first call on a connection logs it.
    void Seen(const grpc::ServerContext* context);
    // The line is logged as it is: what a client sent goes in through CleanForLog
    // (server/client_text.h), so that it can't forge lines or flood the log.
    void Command(const grpc::ServerContext* context, const std::string& text);
    // As Command, and a line of the audit trail: `event` by `user` (a SiLA user; empty: the
    // server's own), with the logged text and the peer. Waits for the disk: gRPC threads only.
    void Audited(const grpc::ServerContext* context, const std::string& event,
                 const std::string& text, const std::string& user);
    // As Audited, for a caller that is not a gRPC call (the web view): `peer` names it.
    void Audited(const std::string& peer, const std::string& event, const std::string& text,
                 const std::string& user);
    // Before the server serves: the audit trail's file.
    void SetAuditTrail(const std::string& path);
    static void Line(const std::string& text);

    CCallLog();
    ~CCallLog();

  private:
    std::mutex m_mutex;  // guards m_peers
    CSeenPeers m_peers;
    std::mutex m_auditMutex;  // guards m_audit, whose appends come from every gRPC thread
    std::unique_ptr<CAuditTrail> m_audit;
};
