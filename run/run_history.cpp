#include "run/run_history.h"

#include <algorithm>
#include <filesystem>

#include "run/journal_reader.h"

std::vector<RunSummary> ListRuns(const std::string& folder) {
    namespace fs = std::filesystem;
    std::vector<std::string> paths;
    std::error_code error;
    for (fs::directory_iterator it(folder, error); !error && it != fs::directory_iterator();
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.rfind("run-", 0) == 0 && it->path().extension() == ".tsv" &&
            it->is_regular_file(error)) {
            paths.push_back(it->path().string());
        }
    }
    std::vector<RunSummary> runs;
    runs.reserve(paths.size());
    for (const std::string& path : paths) {
        const auto run = ReadJournal(path, nullptr);
        if (!run) {
            continue;
        }
        RunSummary summary;
        summary.path = path;
        summary.startText = run->startText;
        summary.start = run->start;
        summary.deviceId = run->deviceId;
        summary.speedSetpoint = run->speedSetpoint;
        summary.timeSetpoint = run->timeSetpoint;
        summary.endReason = run->endReason;
        summary.samples = static_cast<int>(run->samples.size());
        summary.seal = run->check.state;
        summary.signedRun = run->check.signedRun;
        runs.push_back(std::move(summary));
    }
    // Newest first; a journal whose start line is missing goes by its name, which is its start.
    std::sort(runs.begin(), runs.end(), [](const RunSummary& a, const RunSummary& b) {
        if (a.start && b.start && *a.start != *b.start) {
            return *a.start > *b.start;
        }
        return a.path > b.path;
    });
    return runs;
}

std::vector<RunSummary> FilterRuns(const std::vector<RunSummary>& runs,
                                   std::optional<std::chrono::system_clock::time_point> from,
                                   std::optional<std::chrono::system_clock::time_point> until,
                                   const std::string& deviceId) {
    std::vector<RunSummary> kept;
    for (const RunSummary& run : runs) {
        // A run without a readable start is kept unless a date is asked for.
        if ((from || until) && !run.start) {
            continue;
        }
        if ((from && *run.start < *from) || (until && *run.start >= *until) ||
            (!deviceId.empty() && run.deviceId != deviceId)) {
            continue;
        }
        kept.push_back(run);
    }
    return kept;
}
