#include "run/run_journal.h"

#include "link/posix_io.h"
#include "run/iso_time.h"
#include "run/journal_seal.h"
#include "run/local_user.h"
#include "run/signing_key.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

// A journal is driven from one thread (the journal keeper's), so the state below has no lock.
// Between processes, the open journal holds an flock: a second instance of the program neither
// reports a live run as unfinished nor prunes it.

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;

constexpr const char kPrefix[] = "run-";
constexpr const char kSuffix[] = ".tsv";
// "2026-12-08T09-41-16.123": a name's start time, always this long.
constexpr std::size_t kStampLength = 23;
constexpr const char kEndTag[] = "# end\t";
constexpr const char kReportedTag[] = "# reported unfinished\t";
constexpr const char kStartTag[] = "# start\t";
// A sealed journal ends with its SHA-256, or with the signature after it.
constexpr const char kSha256Tag[] = "# sha256 ";
constexpr const char kSignatureTag[] = "# signature ed25519 ";
constexpr const char kSealedAfterCrash[] = "# sealed after an unexpected end\n";
// The last line (the seal's, the end line's or the reported mark's) is in a tail this long.
constexpr std::size_t kTailBytes = 4096;
constexpr std::size_t kHeadBytes = 4096;

std::string ErrorText(int error, const std::string& path) {
    return "The run journal can't be written: " + std::generic_category().message(error) + " (" +
           path + ")";
}

// The local calendar time of `when`, and its milliseconds.
struct LocalTime {
    struct tm tm {};
    int millis = 0;
};

LocalTime ToLocal(Clock::time_point when) {
    LocalTime local;
    const auto sinceEpoch = when.time_since_epoch();
    auto seconds = std::chrono::floor<std::chrono::seconds>(sinceEpoch);
    local.millis = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch - seconds).count());
    const time_t t = static_cast<time_t>(seconds.count());
    localtime_r(&t, &local.tm);
    return local;
}

std::string FileStamp(Clock::time_point when) {
    const LocalTime local = ToLocal(when);
    char text[128];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d-%02d-%02d.%03d", local.tm.tm_year + 1900,
                  local.tm.tm_mon + 1, local.tm.tm_mday, local.tm.tm_hour, local.tm.tm_min,
                  local.tm.tm_sec, local.millis);
    return text;
}

// A field of a line: a tab or a line break in a port name or a device ID would break the
// journal's columns.
std::string OneField(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            c = ' ';
        }
    }
    return text;
}

bool AllDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A journal's place among the others: its start stamp, then the number that told apart two
// runs begun in the same millisecond ("-2", "-3" ...; none counts as 1). Not a journal: empty.
// Names are in local time, so in the hour that the change to winter time repeats a later run
// can sort before an earlier one: only which journal is pruned or reported first can change.
struct JournalKey {
    std::string stamp;
    unsigned long copy = 0;
    bool operator<(const JournalKey& other) const {
        return stamp != other.stamp ? stamp < other.stamp : copy < other.copy;
    }
};

std::optional<JournalKey> KeyOf(const std::string& name) {
    const std::size_t prefix = sizeof kPrefix - 1;
    const std::size_t suffix = sizeof kSuffix - 1;
    if (name.size() < prefix + kStampLength + suffix || name.compare(0, prefix, kPrefix) != 0 ||
        name.compare(name.size() - suffix, suffix, kSuffix) != 0) {
        return std::nullopt;
    }
    const std::string stamp = name.substr(prefix, kStampLength);
    static constexpr char kPattern[] = "dddd-dd-ddTdd-dd-dd.ddd";
    for (std::size_t i = 0; i < kStampLength; ++i) {
        const bool digit = stamp[i] >= '0' && stamp[i] <= '9';
        if (kPattern[i] == 'd' ? !digit : stamp[i] != kPattern[i]) {
            return std::nullopt;
        }
    }
    const std::string_view rest = std::string_view(name).substr(
        prefix + kStampLength, name.size() - prefix - kStampLength - suffix);
    JournalKey key{stamp, 1};
    if (!rest.empty()) {
        if (rest[0] != '-' || rest.size() > 6 || !AllDigits(rest.substr(1))) {
            return std::nullopt;
        }
        key.copy = std::strtoul(std::string(rest.substr(1)).c_str(), nullptr, 10);
    }
    return key;
}

struct JournalFile {
    JournalKey key;
    std::string path;
};

