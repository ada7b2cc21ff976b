#pragma once

#include <mutex>
#include <set>
#include <string>

namespace grpc {
class ServerContext;
}

// The server's lines on standard error: one when a client connection is first seen, one per
// command, one per run end. Thread-safe: the gRPC threads all write here.
class CCallLog {
  public:
    // Notes the call's connection; the first call on a connection logs it.
    void Seen(const grpc::ServerContext* context);
    void Command(const grpc::ServerContext* context, const std::string& text);
    static void Line(const std::string& text);

  private:
    std::mutex m_mutex;             // guards m_peers
    std::set<std::string> m_peers;  // every connection seen, by its peer address
};
