#include "run/exchange_worker.h"

#include <pthread.h>

CExchangeWorker::CExchangeWorker() : m_thread(&CExchangeWorker::Loop, this) {}

CExchangeWorker::~CExchangeWorker() {
    Finish();
}

void CExchangeWorker::Post(std::function<void()> job) {
    {
        std::lock_guard lock(m_mutex);
        if (m_finishing) {
            return;
        }
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
}

void CExchangeWorker::Finish() {
    {
        std::lock_guard lock(m_mutex);
        m_finishing = true;
        m_jobs.clear();
    }
    m_wake.notify_one();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void CExchangeWorker::Loop() {
    pthread_setname_np(pthread_self(), "velmora-exchange");
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_finishing || !m_jobs.empty(); });
            if (m_finishing) {
                return;
            }
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        job();
    }
}
