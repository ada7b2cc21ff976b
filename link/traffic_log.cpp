#include "link/traffic_log.h"

#include "link/posix_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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
}

void CTrafficLog::CloseLocked() {
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
}

void CTrafficLog::Reset() {
    std::lock_guard lock(m_mutex);
    CloseLocked();
    if (m_directory.empty()) {
        return;
    }
    MakeDirectories(m_directory);
    m_fd = OpenRegularFile(PathLocked(), O_CREAT);
    // Emptied only once it is known to be a regular file of its own.
    if (m_fd >= 0 && ftruncate(m_fd, 0) != 0) {
        CloseLocked();
    }
}

int CTrafficLog::FileLocked() {
    if (m_fd >= 0) {
        struct stat status {};
        if (fstat(m_fd, &status) == 0 && status.st_nlink > 0) {
            return m_fd;
        }
        CloseLocked();
    }
    if (!m_directory.empty()) {
        m_fd = OpenRegularFile(PathLocked(), 0);
    }
    return m_fd;
}

void CTrafficLog::Append(const std::string& text) {
    std::lock_guard lock(m_mutex);
    const int fd = FileLocked();
    if (fd >= 0) {
        WriteAll(fd, text);
    }
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
