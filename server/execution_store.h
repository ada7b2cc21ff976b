#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

struct ExecutionSample {
    int speed = 0;
    int remaining = 0;
};

// How an execution ended. Only the run's own ends (its time ran out, the instrument ended it)
// are successes: a client waiting for a run must learn that it was cut short.
enum class ExecutionEnding {
    Succeeded,
    Stopped,         // StopShaking, by any client
    Cancelled,       // CancelCommand or CancelAll
    LinkLost,        // the link did not come back in time and the run was given up
    ServerShutdown,  // SIGTERM or SIGINT
};

// One StartShaking, from its confirmation to its result.
struct ExecutionRecord {
    int time = 0;
    std::vector<ExecutionSample> samples;  // as the intermediate responses went out
    bool finished = false;
    ExecutionEnding ending = ExecutionEnding::Succeeded;
    // The run's record when it ended, the export's two columns.
    std::vector<std::int64_t> speeds, remainingTimes;
    // Once finished, forgotten from here on; the lifetime clients are told counts down to it.
    std::chrono::steady_clock::time_point expiry;
};

// The executions whose results clients may still fetch. A finished one is kept for a lifetime
// after its end, the one clients are told, so a client that comes back within it finds the
// result; memory stays bounded by that lifetime and by a count. Not thread-safe: its owner
// guards it.
class CExecutionStore {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::hours kLifetime{1};
    static constexpr std::size_t kMaxKept = 1000;

    explicit CExecutionStore(std::size_t maxKept = kMaxKept) : m_maxKept(maxKept) {}

    // A run begins that is expected to end at `expectedEnd`; expired executions, and beyond the
    // count the oldest finished ones, make room. A running execution is never dropped.
    ExecutionRecord& Add(const std::string& uuid, int time, Clock::time_point expectedEnd,
                         Clock::time_point now);
    // Null when unknown or expired.
    ExecutionRecord* Find(const std::string& uuid, Clock::time_point now);
    const ExecutionRecord* Find(const std::string& uuid, Clock::time_point now) const;
    // The execution's end, expected or real, has moved to `end`: it is kept a lifetime after
    // that. A lifetime once told is never shortened, so an earlier end changes nothing.
    static void KeepUntilAfter(ExecutionRecord& execution, Clock::time_point end);
    std::size_t Size() const { return m_executions.size(); }

  private:
    void MakeRoom(Clock::time_point now);
    static bool Expired(const ExecutionRecord& execution, Clock::time_point now) {
        return execution.finished && execution.expiry <= now;
    }

    const std::size_t m_maxKept;
    std::map<std::string, ExecutionRecord> m_executions;
    std::deque<std::string> m_order;  // oldest first
};
