#pragma once

#include <functional>
#include <memory>

#include "notify/notification_settings.h"
#include "notify/webhook_notifier.h"
#include "run/run_events.h"

// The window's watchers of its runs, as the settings say: the webhook, and the desktop's
// notifications while the window isn't the active one.
class CWindowNotifications : public IRunEventSink {
  public:
    explicit CWindowNotifications(std::function<bool()> windowActive);
    void Apply(const NotificationSettings& settings);
    const NotificationSettings& Settings() const { return m_settings; }

    void OnRunEvent(const RunEvent& event) override;

  private:
    std::function<bool()> m_windowActive;
    NotificationSettings m_settings;
    std::unique_ptr<CWebhookNotifier> m_webhook;
};
