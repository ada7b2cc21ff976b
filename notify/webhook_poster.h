#pragma once

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QObject>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <deque>
#include <functional>

// The webhook's worker, on the notifier's thread: one POST at a time, in order, each tried
// again after a network error, a time-out or a server error (5xx), with back-off.
class CWebhookPoster : public QObject {
    Q_OBJECT
  public:
    struct Settings {
        QUrl url;
        std::chrono::milliseconds timeout;
        int retries;
        std::chrono::milliseconds backOff;
    };
    // `handled` runs on this thread for every document once delivered, given up or dropped.
    CWebhookPoster(Settings settings, std::function<void()> handled);

    // A document to post, after those queued before it. The queue keeps the newest 100: a
    // server down for hours doesn't grow it without end.
    void Enqueue(QByteArray document);

  private:
    void PostNext();
    void Finished(class QNetworkReply* reply);

    Settings m_settings;
    std::function<void()> m_handled;
    QNetworkAccessManager* m_network = nullptr;  // made on this object's thread
    std::deque<QByteArray> m_queue;
    bool m_posting = false;
    int m_attempt = 0;
    QTimer m_retry{this};  // a child, so it moves to the thread with its owner
};
