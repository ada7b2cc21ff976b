#include "server/execution_store.h"

#include <algorithm>

ExecutionRecord& CExecutionStore::Add(const std::string& uuid, int time,
                                      Clock::time_point expectedEnd, Clock::time_point now) {
    MakeRoom(now);
    ExecutionRecord& execution = m_executions[uuid];
    execution.time = time;
    execution.expiry = expectedEnd + kLifetime;
    m_order.push_back(uuid);
    return execution;
}

void CExecutionStore::MakeRoom(Clock::time_point now) {
    const auto forget = [&](auto it) {
        m_executions.erase(*it);
        return m_order.erase(it);
    };
    for (auto it = m_order.begin(); it != m_order.end();)
        it = Expired(m_executions.at(*it), now) ? forget(it) : std::next(it);
    for (auto it = m_order.begin(); it != m_order.end() && m_executions.size() >= m_maxKept;)
        it = m_executions.at(*it).finished ? forget(it) : std::next(it);
}

ExecutionRecord* CExecutionStore::Find(const std::string& uuid, Clock::time_point now) {
    const auto it = m_executions.find(uuid);
    if (it == m_executions.end() || Expired(it->second, now))
        return nullptr;
    return &it->second;
}

const ExecutionRecord* CExecutionStore::Find(const std::string& uuid, Clock::time_point now) const {
    const auto it = m_executions.find(uuid);
    if (it == m_executions.end() || Expired(it->second, now))
        return nullptr;
    return &it->second;
}

void CExecutionStore::KeepUntilAfter(ExecutionRecord& execution, Clock::time_point end) {
    execution.expiry = std::max(execution.expiry, end + kLifetime);
}
