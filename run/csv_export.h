#pragma once

#include "run/iso_time.h"

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

// The samples with the time of day, as RFC 4180 comma-separated values that spreadsheets read
// without an import dialog. Every line, the header included, ends in CR LF:
//   Sample,Speed (1/min),Remaining time,Local time
//   1,150,60,2026-12-08T10:41:16.123+01:00
// Sample numbers count from 1. A sample without a time stamp has an empty last field.
struct CsvSamples {
    std::span<const std::uint32_t> speeds;
    std::span<const std::uint32_t> remainingTimes;
    std::span<const std::chrono::system_clock::time_point> times;
};

// The whole file's content.
std::string FormatCsvExport(const CsvSamples& samples);

// Writes the file at `path` (a native file name) the way the tab-separated export is written:
// the target is replaced only once the new content is complete on disk. 1 on success; 0 on
// any failure, an existing file then left as it was.
int ExportCsv(const std::string& path, const CsvSamples& samples);
