#include "notify/webhook_poster.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <cstdio>

namespace {

constexpr std::size_t kMostQueued = 100;

}  // namespace

CWebhookPoster::CWebhookPoster(Settings settings, std::function<void()> handled)
    : m_settings(std::move(settings)), m_handled(std::move(handled)) {
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &CWebhookPoster::PostNext);
}

void CWebhookPoster::Enqueue(QByteArray document) {
    m_queue.push_back(std::move(document));
    if (m_queue.size() > kMostQueued) {
        m_queue.pop_front();
        m_handled();
        if (m_posting || m_retry.isActive()) {
            m_attempt = 0;  // the one being tried went; the next starts afresh
        }
    }
    if (!m_posting && !m_retry.isActive()) {
        PostNext();
    }
}

void CWebhookPoster::PostNext() {
    if (m_queue.empty()) {
        return;
    }
    if (m_network == nullptr) {
        m_network = new QNetworkAccessManager(this);
    }
    QNetworkRequest request(m_settings.url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("velmora"));
    request.setTransferTimeout(static_cast<int>(m_settings.timeout.count()));
    m_posting = true;
    QNetworkReply* reply = m_network->post(request, m_queue.front());
    connect(reply, &QNetworkReply::finished, this, [this, reply] { Finished(reply); });
}

void CWebhookPoster::Finished(QNetworkReply* reply) {
    reply->deleteLater();
    m_posting = false;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool failed = reply->error() != QNetworkReply::NoError || status >= 500;
    // A client error (4xx) will not mend by trying again.
    const bool worthRetrying =
        failed && (status >= 500 || status == 0) && m_attempt < m_settings.retries;
    if (worthRetrying) {
        m_retry.start(m_settings.backOff * (1 << m_attempt));
        ++m_attempt;
        return;
    }
    if (failed || status >= 400) {
        std::fprintf(stderr, "velmora: the webhook %s was not reached: %s\n",
                     qPrintable(m_settings.url.toDisplayString()),
                     status != 0 ? qPrintable(QStringLiteral("HTTP %1").arg(status))
                                 : qPrintable(reply->errorString()));
    }
    m_attempt = 0;
    if (!m_queue.empty()) {
        m_queue.pop_front();
        m_handled();
    }
    PostNext();
}
