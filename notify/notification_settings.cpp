#include "notify/notification_settings.h"

#include <QDir>
#include <QSettings>
#include <QStringList>

QString ConfigurationPath() {
    const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    const QString base =
        configHome.startsWith(u'/') ? configHome : QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/velmora/velmora.conf");
}

NotificationSettings LoadNotificationSettings(const QString& path) {
    NotificationSettings settings;
    const QSettings file(path, QSettings::IniFormat);
    settings.webhook =
        ParseWebhookUrl(file.value(QStringLiteral("notify/webhook")).toString(), nullptr);
    settings.desktop = file.value(QStringLiteral("notify/desktop"), true).toBool();
    if (file.contains(QStringLiteral("notify/events"))) {
        settings.events.clear();
        // QSettings reads "a, b" as a list; one name alone comes as a string.
        for (const QString& name : file.value(QStringLiteral("notify/events")).toStringList()) {
            if (const auto kind = RunEventKindNamed(name.trimmed().toStdString())) {
                settings.events.insert(*kind);
            }
        }
    }
    return settings;
}

bool SaveNotificationSettings(const NotificationSettings& settings, const QString& path) {
    QSettings file(path, QSettings::IniFormat);
    file.setValue(QStringLiteral("notify/webhook"), settings.webhook.toString());
    QStringList events;
    for (RunEvent::Kind kind : settings.events) {
        events.push_back(QString::fromUtf8(RunEventName(kind)));
    }
    file.setValue(QStringLiteral("notify/events"), events);
    file.setValue(QStringLiteral("notify/desktop"), settings.desktop);
    file.sync();
    return file.status() == QSettings::NoError;
}

QUrl ParseWebhookUrl(const QString& text, QString* error) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        return {};
    }
    const QUrl url(trimmed, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QStringLiteral("http") && scheme != QStringLiteral("https")) ||
        url.host().isEmpty()) {
        if (error != nullptr) {
            *error = QStringLiteral("not an http:// or https:// URL with a host: ") + trimmed;
        }
        return {};
    }
    return url;
}