// The folder's journals, newest first.
std::vector<JournalFile> JournalsNewestFirst(const std::string& folder) {
    std::vector<JournalFile> journals;
    std::error_code error;
    fs::directory_iterator it(folder, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (auto key = KeyOf(name)) {
            journals.push_back({std::move(*key), it->path().string()});
        }
    }
    std::sort(journals.begin(), journals.end(),
              [](const JournalFile& a, const JournalFile& b) { return b.key < a.key; });
    return journals;
}

int OpenJournal(const std::string& path, int flags) {
    int fd;
    do {
        fd = open(path.c_str(), flags | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Whether a program that is still running holds the journal open for its run.
bool HeldByLiveRun(int fd) {
    if (flock(fd, LOCK_SH | LOCK_NB) != 0) {
        return errno == EWOULDBLOCK;
    }
    flock(fd, LOCK_UN);
    return false;
}

std::string ReadAt(int fd, off_t offset, std::size_t size) {
    std::string text(size, '\0');
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n =
            pread(fd, text.data() + got, size - got, offset + static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    text.resize(got);
    return text;
}

// The last line that holds something; a power cut may leave a torn line or zero bytes.
std::string_view LastLine(std::string_view tail) {
    while (!tail.empty() && (tail.back() == '\n' || tail.back() == '\0')) {
        tail.remove_suffix(1);
    }
    const std::size_t lineStart = tail.rfind('\n');
    return lineStart == std::string_view::npos ? tail : tail.substr(lineStart + 1);
}

bool StartsWith(std::string_view text, std::string_view start) {
    return text.substr(0, start.size()) == start;
}

int ParseDigits(std::string_view text, std::size_t at, std::size_t count, bool& ok) {
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9') {
            ok = false;
            return 0;
        }
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// "2026-12-08T10:41:16.123+01:00" back to the instant it names.
std::optional<Clock::time_point> ParseIsoTime(std::string_view text) {
    static constexpr char kPattern[] = "dddd-dd-ddTdd:dd:dd.ddd+dd:dd";
    if (text.size() < sizeof kPattern - 1) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < sizeof kPattern - 1; ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        const bool fits = kPattern[i] == 'd'   ? digit
                          : kPattern[i] == '+' ? text[i] == '+' || text[i] == '-'
                                               : text[i] == kPattern[i];
        if (!fits) {
            return std::nullopt;
        }
    }
    bool ok = true;
    using namespace std::chrono;
    const year_month_day date{year(ParseDigits(text, 0, 4, ok)),
                              month(static_cast<unsigned>(ParseDigits(text, 5, 2, ok))),
                              day(static_cast<unsigned>(ParseDigits(text, 8, 2, ok)))};
    const auto timeOfDay =
        hours(ParseDigits(text, 11, 2, ok)) + minutes(ParseDigits(text, 14, 2, ok)) +
        seconds(ParseDigits(text, 17, 2, ok)) + milliseconds(ParseDigits(text, 20, 3, ok));
    const auto offset = hours(ParseDigits(text, 24, 2, ok)) + minutes(ParseDigits(text, 27, 2, ok));
    if (!ok || !date.ok()) {
        return std::nullopt;
    }
    const auto local = sys_days(date) + timeOfDay;
    return time_point_cast<Clock::duration>(text[23] == '-' ? local + offset : local - offset);
}

// The start time a journal's name gives, when its header line never reached the disk.
Clock::time_point StartFromName(const JournalKey& key) {
    struct tm tm {};
    int millis = 0;
    std::sscanf(key.stamp.c_str(), "%4d-%2d-%2dT%2d-%2d-%2d.%3d", &tm.tm_year, &tm.tm_mon,
                &tm.tm_mday, &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &millis);
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    tm.tm_isdst = -1;
    return Clock::from_time_t(mktime(&tm)) + std::chrono::milliseconds(millis);
}

Clock::time_point StartOf(int fd, const JournalKey& key) {
    const std::string head = ReadAt(fd, 0, kHeadBytes);
    std::size_t at = 0;
    while (at < head.size() && head[at] == '#') {
        const std::size_t lineEnd = std::min(head.find('\n', at), head.size());
        const std::string_view line = std::string_view(head).substr(at, lineEnd - at);
        if (StartsWith(line, kStartTag)) {
            if (auto start = ParseIsoTime(line.substr(sizeof kStartTag - 1))) {
                return *start;
            }
            break;
        }
        at = lineEnd + 1;
    }
    return StartFromName(key);
}

// The seal lines for a journal of `folder` whose text is `body`. The signing key lives beside
// the journal folder ($XDG_DATA_HOME/velmora/signing-key for the user's own journals) and is
// made on first use; without one the journal is sealed by its SHA-256 alone.
std::string SealFor(std::string_view body, const std::string& folder) {
    const std::string keyPath = (fs::path(folder).parent_path() / "signing-key").string();
    const std::unique_ptr<CSigningKey> key = CSigningKey::LoadOrCreate(keyPath, nullptr);
    return JournalSealLines(body, key.get(), LocalUserAtHost());
}

bool IsLastLineOfFinished(std::string_view line) {
    return StartsWith(line, kEndTag) || StartsWith(line, kReportedTag) ||
           StartsWith(line, kSha256Tag) || StartsWith(line, kSignatureTag);
}

}  // namespace

struct CRunJournal::State {
    std::string folder;
    std::string path;
    std::string error;
    int fd = -1;
    // Set when the journal could not be begun: there is no file to write to.
    bool failed = false;
    // The length of the whole lines written so far: a failed write is cut back to it, so a
    // full disk never leaves half a line, and the next sample may fit again.
    off_t length = 0;

    void Close() {
        if (fd >= 0) {
            close(fd);
            fd = -1;
        }
    }

    bool Fail(int error, const std::string& where) {
        this->error = ErrorText(error, where);
        failed = true;
        Close();
        return false;
    }

    // One whole line or more, made durable before the call returns, or none of it.
    bool WriteDurably(const char* data, std::size_t size) {
        if (failed) {
            return false;
        }
        if (fd < 0) {
            error = "The run journal is not open";
            return false;
        }
        if (!WriteAll(fd, std::string_view(data, size)) || !SyncData(fd)) {
            const int writeError = errno;
            if (ftruncate(fd, length) != 0) {
                return Fail(writeError, path);
            }
            error = ErrorText(writeError, path);
            return false;
        }
        length += static_cast<off_t>(size);
        error.clear();
        return true;
    }

    bool WriteDurably(const std::string& text) { return WriteDurably(text.data(), text.size()); }

    // The oldest journals beyond the kept number go; the run just begun never does, even
    // when a clock set back makes its name the oldest.
    void Prune() const {
        const std::vector<JournalFile> journals = JournalsNewestFirst(folder);
        for (std::size_t i = kKeptRuns; i < journals.size(); ++i) {
            if (journals[i].path == path) {
                continue;
            }
            const int other = OpenJournal(journals[i].path, O_RDONLY);
            if (other < 0) {
                continue;
            }
            const bool live = HeldByLiveRun(other);
            close(other);
            if (!live) {
                unlink(journals[i].path.c_str());
            }
        }
    }
};

std::string CRunJournal::DefaultFolder() {
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && dataHome[0] == '/') {
        return std::string(dataHome) + "/velmora/runs";
    }
    std::string home;
    if (const char* env = std::getenv("HOME"); env != nullptr && env[0] != '\0') {
        home = env;
    } else if (const struct passwd* user = getpwuid(getuid()); user != nullptr) {
        home = user->pw_dir;
    }
    return home + "/.local/share/velmora/runs";
}

CRunJournal::CRunJournal(std::string folder) : m_state(std::make_unique<State>()) {
    m_state->folder = std::move(folder);
}

CRunJournal::~CRunJournal() {
    m_state->Close();
}

bool CRunJournal::Begin(const JournalHeader& header) {
    State& s = *m_state;
    // A run begun without the last one's End leaves that journal as a crash would: unfinished.
    s.Close();
    s.path.clear();
    s.error.clear();
    s.failed = false;
    s.length = 0;

    // A run without a journal has no journal path to show; the reason names the path tried.
    const auto failBegin = [&s](int error, const std::string& where) {
        s.Fail(error, where);
        s.path.clear();
        return false;
    };
    std::error_code made;
    fs::create_directories(s.folder, made);
    if (made) {
        return failBegin(made.value(), s.folder);
    }

    const std::string stamp = FileStamp(header.start);
    for (int copy = 1; copy <= 99 && s.fd < 0; ++copy) {
        const std::string name =
            kPrefix + stamp + (copy > 1 ? "-" + std::to_string(copy) : "") + kSuffix;
        s.path = s.folder + "/" + name;
        s.fd = OpenJournal(s.path, O_RDWR | O_APPEND | O_CREAT | O_EXCL);
        if (s.fd < 0 && errno != EEXIST) {
            return failBegin(errno, s.path);
        }
    }
    if (s.fd < 0) {
        return failBegin(EEXIST, s.path);
    }
    flock(s.fd, LOCK_EX | LOCK_NB);

    const std::string text =
        std::string(kStartTag) + FormatLocalTimestamp(header.start) + "\n" + "# port\t" +
        OneField(header.port) + "\n" + "# device ID\t" + OneField(header.deviceId) + "\n" +
        "# device type\t" + std::to_string(header.deviceType) + "\n" +
        "# speed setpoint (1/min)\t" + std::to_string(header.speedSetpoint) + "\n" +
        "# time setpoint\t" + std::to_string(header.timeSetpoint) + "\n" + "# program version\t" +
        OneField(header.programVersion) + "\n" +
        (header.startedBy.empty() ? "" : "# started by\t" + OneField(header.startedBy) + "\n") +
        (header.simulated ? "# simulation\n" : "") +
        "#sample\tspeed\treading\tremaining\tlocal time\n";
    if (!s.WriteDurably(text)) {
        // Without its header the file is no run's journal; left, it would be reported as a
        // run that ended unexpectedly.
        const int error = errno;
        unlink(s.path.c_str());
        return failBegin(error, s.path);
    }
    SyncFolder(s.folder);
    s.Prune();
    return true;
}

bool CRunJournal::Append(int sampleNumber, int speed, int reading, int remaining,
                         Clock::time_point when) {
    State& s = *m_state;
    const std::string time = FormatLocalTimestamp(when);
    char line[192];
    const int length = std::snprintf(line, sizeof line, "%d\t%d\t%d\t%d\t%s\n", sampleNumber, speed,
                                     reading, remaining, time.c_str());
    return s.WriteDurably(line, std::min(static_cast<std::size_t>(length), sizeof line - 1));
}

bool CRunJournal::Note(const std::string& text) {
    return m_state->WriteDurably("# " + OneField(text) + "\n");
}

bool CRunJournal::Note(const std::vector<std::string>& fields) {
    std::string line = "#";
    for (std::size_t i = 0; i < fields.size(); ++i) {
        line += (i == 0 ? " " : "\t") + OneField(fields[i]);
    }
    return m_state->WriteDurably(line + "\n");
}

bool CRunJournal::End(RunEnd why) {
    State& s = *m_state;
    bool written = s.WriteDurably(std::string(kEndTag) + RunEndText(why) + "\t" +
                                  FormatLocalTimestamp(Clock::now()) + "\n");
    if (written) {
        // Sealed from what is on the disk, so the seal vouches for the bytes a check will read.
        const std::string body = ReadAt(s.fd, 0, static_cast<std::size_t>(s.length));
        written =
            static_cast<off_t>(body.size()) == s.length && s.WriteDurably(SealFor(body, s.folder));
    }
    s.Close();
    return written;
}

bool CRunJournal::IsOpen() const {
    return m_state->fd >= 0;
}

std::string CRunJournal::Path() const {
    return m_state->path;
}

std::string CRunJournal::LastError() const {
    return m_state->error;
}

// Every journal's tail is read, not only the newest one's: a second instance of the program,
// or a run whose end line a full disk refused, can leave a finished journal newer than the
// unfinished one. 500 tails of a few KB cost a few milliseconds, once per program start.
std::optional<UnfinishedRun> CRunJournal::TakeUnfinished(const std::string& folder) {
    for (const JournalFile& journal : JournalsNewestFirst(folder)) {
        const int fd = OpenJournal(journal.path, O_RDWR | O_APPEND);
        if (fd < 0) {
            continue;
        }
        struct stat file {};
        // A second name of a file elsewhere (a hard link) is nobody's journal: the mark would
        // be appended to that file.
        if (fstat(fd, &file) != 0 || !S_ISREG(file.st_mode) || file.st_nlink > 1 ||
            HeldByLiveRun(fd)) {
            close(fd);
            continue;
        }
        const off_t tailStart =
            file.st_size > static_cast<off_t>(kTailBytes) ? file.st_size - kTailBytes : 0;
        const std::string tail =
            ReadAt(fd, tailStart, static_cast<std::size_t>(file.st_size - tailStart));
        const std::string_view last = LastLine(tail);
        if (IsLastLineOfFinished(last)) {
            close(fd);
            continue;
        }
        UnfinishedRun run{journal.path, StartOf(fd, journal.key)};
        // A torn last line keeps its own line; the mark starts a new one.
        std::string mark = (!tail.empty() && tail.back() != '\n') ? "\n" : "";
        mark += std::string(kReportedTag) + FormatLocalTimestamp(Clock::now()) + "\n";
        if (WriteAll(fd, mark)) {
            SyncData(fd);
            // Sealed as it was found, so nothing can be added to the run afterwards unseen.
            std::string body = ReadAt(fd, 0, static_cast<std::size_t>(file.st_size) + mark.size());
            body += kSealedAfterCrash;
            if (WriteAll(fd, kSealedAfterCrash + SealFor(body, folder))) {
                SyncData(fd);
            }
        }
        close(fd);
        return run;
    }
    return std::nullopt;
}
