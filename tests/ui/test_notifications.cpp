// Who hears of the runs: the settings (dialog and file) and the desktop's notifications, sent to
// a notification service of the test's own on a private session bus.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>

#include "ui/desktop_notice.h"
#include "ui/notification_settings_dlg.h"
#include "ui/window_notifications.h"

namespace {

// Stands in for the desktop's org.freedesktop.Notifications.
class CNotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
  public:
    QStringList shown;

  public slots:
    uint Notify(const QString& app, uint, const QString&, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap&, int) {
        shown.push_back(app + "|" + summary + "|" + body);
        return static_cast<uint>(shown.size());
    }
};

bool WaitFor(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return done();
}

}  // namespace

TEST(NotificationSettings, TheDialogRefusesABadUrlAndTheFileKeepsWhatWasChosen) {
    CNotificationSettingsDlg dialog({});
    dialog.WebhookField().setText(QStringLiteral("ftp://lab.example/hook"));
    dialog.accept();
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    dialog.WebhookField().setText(QStringLiteral(" https://lab.example:8443/hook?x=1 "));
    const auto chosen = dialog.Chosen();
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(chosen->webhook.toString(), "https://lab.example:8443/hook?x=1");

    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("velmora.conf"));
    NotificationSettings settings = *chosen;
    settings.events = {RunEvent::Kind::Alarm};
    settings.desktop = false;
    ASSERT_TRUE(SaveNotificationSettings(settings, path));
    const NotificationSettings read = LoadNotificationSettings(path);
    EXPECT_EQ(read.webhook, settings.webhook);
    EXPECT_EQ(read.events, settings.events);
    EXPECT_FALSE(read.desktop);
    // Nothing configured: no webhook, every event, the desktop told.
    const NotificationSettings none = LoadNotificationSettings(folder.filePath("missing.conf"));
    EXPECT_FALSE(none.webhook.isValid());
    EXPECT_EQ(none.events.size(), 3u);
    EXPECT_TRUE(none.desktop);
}

TEST(DesktopNotifications, ShownOnlyWhileTheWindowIsInTheBackground) {
    QProcess bus;
    bus.start(QStringLiteral("dbus-daemon"),
              {QStringLiteral("--session"), QStringLiteral("--nofork"),
               QStringLiteral("--print-address")});
    ASSERT_TRUE(bus.waitForStarted());
    ASSERT_TRUE(WaitFor([&] { return bus.canReadLine(); }));
    const QByteArray address = bus.readLine().trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    {
        QDBusConnection desktop =
            QDBusConnection::connectToBus(QString::fromLatin1(address), QStringLiteral("desktop"));
        ASSERT_TRUE(desktop.isConnected());
        CNotificationService service;
        ASSERT_TRUE(desktop.registerObject(QStringLiteral("/org/freedesktop/Notifications"),
                                           &service, QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(desktop.registerService(QStringLiteral("org.freedesktop.Notifications")));

        bool active = true;
        CWindowNotifications notifications([&] { return active; });
        NotificationSettings settings;
        settings.events = {RunEvent::Kind::Alarm, RunEvent::Kind::Finished};
        notifications.Apply(settings);
        RunEvent alarm;
        alarm.kind = RunEvent::Kind::Alarm;
        alarm.deviceId = "KW41-VTX-SIM";
        alarm.port = "/dev/ttyUSB0";
        alarm.alarm =
            Alarm{AlarmKind::NoReply, "The instrument has not answered for more than 30 s"};
        RunEvent whileActive = alarm;
        whileActive.alarm->text = "while the window was active";
        notifications.OnRunEvent(whileActive);  // nothing
        active = false;
        RunEvent started = alarm;
        started.kind = RunEvent::Kind::Started;
        notifications.OnRunEvent(started);  // not chosen
        notifications.OnRunEvent(alarm);
        // One connection's messages arrive in order: one sent first would be here already.
        ASSERT_TRUE(WaitFor([&] { return service.shown.join("").contains("30 s"); }));
        EXPECT_EQ(service.shown,
                  QStringList{"Velmora|Velmora: alarm|KW41-VTX-SIM on /dev/ttyUSB0: The "
                              "instrument has not answered for more than 30 s"});
        QDBusConnection::disconnectFromBus(QStringLiteral("desktop"));
    }
    bus.kill();
    bus.waitForFinished();
}

#include "test_notifications.moc"
