#include "link/open_failure.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
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

// The canonical path of what `path` names, so /dev/serial/by-id links meet /proc's targets.
std::string Canonical(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return path;
    }
    std::string result(resolved);
    std::free(resolved);
    return result;
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

bool ProcessHasOpen(const std::string& processDir, const std::string& target) {
    const std::string fdDir = processDir + "/fd";
    DIR* dir = opendir(fdDir.c_str());
    if (dir == nullptr) {
        return false;  // gone, or another user's
    }
    bool found = false;
    while (const dirent* entry = readdir(dir)) {
        if (!IsAllDigits(entry->d_name)) {
            continue;
        }
        char link[4096];
        const std::string fdPath = fdDir + "/" + entry->d_name;
        const ssize_t length = readlink(fdPath.c_str(), link, sizeof link - 1);
        if (length > 0 && target.compare(0, std::string::npos, link, length) == 0) {
            found = true;
            break;
        }
    }
    closedir(dir);
    return found;
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
        return InUse(path, attempt.holder);
    }
    return OtherError(path, error);
}

std::optional<PortHolder> FindPortHolder(const std::string& path) {
    const std::string target = Canonical(path);
    const std::string self = std::to_string(getpid());
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return std::nullopt;
    }
    std::optional<PortHolder> holder;
    while (const dirent* entry = readdir(proc)) {
        if (!IsAllDigits(entry->d_name) || self == entry->d_name) {
            continue;
        }
        const std::string processDir = std::string("/proc/") + entry->d_name;
        if (ProcessHasOpen(processDir, target)) {
            holder = PortHolder{static_cast<pid_t>(std::atol(entry->d_name)),
                                ProcessCommand(processDir)};
            break;
        }
    }
    closedir(proc);
    return holder;
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
            attempt.holder = FindPortHolder(path);
        }
        return fail(OpenStep::kOpen, error);
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(fd);
        if (error == EWOULDBLOCK) {
            attempt.holder = FindPortHolder(path);
            // Nobody else has it open, so the lock is this process's own channel's.
            attempt.heldHere = !attempt.holder && ProcessHasOpen("/proc/self", Canonical(path));
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
