#include "ui/window_notifications.h"

#include "ui/desktop_notice.h"

CWindowNotifications::CWindowNotifications(std::function<bool()> windowActive)
    : m_windowActive(std::move(windowActive)) {}

void CWindowNotifications::Apply(const NotificationSettings& settings) {
    if (!m_webhook || settings.webhook != m_settings.webhook ||
        settings.events != m_settings.events) {
        m_webhook.reset();
        if (settings.webhook.isValid()) {
            CWebhookNotifier::Options options;
            options.url = settings.webhook;
            options.events = settings.events;
            m_webhook = std::make_unique<CWebhookNotifier>(options);
        }
    }
    m_settings = settings;
}

void CWindowNotifications::OnRunEvent(const RunEvent& event) {
    if (m_webhook) {
        m_webhook->OnRunEvent(event);
    }
    if (m_settings.desktop && m_settings.events.count(event.kind) != 0 && m_windowActive &&
        !m_windowActive()) {
        ShowDesktopNotice(DesktopNoticeFor(event));
    }
}
