#include "run/run_history.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <thread>

#include "run/journal_reader.h"

namespace {

std::optional<RunSummary> Summarize(const std::string& path) {
    const auto run = ReadJournal(path, nullptr, false);
    if (!run) {
        return std::nullopt;
    }
    RunSummary summary;
    summary.path = path;
    summary.startText = run->startText;
    summary.start = run->start;
    summary.deviceId = run->deviceId;
    summary.speedSetpoint = run->speedSetpoint;
    summary.timeSetpoint = run->timeSetpoint;
    summary.endReason = run->endReason;
    summary.samples = run->sampleCount;
    summary.seal = run->check.state;
    summary.signedRun = run->check.signedRun;
    return summary;
}

}  // namespace

std::vector<RunSummary> ListRuns(const std::string& folder, std::size_t newest) {
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
    if (newest > 0 && paths.size() > newest) {
        std::partial_sort(paths.begin(), paths.begin() + static_cast<std::ptrdiff_t>(newest),
                          paths.end(), std::greater<>());
        paths.resize(newest);
    }
    // Each journal is read and its seal checked on its own: the folder is shared among the
    // cores, each taking the next journal nobody has taken.
    std::vector<std::optional<RunSummary>> read(paths.size());
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i = next++; i < paths.size(); i = next++) {
            read[i] = Summarize(paths[i]);
        }
    };
    const unsigned helpers = std::min<unsigned>(std::thread::hardware_concurrency(), 8);
    std::vector<std::thread> threads;
    for (unsigned t = 1; t < helpers && t < paths.size(); ++t) {
        threads.emplace_back(work);
    }
    work();
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::vector<RunSummary> runs;
    runs.reserve(paths.size());
    for (std::optional<RunSummary>& summary : read) {
        if (summary) {
            runs.push_back(std::move(*summary));
        }
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
