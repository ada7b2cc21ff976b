#include "ui/notification_settings_dlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

CNotificationSettingsDlg::CNotificationSettingsDlg(const NotificationSettings& settings,
                                                   QWidget* parent)
    : QDialog(parent),
      m_webhook(new QLineEdit(settings.webhook.toString(), this)),
      m_started(new QCheckBox(QStringLiteral("Run started"), this)),
      m_finished(new QCheckBox(QStringLiteral("Run finished"), this)),
      m_alarm(new QCheckBox(QStringLiteral("Alarm"), this)),
      m_desktop(new QCheckBox(
          QStringLiteral("Desktop notifications while the window is in the background"), this)),
      m_problem(new QLabel(this)) {
    setWindowTitle(QStringLiteral("Settings"));
    m_webhook->setPlaceholderText(QStringLiteral("https://… (empty: no webhook)"));
    m_webhook->setMinimumWidth(m_webhook->fontMetrics().averageCharWidth() * 48);
    m_started->setChecked(settings.events.count(RunEvent::Kind::Started) != 0);
    m_finished->setChecked(settings.events.count(RunEvent::Kind::Finished) != 0);
    m_alarm->setChecked(settings.events.count(RunEvent::Kind::Alarm) != 0);
    m_desktop->setChecked(settings.desktop);
    m_problem->setStyleSheet(QStringLiteral("color: #b00000"));
    m_problem->setWordWrap(true);
    m_problem->hide();

    auto* events = new QVBoxLayout;
    for (QCheckBox* box : {m_started, m_finished, m_alarm}) {
        events->addWidget(box);
    }
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&Webhook (HTTP POST of JSON):"), m_webhook);
    form->addRow(QStringLiteral("Tell of:"), events);
    form->addRow(QString(), m_desktop);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_problem);
    layout->addWidget(buttons);
}

std::optional<NotificationSettings> CNotificationSettingsDlg::Chosen() {
    NotificationSettings chosen;
    QString problem;
    chosen.webhook = ParseWebhookUrl(m_webhook->text(), &problem);
    if (!problem.isEmpty()) {
        m_problem->setText(QStringLiteral("The webhook is ") + problem);
        m_problem->show();
        return std::nullopt;
    }
    chosen.events.clear();
    if (m_started->isChecked()) {
        chosen.events.insert(RunEvent::Kind::Started);
    }
    if (m_finished->isChecked()) {
        chosen.events.insert(RunEvent::Kind::Finished);
    }
    if (m_alarm->isChecked()) {
        chosen.events.insert(RunEvent::Kind::Alarm);
    }
    chosen.desktop = m_desktop->isChecked();
    return chosen;
}

void CNotificationSettingsDlg::accept() {
    if (Chosen()) {
        QDialog::accept();
    }
}

std::optional<NotificationSettings> EditNotificationSettings(const NotificationSettings& settings,
                                                             QWidget* parent) {
    CNotificationSettingsDlg dialog(settings, parent);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.Chosen();
}
