#pragma once

#include <grpcpp/support/status.h>

#include <atomic>

// Every open stream (a subscription, an execution's info or intermediate responses) holds a
// thread of the server for its whole life; the gate caps how many may be open at once, so that
// a client opening streams without end can't take the machine's threads and memory.
class CStreamGate {
  public:
    static constexpr int kMaxStreams = 256;

    // Held by a stream for its life; an empty pass (false) when the gate is full.
    class Pass {
      public:
        Pass() = default;
        Pass(Pass&& other) noexcept : m_gate(other.m_gate) { other.m_gate = nullptr; }
        Pass& operator=(Pass&&) = delete;
        ~Pass();
        explicit operator bool() const { return m_gate != nullptr; }

      private:
        friend class CStreamGate;
        explicit Pass(CStreamGate* gate) : m_gate(gate) {}
        CStreamGate* m_gate = nullptr;
    };

    explicit CStreamGate(int limit = kMaxStreams) : m_limit(limit) {}
    Pass Enter();
    int Open() const { return m_open.load(); }
    // RESOURCE_EXHAUSTED, saying why: what a stream beyond the cap is answered.
    grpc::Status Full() const;

  private:
    const int m_limit;
    std::atomic<int> m_open{0};
};
