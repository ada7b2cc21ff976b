#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// The thread on which an engine's own exchanges run (connecting, Start's and Stop's commands,
// the setpoints, reconnecting), one job at a time in the order posted, so the engine's thread
// never waits for the instrument. A job reports back by queueing its result to the engine.
class CExchangeWorker {
  public:
    CExchangeWorker();
    // Joins: the job under way runs to its end (cancel its exchanges first).
    ~CExchangeWorker();
    CExchangeWorker(const CExchangeWorker&) = delete;
    CExchangeWorker& operator=(const CExchangeWorker&) = delete;

    void Post(std::function<void()> job);
    // Drops the jobs not yet begun and waits for the one under way to end; later posts are
    // dropped too. For an engine that is shutting down.
    void Finish();

  private:
    void Loop();

    // Protects m_jobs and m_finishing; m_wake signals a change of either.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_finishing = false;
    std::thread m_thread;
};
