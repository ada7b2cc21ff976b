#pragma once

#include <QString>

#include "run/run_events.h"

// What the desktop shows of a run event: a summary line and its body.
struct DesktopNotice {
    QString summary;
    QString body;
};
DesktopNotice DesktopNoticeFor(const RunEvent& event);

// Asks the desktop's notification service (org.freedesktop.Notifications on the session bus)
// to show the notice, without waiting for its answer. False when there is no session bus.
bool ShowDesktopNotice(const DesktopNotice& notice);
