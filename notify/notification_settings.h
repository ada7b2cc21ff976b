#pragma once

#include <QString>
#include <QUrl>
#include <set>

#include "run/run_events.h"

// $XDG_CONFIG_HOME/velmora/velmora.conf (~/.config/velmora/velmora.conf): what the programs
// remember between starts (an INI file: the port last used, the notifications).
QString ConfigurationPath();

// Who hears of runs: a webhook, and the desktop while the window isn't the active one, for the
// events chosen.
struct NotificationSettings {
    QUrl webhook;  // none: no webhook
    std::set<RunEvent::Kind> events{RunEvent::Kind::Started, RunEvent::Kind::Finished,
                                    RunEvent::Kind::Alarm};
    bool desktop = true;
};

// [notify] webhook=URL, events=run started, run finished, alarm, desktop=true. A missing file
// or key gives the default; an event name not known is left out.
NotificationSettings LoadNotificationSettings(const QString& path = ConfigurationPath());
// False when the file could not be written.
bool SaveNotificationSettings(const NotificationSettings& settings,
                              const QString& path = ConfigurationPath());
// A webhook URL as given (--notify, the settings dialog): http or https with a host, else an
// empty URL and `error` says why.
QUrl ParseWebhookUrl(const QString& text, QString* error);
