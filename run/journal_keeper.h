#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "run/run_journal.h"
#include "run/run_observer.h"

// The engine's side of the run journal: one journal per run, begun at Start, a line per sample
// and per link event, ended with the run. A journal that fails never stops the run: a sample
// it can't hold is counted as missing, later ones are tried all the same, and the note
// callback hears the error and the count.
class CJournalKeeper {
  public:
    explicit CJournalKeeper(std::function<void(const std::string&)> note);
    ~CJournalKeeper();

    void SetFolder(const std::string& folder) { m_folder = folder; }
    const std::string& Folder() const { return m_folder; }

    void Begin(const JournalHeader& header);
    void Sample(int number, int speed, int reading, int remaining,
                std::chrono::system_clock::time_point when);
    void Note(const std::string& text);
    void End(RunEnd why);
    bool InRun() const { return m_journal != nullptr; }
    // Samples of the current or last run that its journal does not hold.
    int MissingSamples() const { return m_missing; }
    // The journal of the run in progress or of the last run; empty before the first.
    std::string Path() const;

    // The status line's sentence for the newest journal of the folder that never ended, once
    // per folder and program; none when there is none.
    std::optional<std::string> TakeUnfinishedReport();

  private:
    std::string MissingText() const;

    std::function<void(const std::string&)> m_note;
    std::unique_ptr<CRunJournal> m_journal;
    std::string m_folder;
    std::string m_lastPath;
    bool m_begun = false;
    int m_missing = 0;
};
