#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "run/run_observer.h"

// The header lines of a run's journal.
struct JournalHeader {
    std::chrono::system_clock::time_point start;
    std::string port;
    std::string deviceId;
    int deviceType = 0;
    int speedSetpoint = 0;
    int timeSetpoint = 0;
    std::string programVersion;
    std::string startedBy;   // "user@host"; no line when empty
    bool simulated = false;  // the built-in simulated shaker, not an instrument
};

// A journal whose run never got its end line (a crash, a kill, a power cut).
struct UnfinishedRun {
    std::string path;
    std::chrono::system_clock::time_point start;
};

// A run written as it goes, so that a crash loses at most the sample in flight: one file per
// run in the journal folder, "#" header lines, one tab-separated line per sample, each made
// durable (fdatasync) before the next, and a "#" line saying how the run ended. A journal that
// can't be written never stops a run: the calls fail and LastError() says why.
class CRunJournal {
  public:
    // Journals kept in a folder; the oldest go beyond this.
    static constexpr int kKeptRuns = 500;

    // $XDG_DATA_HOME/velmora/runs, or ~/.local/share/velmora/runs.
    static std::string DefaultFolder();

    explicit CRunJournal(std::string folder);
    ~CRunJournal();
    CRunJournal(const CRunJournal&) = delete;
    CRunJournal& operator=(const CRunJournal&) = delete;

    // Creates the run's file (named by its start time) with its header lines, and keeps the
    // newest kKeptRuns journals of the folder.
    bool Begin(const JournalHeader& header);
    // One sample: number, displayed speed, the instrument's reading of the speed, remaining
    // time, the local time with milliseconds. A line that can't be written is taken back
    // whole; the next one is tried all the same.
    bool Append(int sampleNumber, int speed, int reading, int remaining,
                std::chrono::system_clock::time_point when);
    // A "#" line in the middle of the run (the link lost, the link back).
    bool Note(const std::string& text);
    // A "#" line of tab-separated fields ("# alarm\tno reply\t...").
    bool Note(const std::vector<std::string>& fields);
    // The run's last line; the file is closed.
    bool End(RunEnd why);

    bool IsOpen() const;
    std::string Path() const;
    // Why the last call failed; empty while all is well.
    std::string LastError() const;

    // The newest journal of the folder that has no end line and has not been reported yet.
    // Reporting marks it, so the same run is reported once.
    static std::optional<UnfinishedRun> TakeUnfinished(const std::string& folder);

  private:
    struct State;
    std::unique_ptr<State> m_state;
};
