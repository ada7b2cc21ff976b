#include "run/record_export.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "run/atomic_file_writer.h"

namespace {

constexpr std::string_view kLineEnd = "\r\n";

// A long run's export goes to the file in pieces of about this size, never whole in memory.
constexpr std::size_t kChunkBytes = 64 * 1024;

void AppendDecimal(std::string& out, std::uint64_t value) {
    char digits[24];
    const auto result = std::to_chars(std::begin(digits), std::end(digits), value);
    out.append(digits, result.ptr);
}

// Formats the export into `out`, handing it to `flush` whenever it has grown past
// `chunkBytes` (and once at the end); false as soon as a flush fails.
template <typename Flush>
bool FormatInChunks(const CRunRecord& record, DeviceType type, std::size_t chunkBytes,
                    std::string& out, Flush&& flush) {
    const std::vector<std::uint32_t>& speeds = record.SpeedSeries();
    const std::vector<std::uint32_t>& times = record.TimeSeries();
    const bool withTime = type != DeviceUnlisted;
    // The two series grow in step; should they ever differ, a line never reads past either.
    const std::size_t samples = withTime ? std::min(speeds.size(), times.size()) : speeds.size();

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
        if (!FlushWhenFull(out, chunkBytes, flush)) {
            return false;
        }
    }
    return flush(out);
}

}  // namespace

std::string FormatRecordExport(const CRunRecord& record, DeviceType type) {
    std::string out;
    out.reserve(64 + record.SpeedSeries().size() * 20);
    FormatInChunks(record, type, std::string::npos, out, [](const std::string&) { return true; });
    return out;
}

int ExportRecord(const std::string& path, const CRunRecord& record, DeviceType type) {
    return ReplaceFileAtomicallyWith(path, [&](const FileChunkSink& sink) {
        std::string chunk;
        chunk.reserve(kChunkBytes + 64);
        return FormatInChunks(record, type, kChunkBytes, chunk,
                              [&sink](const std::string& piece) { return sink(piece); });
    });
}
