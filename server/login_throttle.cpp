#include "server/login_throttle.h"

#include <algorithm>
#include <vector>

namespace {

// The keys a try counts against: its name's, when it has one, and its address's.
std::vector<std::string> KeysOf(const std::string& name, const std::string& address) {
    std::vector<std::string> keys;
    if (!name.empty())
        keys.push_back("u:" + name);
    keys.push_back("a:" + address);
    return keys;
}

}  // namespace

std::chrono::seconds CLoginThrottle::Begin(const std::string& name, const std::string& address,
                                           Clock::time_point now) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto keys = KeysOf(name, address);
    Clock::duration wait{};
    for (const auto& key : keys)
        wait = std::max(wait, WaitFor(key, now));
    if (wait > Clock::duration::zero()) {
        // Rounded up: a client told "wait 0 s" would try again at once and be refused.
        return std::chrono::ceil<std::chrono::seconds>(wait);
    }
    for (const auto& key : keys) {
        Entry& entry = m_entries[key];
        ++entry.underWay;
        entry.lastSeen = now;
    }
    if (m_entries.size() > kMaxEntries)
        Trim(now);
    return std::chrono::seconds::zero();
}

void CLoginThrottle::Failed(const std::string& name, const std::string& address,
                            Clock::time_point now) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& key : KeysOf(name, address)) {
        EndTry(key);
        Fail(key, now);
    }
}

void CLoginThrottle::Succeeded(const std::string& name, const std::string& address) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& key : KeysOf(name, address))
        EndTry(key);
    if (const auto found = m_entries.find("u:" + name); found != m_entries.end()) {
        found->second.failures.clear();
        found->second.pausedUntil = {};
    }
}

CLoginThrottle::Clock::duration CLoginThrottle::WaitFor(const std::string& key,
                                                        Clock::time_point now) {
    const auto found = m_entries.find(key);
    if (found == m_entries.end())
        return {};
    Entry& entry = found->second;
    if (entry.pausedUntil > now)
        return entry.pausedUntil - now;
    while (!entry.failures.empty() && now - entry.failures.front() >= kWindow)
        entry.failures.pop_front();
    // Enough tries under way to reach the limit: the next may go once one of them has ended.
    if (static_cast<int>(entry.failures.size()) + entry.underWay >= kMaxFailures)
        return std::chrono::seconds(1);
    return {};
}

void CLoginThrottle::EndTry(const std::string& key) {
    if (const auto found = m_entries.find(key);
        found != m_entries.end() && found->second.underWay > 0)
        --found->second.underWay;
}

void CLoginThrottle::Fail(const std::string& key, Clock::time_point now) {
    Entry& entry = m_entries[key];
    entry.lastSeen = now;
    while (!entry.failures.empty() && now - entry.failures.front() >= kWindow)
        entry.failures.pop_front();
    entry.failures.push_back(now);
    if (static_cast<int>(entry.failures.size()) >= kMaxFailures) {
        entry.pausedUntil = now + kPause;
        entry.failures.clear();
    }
}

void CLoginThrottle::Trim(Clock::time_point now) {
    std::erase_if(m_entries, [now](const auto& item) {
        const Entry& entry = item.second;
        return entry.underWay == 0 && entry.pausedUntil <= now &&
               (entry.failures.empty() || now - entry.failures.back() >= kWindow);
    });
    while (m_entries.size() > kMaxEntries) {
        m_entries.erase(std::min_element(
            m_entries.begin(), m_entries.end(),
            [](const auto& a, const auto& b) { return a.second.lastSeen < b.second.lastSeen; }));
    }
}

std::string PeerAddress(const std::string& peer) {
    const auto scheme = peer.find(':');
    if (scheme == std::string::npos)
        return peer;
    const std::string kind = peer.substr(0, scheme);
    std::string address = peer.substr(scheme + 1);
    if (kind != "ipv4" && kind != "ipv6")
        return peer;
    const auto port = address.rfind(':');
    if (port != std::string::npos)
        address.resize(port);
    if (address.size() > 1 && address.front() == '[' && address.back() == ']')
        address = address.substr(1, address.size() - 2);
    return address;
}
