#pragma once

#include <chrono>
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

// The journals of a folder, newest first.
std::vector<RunSummary> ListRuns(const std::string& folder);

// The runs begun in [from, until) (either end open) on the instrument `deviceId` (empty: any).
std::vector<RunSummary> FilterRuns(const std::vector<RunSummary>& runs,
                                   std::optional<std::chrono::system_clock::time_point> from,
                                   std::optional<std::chrono::system_clock::time_point> until,
                                   const std::string& deviceId);
