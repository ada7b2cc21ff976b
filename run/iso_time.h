#pragma once

#include <chrono>
#include <string>

// `when` in the local time zone (TZ), ISO 8601 with milliseconds and the UTC offset:
// 2026-12-08T10:41:16.123+01:00. The offset keeps an hour that a clock change repeats apart.
std::string FormatLocalTimestamp(std::chrono::system_clock::time_point when);
