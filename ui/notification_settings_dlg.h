#pragma once

#include <QDialog>
#include <optional>

#include "notify/notification_settings.h"

class QCheckBox;
class QLabel;
class QLineEdit;

// Settings…: the webhook's URL, the events that are told, and the desktop's notifications.
class CNotificationSettingsDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CNotificationSettingsDlg(const NotificationSettings& settings,
                                      QWidget* parent = nullptr);
    // What the fields say; nothing, and the reason shown, while the URL is not one.
    std::optional<NotificationSettings> Chosen();
    QLineEdit& WebhookField() { return *m_webhook; }

    void accept() override;

  private:
    QLineEdit* m_webhook;
    QCheckBox* m_started;
    QCheckBox* m_finished;
    QCheckBox* m_alarm;
    QCheckBox* m_desktop;
    QLabel* m_problem;
};

// Shows the dialog; the settings chosen, or nothing when it was cancelled.
std::optional<NotificationSettings> EditNotificationSettings(const NotificationSettings& settings,
                                                             QWidget* parent);
