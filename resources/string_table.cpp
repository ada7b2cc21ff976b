#include "resources/string_table.h"

#include <array>
#include <utility>

QString LoadStringResource(int id) {
    static constexpr std::array<std::pair<int, const char*>, 14> kTable{{
        {IDS_ABOUTBOX, "&About Velmora..."},
        {IDS_CONNECT_FAILED, "Failed to connect the instrument"},
        {IDS_CONNECT_FAILED_RESTART,
         "Failed to connect the instrument,please restart the software"},
        {IDS_APP_TITLE, "Velmora"},
        {IDS_TIME_TITLE_1, "Time(S)"},
        {IDS_TIME_TITLE_2, "Time(S)"},
        {IDS_TIME_TITLE_3, "Time(S)"},
        {IDS_SPEED_TITLE, "Speed(1/min)"},
        {IDS_SPEED_OUT_OF_RANGE, "The speed has exceeded the speed range, please reset"},
        {IDS_SAVE_FAILED, "Failed to save the file"},
        {IDS_STOP_NOT_CONFIRMED, "The instrument did not confirm the stop"},
        {IDS_SPEED_REFUSED, "The instrument refused the speed and runs at its own setpoint"},
        {IDS_START_NOT_ACKNOWLEDGED, "The instrument did not acknowledge the start"},
        {IDS_NOT_CONNECTED,
         "The instrument is not connected: right-click the window and choose Connect..."},
    }};
    for (const auto& [key, text] : kTable) {
        if (key == id)
            return QString::fromLatin1(text);
    }
    return QString();
}
