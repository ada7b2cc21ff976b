#include "run/journal_keeper.h"

#include <errno.h>
#include <pthread.h>
#include <QDateTime>

#include <filesystem>

CJournalKeeper::CJournalKeeper(std::function<void(const std::string&)> note)
    : m_note(std::move(note)),
      m_folder(CRunJournal::DefaultFolder()),
      m_thread(&CJournalKeeper::Loop, this) {}

CJournalKeeper::~CJournalKeeper() {
    Finish();
}

void CJournalKeeper::SetFolder(const std::string& folder) {
    std::lock_guard lock(m_mutex);
    m_folder = folder;
}

std::string CJournalKeeper::Folder() const {
    std::lock_guard lock(m_mutex);
    return m_folder;
}

int CJournalKeeper::MissingSamples() const {
    std::lock_guard lock(m_mutex);
    return m_missing;
}

std::string CJournalKeeper::Path() const {
    std::lock_guard lock(m_mutex);
    return m_path;
}

void CJournalKeeper::Post(std::function<void()> job) {
    {
        std::lock_guard lock(m_mutex);
        if (m_finishing) {
            return;
        }
        m_jobs.push_back(std::move(job));
        ++m_posted;
    }
    m_wake.notify_one();
}

void CJournalKeeper::WaitUntilWritten() {
    std::unique_lock lock(m_mutex);
    const std::uint64_t asked = m_posted;
    m_written.wait(lock, [this, asked] { return m_done >= asked; });
}

void CJournalKeeper::Finish() {
    {
        std::lock_guard lock(m_mutex);
        m_finishing = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void CJournalKeeper::Loop() {
    pthread_setname_np(pthread_self(), "velmora-journal");
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_finishing || !m_jobs.empty(); });
            // Finishing still writes what was asked: a run's last samples and its end line.
            if (m_jobs.empty()) {
                return;
            }
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        job();
        {
            std::lock_guard lock(m_mutex);
            ++m_done;
        }
        m_written.notify_all();
    }
}

void CJournalKeeper::Begin(const JournalHeader& header) {
    const std::string folder = Folder();
    Post([this, header, folder] { DoBegin(header, folder); });
}

void CJournalKeeper::Sample(int number, int speed, int reading, int remaining,
                            std::chrono::system_clock::time_point when,
                            std::function<void()> handled) {
    Post([=, this, handled = std::move(handled)] {
        DoSample(number, speed, reading, remaining, when);
        if (handled) {
            handled();
        }
    });
}

void CJournalKeeper::Note(const std::string& text) {
    Post([this, text] {
        if (m_journal && m_begun) {
            m_journal->Note(text);
        }
    });
}

void CJournalKeeper::Note(std::vector<std::string> fields) {
    Post([this, fields = std::move(fields)] {
        if (m_journal && m_begun) {
            m_journal->Note(fields);
        }
    });
}

void CJournalKeeper::End(RunEnd why) {
    Post([this, why] { DoEnd(why); });
}

void CJournalKeeper::DoBegin(const JournalHeader& header, const std::string& folder) {
    m_journal = std::make_unique<CRunJournal>(folder);
    m_begun = m_journal->Begin(header);
    {
        std::lock_guard lock(m_mutex);
        m_missing = 0;
        m_path = m_journal->Path();
    }
    if (!m_begun) {
        m_note(m_journal->LastError());
    }
}

void CJournalKeeper::DoSample(int number, int speed, int reading, int remaining,
                              std::chrono::system_clock::time_point when) {
    if (!m_journal) {
        return;
    }
    if (m_begun && m_journal->Append(number, speed, reading, remaining, when)) {
        return;
    }
    int missing = 0;
    {
        std::lock_guard lock(m_mutex);
        missing = ++m_missing;
    }
    if (missing == 1 && m_begun) {
        m_note(m_journal->LastError());
    }
    m_note(MissingText(missing));
}

void CJournalKeeper::DoEnd(RunEnd why) {
    if (!m_journal) {
        return;
    }
    const int missing = MissingSamples();
    if (m_begun && missing > 0) {
        m_journal->Note(MissingText(missing));
    }
    if (m_begun && !m_journal->End(why)) {
        m_note(m_journal->LastError());
    }
    {
        std::lock_guard lock(m_mutex);
        m_path = m_journal->Path();
    }
    m_journal.reset();
}

void CJournalKeeper::Audit(std::string event, QJsonObject fields, std::string user) {
    const std::string folder = Folder();
    Post([this, event = std::move(event), fields = std::move(fields), user = std::move(user),
          folder] {
        const std::string path =
            (std::filesystem::path(folder).parent_path() / "audit.jsonl").string();
        if (!m_audit || m_audit->Path() != path) {
            m_audit = std::make_unique<CAuditTrail>(path);
            m_audit->SetProgram(program_invocation_short_name);
        }
        m_audit->SetUser(user);
        const bool written = m_audit->Append(event, fields);
        if (!written && !std::exchange(m_auditFailed, true)) {
            m_note(m_audit->LastError());
        }
    });
}

std::string CJournalKeeper::MissingText(int missing) const {
    return "journal incomplete: " + std::to_string(missing) + " samples missing";
}

void CJournalKeeper::ReportUnfinished() {
    const std::string folder = Folder();
    Post([this, folder] {
        const auto unfinished = CRunJournal::TakeUnfinished(folder);
        if (!unfinished) {
            return;
        }
        const auto start = QDateTime::fromSecsSinceEpoch(
            std::chrono::duration_cast<std::chrono::seconds>(unfinished->start.time_since_epoch())
                .count());
        m_note("The run of " + start.toString(QStringLiteral("yyyy-MM-dd HH:mm")).toStdString() +
               " ended unexpectedly: its samples are in " + unfinished->path);
    });
}
