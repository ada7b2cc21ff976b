#include "run/record_export.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "run/atomic_file_writer.h"

namespace {

constexpr std::string_view kLineEnd = "\r\n";

void AppendDecimal(std::string& out, std::uint64_t value) {
    char digits[24];
    const auto result = std::to_chars(std::begin(digits), std::end(digits), value);
    out.append(digits, result.ptr);
}

}  // namespace

std::string FormatRecordExport(const CRunRecord& record, DeviceType type) {
    const std::vector<std::uint32_t>& speeds = record.SpeedSeries();
    const std::vector<std::uint32_t>& times = record.TimeSeries();
    const bool withTime = type != DeviceUnlisted;
    // The two series grow in step; should they ever differ, a line never reads past either.
    const std::size_t samples = withTime ? std::min(speeds.size(), times.size()) : speeds.size();

    std::string out;
    out.reserve(64 + samples * 20);
    out += kExportSampleTitle;
    out += '\t';
    out += kExportSpeedTitle;
    out += '\t';
    out += kExportTimeTitle;
    out += kLineEnd;
    for (std::size_t i = 0; i < samples; ++i) {
        AppendDecimal(out, i + 1);
        out += '\t';
        AppendDecimal(out, speeds[i]);
        if (withTime) {
            out += '\t';
            AppendDecimal(out, times[i]);
        }
        out += kLineEnd;
    }
    return out;
}

int ExportRecord(const std::string& path, const CRunRecord& record, DeviceType type) {
    return ReplaceFileAtomically(path, FormatRecordExport(record, type));
}
