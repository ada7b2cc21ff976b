#include "link/traffic_log.h"

#include "link/posix_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

std::string ExecutableDirectory() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length <= 0) {
        return {};
    }
    std::string full(path, static_cast<std::size_t>(length));
    const auto slash = full.rfind('/');
    return slash == std::string::npos ? std::string{} : full.substr(0, slash);
}

std::string StateDirectory() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') {
        return std::string(state) + "/velmora";
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        return std::string(home) + "/.local/state/velmora";
    }
    return {};
}

// mkdir -p; the log lives in the state directory only when the executable's is read-only.
void MakeDirectories(const std::string& directory) {
    for (std::size_t slash = directory.find('/', 1);; slash = directory.find('/', slash + 1)) {
        const std::string prefix = directory.substr(0, slash);
        if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
            return;
        }
        if (slash == std::string::npos) {
            return;
        }
    }
}

// The file at `path` for appending, only if it is a regular file: a symbolic link is not
// followed (its target could be anything the user may write), and the open does not block,
// so a FIFO with no reader can't hang the exchange. -1 otherwise.
int OpenRegularFile(const std::string& path, int extraFlags) {
    const int fd = open(
        path.c_str(),
        O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | extraFlags, 0644);
    if (fd < 0) {
        return -1;
    }
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

std::string DefaultLogDirectory() {
    const std::string exeDirectory = ExecutableDirectory();
    if (!exeDirectory.empty() && access(exeDirectory.c_str(), W_OK) == 0) {
        return exeDirectory;
    }
    return StateDirectory();
}

CTrafficLog::CTrafficLog() : m_directory(DefaultLogDirectory()) {}

CTrafficLog::~CTrafficLog() {
    CloseLocked();
}

std::string CTrafficLog::Path() const {
    std::lock_guard lock(m_mutex);
    return PathLocked();
}

std::string CTrafficLog::PathLocked() const {
    return m_directory + "/" + kFileName;
}

void CTrafficLog::SetDirectory(const std::string& directory) {
    std::lock_guard lock(m_mutex);
    CloseLocked();
    m_directory = directory;
    m_droppedBytes = 0;
    m_noteBytes = 0;
    m_olderNoteBytes = 0;
}

void CTrafficLog::CloseLocked() {
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
}

void CTrafficLog::SetCapBytes(std::uint64_t bytes) {
    std::lock_guard lock(m_mutex);
    m_capBytes = bytes;
}

void CTrafficLog::Reset() {
    std::lock_guard lock(m_mutex);
    CloseLocked();
    m_droppedBytes = 0;
    m_noteBytes = 0;
    m_olderNoteBytes = 0;
    if (m_directory.empty()) {
        return;
    }
    MakeDirectories(m_directory);
    const std::string older = PathLocked() + kOlderHalfSuffix;
    struct stat olderStatus {};
    if (lstat(older.c_str(), &olderStatus) == 0 && S_ISREG(olderStatus.st_mode)) {
        unlink(older.c_str());
    }
    m_fd = OpenRegularFile(PathLocked(), O_CREAT);
    // Emptied only once it is known to be a regular file of its own.
    if (m_fd >= 0 && ftruncate(m_fd, 0) != 0) {
        CloseLocked();
    }
}

int CTrafficLog::FileLocked(std::uint64_t& size) {
    size = 0;
    if (m_fd >= 0) {
        // Still the file at the path: once it was removed or replaced, the lines go to the
        // file that is there now (another session may have made it).
        struct stat open {};
        struct stat atPath {};
        if (fstat(m_fd, &open) == 0 && lstat(PathLocked().c_str(), &atPath) == 0 &&
            open.st_dev == atPath.st_dev && open.st_ino == atPath.st_ino) {
            size = static_cast<std::uint64_t>(open.st_size);
            return m_fd;
        }
        CloseLocked();
    }
    if (m_directory.empty()) {
        return -1;
    }
    m_fd = OpenRegularFile(PathLocked(), 0);
    struct stat status {};
    if (m_fd >= 0 && fstat(m_fd, &status) == 0) {
        size = static_cast<std::uint64_t>(status.st_size);
    }
    return m_fd;
}

void CTrafficLog::StartNewHalfLocked() {
    const std::string path = PathLocked();
    const std::string older = path + kOlderHalfSuffix;
    struct stat olderStatus {};
    const bool olderWasHalf =
        lstat(older.c_str(), &olderStatus) == 0 && S_ISREG(olderStatus.st_mode);
    // The notes are not traffic: only the traffic lines gone are counted.
    const auto traffic = [](off_t size, std::uint64_t note) {
        const auto bytes = static_cast<std::uint64_t>(size);
        return bytes > note ? bytes - note : 0;
    };
    if (rename(path.c_str(), older.c_str()) == 0) {
        if (olderWasHalf) {
            m_droppedBytes += traffic(olderStatus.st_size, m_olderNoteBytes);
        }
        m_olderNoteBytes = m_noteBytes;
        CloseLocked();
        m_fd = OpenRegularFile(path, O_CREAT);
    } else {
        // No older half can be kept (something else is at its name): the bound still holds.
        struct stat current {};
        if (fstat(m_fd, &current) != 0 || ftruncate(m_fd, 0) != 0) {
            CloseLocked();
            return;
        }
        m_droppedBytes += traffic(current.st_size, m_noteBytes);
    }
    m_noteBytes = 0;
    if (m_fd >= 0 && m_droppedBytes > 0) {
        const std::string note =
            "Dropped: " + std::to_string(m_droppedBytes) + " bytes of older traffic\r\n";
        if (WriteAll(m_fd, note)) {
            m_noteBytes = note.size();
        }
    }
}

void CTrafficLog::Append(const std::string& text) {
    std::lock_guard lock(m_mutex);
    std::uint64_t size = 0;
    if (FileLocked(size) < 0) {
        return;
    }
    // A line is never split: a half exceeds its share by at most the line that filled it.
    if (size > 0 && size + text.size() > m_capBytes / 2) {
        StartNewHalfLocked();
        if (m_fd < 0) {
            return;
        }
    }
    WriteAll(m_fd, text);
}

std::string CTrafficLog::Hex(const std::uint8_t* bytes, int length) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    if (bytes == nullptr || length <= 0) {
        return text;
    }
    text.reserve(static_cast<std::size_t>(length) * 3);
    for (int i = 0; i < length; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
        text += ' ';
    }
    return text;
}
