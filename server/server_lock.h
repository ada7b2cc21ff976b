#pragma once

#include <chrono>
#include <mutex>
#include <string>

// The server's lock: while it is held, the calls that change the instrument need its
// identifier. A lock with a timeout ends by itself that long after the last call that carried
// its identifier. Thread-safe.
class CServerLock {
  public:
    using Clock = std::chrono::steady_clock;

    enum class Release { Unlocked, NotLocked, WrongIdentifier };

    // Locks with `identifier`; `timeout` zero: until unlocked. False when already locked.
    bool Lock(const std::string& identifier, std::chrono::seconds timeout,
              Clock::time_point now = Clock::now());
    Release Unlock(const std::string& identifier, Clock::time_point now = Clock::now());
    bool IsLocked(Clock::time_point now = Clock::now());
    // Whether `identifier` is the identifier of the lock held now; a match starts the lock's
    // timeout again.
    bool Holds(const std::string& identifier, Clock::time_point now = Clock::now());

  private:
    // Ends a lock whose timeout has run out. Called with m_mutex held.
    void Expire(Clock::time_point now);

    std::mutex m_mutex;  // guards everything below
    bool m_locked = false;
    std::string m_identifier;
    std::chrono::seconds m_timeout{0};
    Clock::time_point m_lastUse{};
};
