#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <string>

// Slows password guessing: five failed logins for one user name, or from one address, within a
// minute make that name's or address's next tries wait half a minute. Tries still checking
// their password count as failures until they end, so that a burst of parallel tries gets no
// further than tries one after the other. What it remembers is bounded: failures older than a
// minute are forgotten, and so are the least recently seen names and addresses once it holds
// too many. Thread-safe.
class CLoginThrottle {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kMaxFailures = 5;
    static constexpr std::chrono::seconds kWindow{60};
    static constexpr std::chrono::seconds kPause{30};
    static constexpr std::size_t kMaxEntries = 4096;

    // Zero when a try for `name` from `address` may check its password now, and is then under
    // way until Failed or Succeeded; otherwise how long it must wait. An empty name (one that
    // can't be a user's) is judged by its address alone.
    std::chrono::seconds Begin(const std::string& name, const std::string& address,
                               Clock::time_point now = Clock::now());
    // Ends a try begun.
    void Failed(const std::string& name, const std::string& address,
                Clock::time_point now = Clock::now());
    // Ends a try begun. The user's own failures are forgiven; the address's are not, so that
    // one valid account doesn't open the door to guessing the others.
    void Succeeded(const std::string& name, const std::string& address);

  private:
    struct Entry {
        std::deque<Clock::time_point> failures;  // within the window, oldest first
        Clock::time_point pausedUntil{};
        Clock::time_point lastSeen{};
        int underWay = 0;
    };
    // How long tries for `key` must wait; zero when none.
    Clock::duration WaitFor(const std::string& key, Clock::time_point now);
    void EndTry(const std::string& key);
    void Fail(const std::string& key, Clock::time_point now);
    void Trim(Clock::time_point now);

    std::mutex m_mutex;  // guards m_entries
    // "u:" + user name or "a:" + address.
    std::map<std::string, Entry> m_entries;
};

// The address of a gRPC peer without its port: "ipv4:10.0.0.5:40000" -> "10.0.0.5",
// "ipv6:[::1]:40000" -> "::1"; anything else as it is.
std::string PeerAddress(const std::string& peer);
