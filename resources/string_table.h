#pragma once

#include <QString>

// IDs of the program's string table.
enum StringId : int {
    IDS_ABOUTBOX = 101,
    IDS_CONNECT_FAILED = 102,
    IDS_CONNECT_FAILED_RESTART = 103,
    IDS_APP_TITLE = 104,
    IDS_TIME_TITLE_1 = 105,
    IDS_TIME_TITLE_2 = 106,
    IDS_TIME_TITLE_3 = 107,
    IDS_SPEED_TITLE = 108,
    IDS_SPEED_OUT_OF_RANGE = 109,
    IDS_SAVE_FAILED = 110,
    IDS_STOP_NOT_CONFIRMED = 111,
    IDS_SPEED_REFUSED = 112,
    IDS_START_NOT_ACKNOWLEDGED = 113,
    IDS_NOT_CONNECTED = 114,
};

// The text of string `id`, or an empty string for an ID the table does not hold.
QString LoadStringResource(int id);
