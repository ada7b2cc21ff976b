#include "run/journal_keeper.h"

#include <QDateTime>

CJournalKeeper::CJournalKeeper(std::function<void(const std::string&)> note)
    : m_note(std::move(note)), m_folder(CRunJournal::DefaultFolder()) {}

CJournalKeeper::~CJournalKeeper() = default;

void CJournalKeeper::Begin(const JournalHeader& header) {
    m_journal = std::make_unique<CRunJournal>(m_folder);
    m_missing = 0;
    m_begun = m_journal->Begin(header);
    m_lastPath = m_journal->Path();
    if (!m_begun) {
        m_note(m_journal->LastError());
    }
}

void CJournalKeeper::Sample(int number, int speed, int reading, int remaining,
                            std::chrono::system_clock::time_point when) {
    if (!m_journal) {
        return;
    }
    if (m_begun && m_journal->Append(number, speed, reading, remaining, when)) {
        return;
    }
    if (m_missing++ == 0 && m_begun) {
        m_note(m_journal->LastError());
    }
    m_note(MissingText());
}

void CJournalKeeper::Note(const std::string& text) {
    if (m_journal && m_begun) {
        m_journal->Note(text);
    }
}

void CJournalKeeper::End(RunEnd why) {
    if (!m_journal) {
        return;
    }
    if (m_begun && m_missing > 0) {
        m_journal->Note(MissingText());
    }
    if (m_begun && !m_journal->End(why)) {
        m_note(m_journal->LastError());
    }
    m_lastPath = m_journal->Path();
    m_journal.reset();
}

std::string CJournalKeeper::MissingText() const {
    return "journal incomplete: " + std::to_string(m_missing) + " samples missing";
}

std::string CJournalKeeper::Path() const {
    return m_journal ? m_journal->Path() : m_lastPath;
}

std::optional<std::string> CJournalKeeper::TakeUnfinishedReport() {
    const auto unfinished = CRunJournal::TakeUnfinished(m_folder);
    if (!unfinished) {
        return std::nullopt;
    }
    const auto start = QDateTime::fromSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::seconds>(unfinished->start.time_since_epoch())
            .count());
    return "The run of " + start.toString(QStringLiteral("yyyy-MM-dd HH:mm")).toStdString() +
           " ended unexpectedly: its samples are in " + unfinished->path;
}
