#pragma once

#include <QObject>
#include <QThread>
#include <QUrl>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>

#include "run/run_events.h"

class CWebhookPoster;

// Posts the run events chosen to a URL (HTTP POST of RunEventJson). The engine's thread only
// hands each document over: the posting, with its time-out and retries, runs on a thread of the
// notifier's own, so a web server that is slow, down or never answers never holds a run up.
class CWebhookNotifier : public IRunEventSink {
  public:
    struct Options {
        QUrl url;
        std::set<RunEvent::Kind> events{RunEvent::Kind::Started, RunEvent::Kind::Finished,
                                        RunEvent::Kind::Alarm};
        // Each attempt's limit, and the tries after the first, waiting 1, 2, 4… back-offs.
        std::chrono::milliseconds timeout{5000};
        int retries = 3;
        std::chrono::milliseconds backOff{1000};
        // How long the notifier, when it goes, waits for the posts still queued (a run's end
        // just before the program exits).
        std::chrono::milliseconds drainLimit{5000};
    };

    explicit CWebhookNotifier(Options options);
    // Waits up to the drain limit for the posts still queued, then gives the rest up.
    ~CWebhookNotifier();
    CWebhookNotifier(const CWebhookNotifier&) = delete;
    CWebhookNotifier& operator=(const CWebhookNotifier&) = delete;

    void OnRunEvent(const RunEvent& event) override;

  private:
    Options m_options;
    // Documents handed over and not yet delivered or given up.
    std::mutex m_pendingMutex;
    std::condition_variable m_allSent;
    int m_pending = 0;  // guarded by m_pendingMutex
    QThread m_thread;
    CWebhookPoster* m_poster = nullptr;  // lives on m_thread, deleted there
};
