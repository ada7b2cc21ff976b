#include "ui/desktop_notice.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

DesktopNotice DesktopNoticeFor(const RunEvent& event) {
    const QString instrument = QString::fromStdString(event.deviceId) + QStringLiteral(" on ") +
                               QString::fromStdString(event.port);
    switch (event.kind) {
        case RunEvent::Kind::Started:
            return {QStringLiteral("Velmora: run started"), QStringLiteral("%1: %2 1/min, time %3")
                                                                .arg(instrument)
                                                                .arg(event.speedSetpoint)
                                                                .arg(event.timeSetpoint)};
        case RunEvent::Kind::Finished:
            return {QStringLiteral("Velmora: run finished"),
                    QStringLiteral("%1: %2, %3 samples")
                        .arg(instrument, QString::fromStdString(event.endReason))
                        .arg(event.samples)};
        case RunEvent::Kind::Alarm:
            break;
    }
    return {QStringLiteral("Velmora: alarm"),
            instrument + QStringLiteral(": ") +
                QString::fromStdString(event.alarm ? event.alarm->text : std::string())};
}

bool ShowDesktopNotice(const DesktopNotice& notice) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout (-1: the
    // desktop's own).
    call << QStringLiteral("Velmora") << 0u << QStringLiteral("velmora") << notice.summary
         << notice.body << QStringList() << QVariantMap() << -1;
    return bus.send(call);
}
