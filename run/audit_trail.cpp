#include "run/audit_trail.h"

#include "link/posix_io.h"
#include "run/iso_time.h"
#include "run/run_journal.h"
#include "run/signing_key.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDateTime>
#include <QJsonDocument>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace {

namespace fs = std::filesystem;

const std::string kFirstPrev(64, '0');

std::string Errno(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

// The last line of the file open at `fd`, `size` bytes long, without its line break; `torn`
// when that break is missing (a crash cut the line). A line is a few hundred bytes, so reading
// back from the end in small steps finds it at once.
std::string LastLineOf(int fd, off_t size, bool* torn) {
    std::string tail;
    off_t from = size;
    *torn = false;
    while (from > 0) {
        const off_t step = std::min<off_t>(from, 4096);
        from -= step;
        std::string chunk(static_cast<std::size_t>(step), '\0');
        if (pread(fd, chunk.data(), chunk.size(), from) != step) {
            return {};
        }
        tail.insert(0, chunk);
        *torn = tail.back() != '\n';
        const std::string_view line =
            std::string_view(tail).substr(0, tail.size() - (*torn ? 0 : 1));
        const std::size_t lineStart = line.rfind('\n');
        if (lineStart != std::string_view::npos) {
            return std::string(line.substr(lineStart + 1));
        }
        if (from == 0) {
            return std::string(line);
        }
    }
    return {};
}

// Unlocks and closes on every way out of Append.
struct LockedFile {
    int fd;
    ~LockedFile() {
        if (fd >= 0) {
            flock(fd, LOCK_UN);
            close(fd);
        }
    }
};

}  // namespace

std::string CAuditTrail::DefaultPath() {
    return (fs::path(CRunJournal::DefaultFolder()).parent_path() / "audit.jsonl").string();
}

CAuditTrail::CAuditTrail(std::string path) : m_path(std::move(path)) {}

bool CAuditTrail::Append(std::string_view event, const QJsonObject& fields,
                         const std::string& user) {
    std::error_code made;
    fs::create_directories(fs::path(m_path).parent_path(), made);
    LockedFile file{
        open(m_path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600)};
    if (file.fd < 0) {
        m_error = Errno("The audit trail can't be written:", m_path);
        return false;
    }
    int locked;
    do {
        locked = flock(file.fd, LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    struct stat info {};
    if (locked != 0 || fstat(file.fd, &info) != 0) {
        m_error = Errno("The audit trail can't be written:", m_path);
        return false;
    }
    // A line torn by a crash keeps its place (a check names it); the new one starts its own.
    bool torn = false;
    const std::string previous = LastLineOf(file.fd, info.st_size, &torn);
    const std::string lead = torn ? "\n" : "";

    QJsonObject line = fields;
    line.insert(QStringLiteral("time"),
                QString::fromStdString(FormatLocalTimestamp(std::chrono::system_clock::now())));
    line.insert(QStringLiteral("program"), QString::fromStdString(m_program));
    line.insert(QStringLiteral("user"), QString::fromStdString(user.empty() ? m_user : user));
    line.insert(QStringLiteral("event"),
                QString::fromUtf8(event.data(), static_cast<qsizetype>(event.size())));
    line.insert(QStringLiteral("prev"),
                QString::fromStdString(info.st_size == 0 ? kFirstPrev : Sha256Hex(previous)));
    const std::string text =
        lead + QJsonDocument(line).toJson(QJsonDocument::Compact).toStdString() + "\n";
    if (!WriteAll(file.fd, text) || fsync(file.fd) != 0) {
        m_error = Errno("The audit trail can't be written:", m_path);
        if (ftruncate(file.fd, info.st_size) == 0) {
            fsync(file.fd);
        }
        return false;
    }
    m_error.clear();
    return true;
}

AuditVerdict VerifyAuditTrail(const std::string& path) {
    AuditVerdict verdict;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        verdict.intact = false;
        verdict.reason = Errno("Can't read", path);
        return verdict;
    }
    std::string line;
    std::string expectedPrev = kFirstPrev;
    while (std::getline(file, line)) {
        ++verdict.lines;
        const QJsonObject fields =
            QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        const bool readable = !fields.isEmpty() && !file.eof();
        if (!readable ||
            fields.value(QStringLiteral("prev")).toString().toStdString() != expectedPrev) {
            verdict.intact = false;
            // A line that follows its neighbour's hash vouches for that neighbour: when it
            // doesn't, the neighbour was changed, or the lines between were removed or moved.
            verdict.firstBadLine =
                !readable || verdict.lines == 1 ? verdict.lines : verdict.lines - 1;
            verdict.reason =
                !readable ? "line " + std::to_string(verdict.lines) + " is not a whole record"
                          : "line " + std::to_string(verdict.firstBadLine) +
                                " was changed, or lines after it were removed or reordered";
            return verdict;
        }
        expectedPrev = Sha256Hex(line);
    }
    return verdict;
}

std::vector<AuditEntry> ReadAuditTrail(const std::string& path,
                                       std::optional<std::chrono::system_clock::time_point> since,
                                       std::string* error) {
    std::vector<AuditEntry> entries;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        if (errno != ENOENT && error != nullptr) {
            *error = Errno("Can't read", path);
        }
        return entries;
    }
    std::string text;
    int number = 0;
    while (std::getline(file, text)) {
        ++number;
        AuditEntry entry;
        entry.line = number;
        entry.fields = QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
        const QDateTime time = QDateTime::fromString(
            entry.fields.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
        entry.time = std::chrono::system_clock::time_point(
            std::chrono::milliseconds(time.isValid() ? time.toMSecsSinceEpoch() : 0));
        if (since && entry.time < *since) {
            continue;
        }
        entry.text = std::move(text);
        entries.push_back(std::move(entry));
    }
    return entries;
}
