#include "server/user_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "link/posix_io.h"
#include "server/password_hash.h"

namespace {

constexpr std::size_t kMaxNameLength = 64;

// The user a line holds, or empty for a comment, a blank line or a line no user could have
// written (those are kept as they are, and count for no one).
std::string_view NameOf(std::string_view line) {
    const std::string_view name = line.substr(0, line.find(':'));
    return IsValidUserName(name) ? name : std::string_view();
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string Reason(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// Makes `folder` (and its parents) if missing; the folder itself is closed to others.
bool MakePrivateFolder(const std::string& folder, std::string& error) {
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            error = Reason("can't make " + part);
            return false;
        }
        if (slash == std::string::npos)
            break;
    }
    if (chmod(folder.c_str(), 0700) != 0) {
        error = Reason("can't restrict " + folder);
        return false;
    }
    return true;
}

}  // namespace

bool IsValidUserName(std::string_view name) {
    if (name.empty() || name.size() > kMaxNameLength)
        return false;
    for (const char c : name) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                             (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        if (!allowed)
            return false;
    }
    return true;
}

CUserFile::CUserFile(std::string path) : m_path(std::move(path)) {}

bool CUserFile::Load() {
    m_lines.clear();
    std::ifstream file(m_path);
    if (!file) {
        if (errno == ENOENT)
            return true;
        m_error = Reason("can't read " + m_path);
        return false;
    }
    for (std::string line; std::getline(file, line);)
        m_lines.push_back(line);
    if (file.bad()) {
        m_error = "can't read " + m_path;
        return false;
    }
    return true;
}

bool CUserFile::Save() {
    const std::string folder = FolderOf(m_path);
    if (!MakePrivateFolder(folder, m_error))
        return false;
    std::string text;
    for (const auto& line : m_lines)
        text += line + "\n";
    // Made 0600 from the start, not narrowed after: no one else ever sees a hash, even briefly.
    const std::string temporary = m_path + ".new-" + std::to_string(getpid());
    unlink(temporary.c_str());
    const int fd =
        open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        m_error = Reason("can't write " + temporary);
        return false;
    }
    bool saved = fchmod(fd, 0600) == 0 && WriteAll(fd, text) && fsync(fd) == 0;
    saved = close(fd) == 0 && saved;
    saved = saved && rename(temporary.c_str(), m_path.c_str()) == 0;
    if (saved)
        SyncFolder(folder);
    if (!saved) {
        m_error = Reason("can't write " + m_path);
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

std::vector<std::string> CUserFile::Names() const {
    std::vector<std::string> names;
    for (const auto& line : m_lines) {
        if (const auto name = NameOf(line); !name.empty())
            names.emplace_back(name);
    }
    return names;
}

std::string CUserFile::HashOf(std::string_view name) const {
    for (const auto& line : m_lines) {
        if (!name.empty() && NameOf(line) == name && line.size() > name.size())
            return line.substr(name.size() + 1);
    }
    return {};
}

void CUserFile::Set(std::string_view name, const std::string& hash) {
    if (name.empty())
        return;
    const std::string line = std::string(name) + ":" + hash;
    for (auto& existing : m_lines) {
        if (NameOf(existing) == name) {
            existing = line;
            return;
        }
    }
    m_lines.push_back(line);
}

bool CUserFile::Remove(std::string_view name) {
    if (name.empty())
        return false;
    const auto before = m_lines.size();
    std::erase_if(m_lines, [name](const std::string& line) { return NameOf(line) == name; });
    return m_lines.size() != before;
}

bool CheckUserPassword(const std::string& path, std::string_view name, std::string_view password) {
    CUserFile users(path);
    const std::string hash =
        IsValidUserName(name) && users.Load() ? users.HashOf(name) : std::string();
    if (hash.empty()) {
        SpendVerifyTime(password);
        return false;
    }
    return VerifyPassword(password, hash);
}

CUserFileLock::CUserFileLock(const std::string& usersFile) {
    std::string error;
    if (!MakePrivateFolder(FolderOf(usersFile), error))
        return;
    m_fd = open((usersFile + ".lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (m_fd >= 0)
        flock(m_fd, LOCK_EX);
}

CUserFileLock::~CUserFileLock() {
    if (m_fd >= 0)
        close(m_fd);
}
