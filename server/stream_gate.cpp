#include "server/stream_gate.h"

#include <string>

CStreamGate::Pass::~Pass() {
    if (m_gate)
        m_gate->m_open.fetch_sub(1);
}

CStreamGate::Pass CStreamGate::Enter() {
    int open = m_open.load();
    while (open < m_limit) {
        if (m_open.compare_exchange_weak(open, open + 1))
            return Pass(this);
    }
    return Pass();
}

grpc::Status CStreamGate::Full() const {
    return grpc::Status(grpc::StatusCode::RESOURCE_EXHAUSTED,
                        "The server has " + std::to_string(m_limit) +
                            " streams open, its limit; close a subscription and try again.");
}
