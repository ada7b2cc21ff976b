#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>

// The access tokens handed out by Login, in memory only: a restart logs everyone out. A token
// lives an hour from its last use; only so many live at once, the least recently used going
// first, so that a client logging in over and over can't grow the server. Thread-safe.
class CTokenRegistry {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kLifetime{3600};
    static constexpr std::size_t kMaxTokens = 1024;

    // A new token of `user`; empty if no random number could be had.
    std::string Issue(const std::string& user, Clock::time_point now = Clock::now());
    // The user of a live token, whose hour starts again; nothing for an unknown, expired or
    // revoked one.
    std::optional<std::string> Use(const std::string& token, Clock::time_point now = Clock::now());
    // Ends a live token at once; its user, or nothing when it wasn't live.
    std::optional<std::string> Revoke(const std::string& token,
                                      Clock::time_point now = Clock::now());

  private:
    struct Entry {
        std::string user;
        Clock::time_point lastUse;
    };
    void ForgetExpired(Clock::time_point now);

    std::mutex m_mutex;  // guards m_tokens
    // By a digest of the token, not the token: a look-up's timing then tells nothing about
    // the tokens held.
    std::map<std::string, Entry> m_tokens;
};
