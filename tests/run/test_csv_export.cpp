// The CSV export with the time of day: its exact bytes, and time stamps that stay in order
// across a second boundary and across the hour a clock change repeats.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "run/csv_export.h"

namespace fs = std::filesystem;
using namespace std::chrono;
using namespace std::chrono_literals;

namespace {

// Central European time without the zone database, so the test needs no tzdata.
constexpr const char* kCentralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";

// Sets TZ for one test and puts the old value back.
class CsvExport : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* old = getenv("TZ")) {
            m_oldZone = old;
        }
        UseZone(kCentralEurope);
    }
    void TearDown() override {
        if (m_oldZone) {
            setenv("TZ", m_oldZone->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    static void UseZone(const char* zone) {
        setenv("TZ", zone, 1);
        tzset();
    }

  private:
    std::optional<std::string> m_oldZone;
};

system_clock::time_point Utc(sys_days day, milliseconds timeOfDay) {
    return system_clock::time_point(day) + timeOfDay;
}

// Milliseconds since 1970 of "YYYY-MM-DDTHH:MM:SS.mmm+hh:mm", read back field by field.
long long ParseStamp(const std::string& text) {
    int year, month, day, hour, minute, second, millis, offsetHours, offsetMinutes;
    char sign = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d%c%2d:%2d", &year, &month, &day,
                    &hour, &minute, &second, &millis, &sign, &offsetHours, &offsetMinutes) != 10 ||
        text.size() != 29) {
        return -1;
    }
    const sys_days date{std::chrono::year(year) / month / day};
    const auto local =
        date + hours(hour) + minutes(minute) + seconds(second) + milliseconds(millis);
    const minutes offset = (sign == '-' ? -1 : 1) * (hours(offsetHours) + minutes(offsetMinutes));
    return duration_cast<milliseconds>((local - offset).time_since_epoch()).count();
}

TEST_F(CsvExport, FileHoldsAHeaderAndOneCrLfRowPerSample) {
    const std::vector<std::uint32_t> speeds = {150, 295, 305};
    const std::vector<std::uint32_t> remaining = {60, 59, 58};
    const sys_days day = 2026y / December / 8;
    // The third sample has no time stamp: its row keeps the others' shape.
    const std::vector<system_clock::time_point> times = {Utc(day, 9h + 41min + 16s + 123ms),
                                                         Utc(day, 9h + 41min + 17s + 5ms)};

    char pattern[] = "/tmp/velmora-csv-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path file = fs::path(pattern) / "run.csv";
    ASSERT_EQ(ExportCsv(file.string(), {speeds, remaining, times}), 1);
    std::ostringstream content;
    content << std::ifstream(file, std::ios::binary).rdbuf();
    fs::remove_all(pattern);

    EXPECT_EQ(content.str(),
              "Sample,Speed (1/min),Remaining time,Local time\r\n"
              "1,150,60,2026-12-08T10:41:16.123+01:00\r\n"
              "2,295,59,2026-12-08T10:41:17.005+01:00\r\n"
              "3,305,58,\r\n");
    EXPECT_EQ(FormatCsvExport({{}, {}, {}}), "Sample,Speed (1/min),Remaining time,Local time\r\n");

    EXPECT_EQ(FormatLocalTimestamp(Utc(2026y / July / 1, 12h + 999ms)),
              "2026-07-01T14:00:00.999+02:00");
    UseZone("<-0330>3:30");
    EXPECT_EQ(FormatLocalTimestamp(Utc(day, 9h + 41min + 16s + 123ms)),
              "2026-12-08T06:11:16.123-03:30");
}

TEST_F(CsvExport, StampsStayInOrderAcrossASecondAndTheRepeatedHour) {
    // Clocks go back from 03:00 to 02:00 at 01:00 UTC on the last Sunday of October.
    const sys_days fallBack = 2026y / October / 25;
    std::vector<system_clock::time_point> times;
    for (const milliseconds start : {59min + 59s + 998ms, 1h + 59min + 59s + 998ms}) {
        for (int i = 0; i < 4; ++i) {
            times.push_back(Utc(fallBack, start + milliseconds(i)));
        }
    }
    const std::vector<std::uint32_t> speeds(times.size(), 300);
    const std::vector<std::uint32_t> remaining(times.size(), 10);
    std::istringstream rows(FormatCsvExport({speeds, remaining, times}));

    std::string row;
    std::getline(rows, row);  // header
    long long previous = -1;
    for (const system_clock::time_point expected : times) {
        ASSERT_TRUE(std::getline(rows, row));
        ASSERT_EQ(row.back(), '\r');
        const std::string stamp = row.substr(row.rfind(',') + 1, row.size() - row.rfind(',') - 2);
        const long long parsed = ParseStamp(stamp);
        EXPECT_EQ(parsed, duration_cast<milliseconds>(expected.time_since_epoch()).count())
            << stamp;
        EXPECT_GT(parsed, previous) << stamp;
        previous = parsed;
    }
}

}  // namespace
