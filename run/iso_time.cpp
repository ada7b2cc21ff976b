#include "run/iso_time.h"

#include <cstdio>
#include <ctime>

std::string FormatLocalTimestamp(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    // Floor, not truncation: a time before 1970 would otherwise gain a second.
    const auto milliseconds = floor<std::chrono::milliseconds>(when.time_since_epoch()).count();
    const auto seconds = floor<std::chrono::seconds>(when.time_since_epoch()).count();
    const time_t wholeSeconds = static_cast<time_t>(seconds);
    tm local{};
    if (localtime_r(&wholeSeconds, &local) == nullptr) {
        return {};
    }
    const long offsetMinutes = local.tm_gmtoff / 60;
    const long absoluteOffset = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char text[64];
    const int length =
        std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld",
                      local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                      local.tm_min, local.tm_sec, static_cast<int>(milliseconds - seconds * 1000),
                      offsetMinutes < 0 ? '-' : '+', absoluteOffset / 60, absoluteOffset % 60);
    return length > 0 ? std::string(text, static_cast<std::size_t>(length)) : std::string();
}
