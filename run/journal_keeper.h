#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "run/audit_trail.h"
#include "run/run_journal.h"
#include "run/run_observer.h"

// The engine's side of the run journal: one journal per run, begun at Start, a line per sample
// and per link event, ended with the run. A journal that fails never stops the run: a sample
// it can't hold is counted as missing, later ones are tried all the same, and the note
// callback hears the error and the count.
//
// Every write, and the wait for the disk that makes it durable, happens on the keeper's own
// thread, in the order the calls were made: a slow disk (a USB stick, a network home) holds
// back only the journal, never the thread that records the samples and paints them. The calls
// return at once and may come from any thread; the note callback and each sample's `handled`
// run on the keeper's thread.
class CJournalKeeper {
  public:
    explicit CJournalKeeper(std::function<void(const std::string&)> note);
    // Finishes: what was asked is written first.
    ~CJournalKeeper();
    CJournalKeeper(const CJournalKeeper&) = delete;
    CJournalKeeper& operator=(const CJournalKeeper&) = delete;

    // For the journals begun from now on.
    void SetFolder(const std::string& folder);
    std::string Folder() const;

    void Begin(const JournalHeader& header);
    // `handled` runs once the line is durable, or counted as missing.
    void Sample(int number, int speed, int reading, int remaining,
                std::chrono::system_clock::time_point when, std::function<void()> handled);
    void Note(const std::string& text);
    void Note(std::vector<std::string> fields);
    // Nothing when no journal is open.
    void End(RunEnd why);
    // The note callback hears the status line's sentence for the newest journal of the folder
    // that never ended, once per folder and program; nothing when there is none.
    void ReportUnfinished();

    // One line of the audit trail beside the journal folder, by `user`, in order with the
    // journal's lines. A trail that can't be written is said once by the note callback.
    void Audit(std::string event, QJsonObject fields, std::string user);

    // Samples of the current or last run that its journal does not hold, as far as written.
    int MissingSamples() const;
    // The journal of the run in progress or of the last run, once begun; empty before the
    // first.
    std::string Path() const;

    // Returns once everything asked before the call is written. Never on the thread that
    // must not wait for the disk.
    void WaitUntilWritten();
    // Writes what was asked, then ends the keeper's thread; later calls write nothing.
    void Finish();

  private:
    // On the keeper's thread.
    void Loop();
    void Post(std::function<void()> job);
    void DoBegin(const JournalHeader& header, const std::string& folder);
    void DoSample(int number, int speed, int reading, int remaining,
                  std::chrono::system_clock::time_point when);
    void DoEnd(RunEnd why);
    std::string MissingText(int missing) const;

    std::function<void(const std::string&)> m_note;

    // The keeper's thread only.
    std::unique_ptr<CRunJournal> m_journal;
    bool m_begun = false;
    std::unique_ptr<CAuditTrail> m_audit;
    bool m_auditFailed = false;

    // Protects everything below; m_wake signals a job posted or the end, m_written a job done.
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_written;
    std::deque<std::function<void()>> m_jobs;
    std::uint64_t m_posted = 0;
    std::uint64_t m_done = 0;
    bool m_finishing = false;
    std::string m_folder;
    std::string m_path;
    int m_missing = 0;

    std::thread m_thread;
};
