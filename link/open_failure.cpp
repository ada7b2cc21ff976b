#include "link/open_failure.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

namespace {

constexpr const char* kListHint = "`ls /dev/serial/by-id` lists the serial devices.";

std::string NoDevice(const std::string& path) {
    return "No device at " + path + ". Check the cable and the adapter; " + kListHint;
}

std::string NotSerial(const std::string& path, mode_t fileType) {
    std::string what = "not a serial device";
    if (fileType == S_IFREG) {
        what = "a regular file, " + what;
    } else if (fileType == S_IFDIR) {
        what = "a directory, " + what;
    }
    return path + " is " + what + ". Choose the instrument's port; " + kListHint;
}

// Serial devices on Debian belong to dialout; a device of another group that lets its
// members read and write is reached through that group instead. Root's group helps nobody.
std::string PermissionDenied(const std::string& path, const std::string& group) {
    const std::string joined = group.empty() || group == "root" ? "dialout" : group;
    return "No permission to open " + path + ". Add yourself to the " + joined +
           " group with `sudo usermod -aG " + joined + " $USER`, then log out and in again.";
}

std::string InUse(const std::string& path, const std::optional<PortHolder>& holder) {
    std::string text = path + " is in use by another program";
    if (holder) {
        text += " (" + holder->command + ", pid " + std::to_string(holder->pid) + ")";
    }
    return text + ". Close it, then connect again.";
}

std::string Opens(const std::string& path) {
    return path +
           " opens, but the instrument did not answer. Check that it is switched on and "
           "connected to this port, and its baud rate.";
}

std::string OtherError(const std::string& path, int error) {
    return path + " could not be opened: " + std::generic_category().message(error) +
           ". Check the cable and the adapter; " + kListHint;
}

bool IsNoDevice(int error) {
    return error == ENOENT || error == ENOTDIR || error == ENODEV || error == ENXIO || error == EIO;
}

// A file as the kernel tells files apart: the device and inode of its node. A pseudo-terminal's
// two sides are two nodes (/dev/ptmx and /dev/pts/N), so the instrument's side of one never
// passes for ours.
struct Node {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const Node&) const = default;
};

std::optional<Node> NodeAt(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return Node{info.st_dev, info.st_ino};
}

bool IsAllDigits(const char* text) {
    if (*text == '\0') {
        return false;
    }
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') {
            return false;
        }
    }
    return true;
}

enum class Opened { Yes, No, Unknown };

// Whether the process has `node` open; Unknown when its descriptors may not be looked at
// (another user's) or it is gone.
Opened ProcessHasOpen(const std::string& processDir, const Node& node) {
    const std::string fdDir = processDir + "/fd";
    DIR* dir = opendir(fdDir.c_str());
    if (dir == nullptr) {
        return Opened::Unknown;
    }
    Opened found = Opened::No;
    while (const dirent* entry = readdir(dir)) {
        if (!IsAllDigits(entry->d_name)) {
            continue;
        }
        if (NodeAt(fdDir + "/" + entry->d_name) == node) {
            found = Opened::Yes;
            break;
        }
    }
    closedir(dir);
    return found;
}

// The processes holding a flock on `node`, as /proc/locks lists them: "1: FLOCK  ADVISORY
// WRITE 4242 00:19:3 0 EOF" (device numbers in hex, the inode in decimal). Waiters ("->") hold
// nothing. Only a flock keeps a channel off a port, so only a flock makes a holder.
std::vector<pid_t> FlockHolders(const Node& node) {
    std::vector<pid_t> holders;
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string ordinal, kind, mode, access, where;
        long long pid = 0;
        if (!(fields >> ordinal >> kind) || kind != "FLOCK" ||
            !(fields >> mode >> access >> pid >> where) || pid <= 0) {
            continue;
        }
        unsigned int major = 0;
        unsigned int minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(where.c_str(), "%x:%x:%llu", &major, &minor, &inode) == 3 &&
            makedev(major, minor) == node.device && inode == node.inode) {
            holders.push_back(static_cast<pid_t>(pid));
        }
    }
    return holders;
}

std::string ProcessCommand(const std::string& processDir) {
    std::ifstream comm(processDir + "/comm");
    std::string command;
    std::getline(comm, command);
    return command;
}

}  // namespace

