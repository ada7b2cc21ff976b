#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "run/journal_seal.h"

// One past run as the history lists it.
struct RunSummary {
    std::string path;
    std::string startText;
    std::optional<std::chrono::system_clock::time_point> start;
    std::string deviceId;
    int speedSetpoint = 0;
    int timeSetpoint = 0;
    std::string endReason;  // empty: never ended
    int samples = 0;
    JournalCheck::State seal = JournalCheck::State::Unfinished;
    bool signedRun = false;
};

// The journals of a folder, newest first; only the `newest` ones when not zero (a journal's
// name is its start, so the others are not read).
std::vector<RunSummary> ListRuns(const std::string& folder, std::size_t newest = 0);

// The runs begun in [from, until) (either end open) on the instrument `deviceId` (empty: any).
std::vector<RunSummary> FilterRuns(const std::vector<RunSummary>& runs,
                                   std::optional<std::chrono::system_clock::time_point> from,
                                   std::optional<std::chrono::system_clock::time_point> until,
                                   const std::string& deviceId);
