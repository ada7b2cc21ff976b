#include "run/csv_export.h"

#include <time.h>

#include <algorithm>
#include <cstdio>

#include "run/atomic_file_writer.h"

namespace {

constexpr std::string_view kHeader = "Sample,Speed (1/min),Remaining time,Local time\r\n";

// A long run's file goes out in pieces of about this size, never whole in memory.
constexpr std::size_t kChunkBytes = 64 * 1024;

// Formats the file into `out`, handing it to `flush` whenever it has grown past `chunkBytes`
// (and once at the end); false as soon as a flush fails.
template <typename Flush>
bool FormatInChunks(const CsvSamples& samples, std::size_t chunkBytes, std::string& out,
                    Flush&& flush) {
    // The two series grow in step; should they ever differ, a row never reads past either.
    const std::size_t rows = std::min(samples.speeds.size(), samples.remainingTimes.size());
    // The zone is read once per file, so a TZ set since the program started counts.
    tzset();
    out += kHeader;
    for (std::size_t i = 0; i < rows; ++i) {
        out += std::to_string(i + 1);
        out += ',';
        out += std::to_string(samples.speeds[i]);
        out += ',';
        out += std::to_string(samples.remainingTimes[i]);
        out += ',';
        if (i < samples.times.size()) {
            out += FormatLocalTimestamp(samples.times[i]);
        }
        out += "\r\n";
        if (!FlushWhenFull(out, chunkBytes, flush)) {
            return false;
        }
    }
    return flush(out);
}

}  // namespace

std::string FormatCsvExport(const CsvSamples& samples) {
    std::string out;
    out.reserve(64 + samples.speeds.size() * 48);
    FormatInChunks(samples, std::string::npos, out, [](const std::string&) { return true; });
    return out;
}

int ExportCsv(const std::string& path, const CsvSamples& samples) {
    return ReplaceFileAtomicallyWith(path, [&](const FileChunkSink& sink) {
        std::string chunk;
        chunk.reserve(kChunkBytes + 64);
        return FormatInChunks(samples, kChunkBytes, chunk,
                              [&sink](const std::string& piece) { return sink(piece); });
    });
}