std::string OpenFailureReason(const OpenAttempt& attempt) {
    const std::string& path = attempt.path;
    if (path.empty()) {
        return std::string("No port was chosen. Choose the instrument's port; ") + kListHint;
    }
    switch (attempt.failedAt) {
        case OpenStep::kNone:
            return Opens(path);
        case OpenStep::kFileType:
            return NotSerial(path, attempt.fileType);
        case OpenStep::kLock:
            if (attempt.error == EWOULDBLOCK) {
                return attempt.heldHere ? Opens(path) : InUse(path, attempt.holder);
            }
            return OtherError(path, attempt.error);
        case OpenStep::kStat:
        case OpenStep::kOpen:
        case OpenStep::kTerminal:
            break;
    }
    const int error = attempt.error;
    if (attempt.failedAt == OpenStep::kTerminal && (error == ENOTTY || error == EINVAL)) {
        return NotSerial(path, attempt.fileType);
    }
    if (error == EISDIR) {
        return NotSerial(path, S_IFDIR);
    }
    if (IsNoDevice(error)) {
        return NoDevice(path);
    }
    if (error == EACCES || error == EPERM) {
        return PermissionDenied(path, attempt.group);
    }
    if (error == EBUSY) {
        return attempt.heldHere ? Opens(path) : InUse(path, attempt.holder);
    }
    return OtherError(path, error);
}

namespace {

struct LockOwners {
    bool self = false;
    std::optional<PortHolder> other;
};

// Who holds the lock on the device at `path`. A listed process that no longer has the device
// open (the lock went on with a child it handed the descriptor to) is not named.
LockOwners FindLockOwners(const std::string& path) {
    LockOwners owners;
    const std::optional<Node> node = NodeAt(path);
    if (!node) {
        return owners;
    }
    const pid_t self = getpid();
    for (const pid_t pid : FlockHolders(*node)) {
        if (pid == self) {
            owners.self = true;
            continue;
        }
        const std::string processDir = "/proc/" + std::to_string(pid);
        if (!owners.other && ProcessHasOpen(processDir, *node) != Opened::No &&
            access(processDir.c_str(), F_OK) == 0) {
            owners.other = PortHolder{pid, ProcessCommand(processDir)};
        }
    }
    return owners;
}

}  // namespace

std::optional<PortHolder> FindPortHolder(const std::string& path) {
    return FindLockOwners(path).other;
}

OpenAttempt ProbePortOpen(const std::string& path) {
    OpenAttempt attempt;
    attempt.path = path;
    const auto fail = [&attempt](OpenStep step, int error) {
        attempt.failedAt = step;
        attempt.error = error;
        return attempt;
    };
    if (path.empty()) {
        return fail(OpenStep::kStat, ENOENT);
    }

    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return fail(OpenStep::kStat, errno);
    }
    attempt.fileType = info.st_mode & S_IFMT;
    if ((info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP)) {
        group entry{};
        group* found = nullptr;
        std::vector<char> buffer(16384);
        if (getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &found) == 0 &&
            found != nullptr) {
            attempt.group = found->gr_name;
        }
    }
    if (attempt.fileType != S_IFCHR) {
        return fail(OpenStep::kFileType, 0);
    }

    // No O_CREAT: probing must never leave a file behind where a device was expected.
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == EBUSY) {
            // Exclusive mode refuses every open but root's, this process's own too.
            const LockOwners owners = FindLockOwners(path);
            attempt.holder = owners.other;
            attempt.heldHere = owners.self && !owners.other;
        }
        return fail(OpenStep::kOpen, error);
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(fd);
        if (error == EWOULDBLOCK) {
            const LockOwners owners = FindLockOwners(path);
            attempt.holder = owners.other;
            attempt.heldHere = owners.self && !owners.other;
        }
        return fail(OpenStep::kLock, error);
    }
    termios settings{};
    const int terminal = tcgetattr(fd, &settings);
    const int error = errno;
    close(fd);
    if (terminal != 0) {
        return fail(OpenStep::kTerminal, error);
    }
    return attempt;
}

std::string ExplainPortOpenFailure(const std::string& path) {
    return OpenFailureReason(ProbePortOpen(path));
}
