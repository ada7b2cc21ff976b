#include "server/server_lock.h"

#include <openssl/crypto.h>

#include <algorithm>

namespace {

// In constant time, as the identifier is what keeps other clients out.
bool SameIdentifier(const std::string& a, const std::string& b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

bool CServerLock::Lock(const std::string& identifier, std::chrono::seconds timeout,
                       Clock::time_point now) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Expire(now);
    if (m_locked)
        return false;
    m_locked = true;
    m_identifier = identifier;
    m_timeout = timeout;
    m_lastUse = now;
    return true;
}

CServerLock::Release CServerLock::Unlock(const std::string& identifier, Clock::time_point now) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Expire(now);
    if (!m_locked)
        return Release::NotLocked;
    if (!SameIdentifier(identifier, m_identifier))
        return Release::WrongIdentifier;
    m_locked = false;
    m_identifier.clear();
    return Release::Unlocked;
}

bool CServerLock::IsLocked(Clock::time_point now) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Expire(now);
    return m_locked;
}

bool CServerLock::Holds(const std::string& identifier, Clock::time_point now) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Expire(now);
    if (!m_locked || !SameIdentifier(identifier, m_identifier))
        return false;
    m_lastUse = std::max(m_lastUse, now);
    return true;
}

void CServerLock::Expire(Clock::time_point now) {
    if (m_locked && m_timeout.count() > 0 && now - m_lastUse >= m_timeout) {
        m_locked = false;
        m_identifier.clear();
    }
}
