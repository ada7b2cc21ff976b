#include "notify/webhook_notifier.h"

#include "notify/webhook_poster.h"

CWebhookNotifier::CWebhookNotifier(Options options) : m_options(std::move(options)) {
    m_poster = new CWebhookPoster(
        {m_options.url, m_options.timeout, m_options.retries, m_options.backOff}, [this] {
            std::lock_guard lock(m_pendingMutex);
            if (--m_pending == 0) {
                m_allSent.notify_all();
            }
        });
    m_poster->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::finished, m_poster, &QObject::deleteLater);
    m_thread.setObjectName(QStringLiteral("webhook"));
    m_thread.start();
}

CWebhookNotifier::~CWebhookNotifier() {
    {
        std::unique_lock lock(m_pendingMutex);
        m_allSent.wait_for(lock, m_options.drainLimit, [this] { return m_pending == 0; });
    }
    m_thread.quit();
    m_thread.wait();
}

void CWebhookNotifier::OnRunEvent(const RunEvent& event) {
    if (!m_options.url.isValid() || m_options.events.count(event.kind) == 0) {
        return;
    }
    {
        std::lock_guard lock(m_pendingMutex);
        ++m_pending;
    }
    // Crosses threads: the document is queued to the poster's thread.
    QByteArray document = QByteArray::fromStdString(RunEventJson(event));
    QMetaObject::invokeMethod(
        m_poster,
        [poster = m_poster, document = std::move(document)]() mutable {
            poster->Enqueue(std::move(document));
        },
        Qt::QueuedConnection);
}
