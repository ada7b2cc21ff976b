#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "run/journal_seal.h"

// A run's journal read back: its header, its samples, its notes, how it ended and whether its
// seal holds. What the run history, the read-only run window and the report show.
struct JournalSample {
    int number = 0;
    int speed = 0;
    int reading = 0;
    int remaining = 0;
    std::string localTime;  // as written, with milliseconds and UTC offset
};

struct JournalContents {
    std::string path;
    // The header as written; empty when its line is missing.
    std::string startText;  // "2026-12-09T10:41:16.123+01:00"
    std::optional<std::chrono::system_clock::time_point> start;
    std::string port;
    std::string deviceId;
    int deviceType = 0;
    int speedSetpoint = 0;
    int timeSetpoint = 0;
    std::string programVersion;
    std::string startedBy;
    bool simulated = false;
    std::vector<JournalSample> samples;
    int sampleCount = 0;
    // The "#" lines between the samples (link lost, link back, stop not confirmed, ...).
    std::vector<std::string> notes;
    // The end line's reason and time; empty when the run never ended.
    std::string endReason;
    std::string endText;
    JournalCheck check;
};

// A journal's text read back; nullopt and `error` when it is no journal.
// `samples` false: the samples are counted in `sampleCount`, not kept (a list of runs needs no
// more).
std::optional<JournalContents> ParseJournalText(std::string_view text, const std::string& path,
                                                std::string* error, bool samples = true);
// Reads a journal; nullopt and `error` when the file can't be read or is no journal.
std::optional<JournalContents> ReadJournal(const std::string& path, std::string* error,
                                           bool samples = true);
