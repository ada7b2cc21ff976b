#include "link/traffic_log.h"

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

void WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        done += static_cast<std::size_t>(n);
    }
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

std::string CTrafficLog::Path() const {
    std::lock_guard lock(m_mutex);
    return m_directory + "/" + kFileName;
}

void CTrafficLog::SetDirectory(const std::string& directory) {
    std::lock_guard lock(m_mutex);
    m_directory = directory;
}

void CTrafficLog::Reset() {
    std::lock_guard lock(m_mutex);
    if (m_directory.empty()) {
        return;
    }
    MakeDirectories(m_directory);
    const std::string path = m_directory + "/" + kFileName;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd >= 0) {
        close(fd);
    }
}

void CTrafficLog::Append(const std::string& text) {
    std::lock_guard lock(m_mutex);
    if (m_directory.empty()) {
        return;
    }
    const std::string path = m_directory + "/" + kFileName;
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return;
    }
    WriteAll(fd, text);
    close(fd);
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
