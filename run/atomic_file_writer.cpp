#include "run/atomic_file_writer.h"

#include "link/posix_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace {

// A hidden name beside the target; O_EXCL makes it ours alone.
int CreateTemporaryBeside(const std::filesystem::path& target, std::string& tempPath) {
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path dir =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    for (int attempt = 0; attempt < 32; ++attempt) {
        const std::string name = "." + target.filename().string() + ".tmp-" +
                                 std::to_string(getpid()) + "-" + std::to_string(ticks) + "-" +
                                 std::to_string(counter.fetch_add(1));
        tempPath = (dir / name).string();
        const int fd = open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

// Whether the permission bits let this process write the file. The rename needs only the
// directory, so without this a file the operator made read-only would be replaced all the
// same. Root counts as the owner: it bypasses the bits, but the operator's intent is in them.
bool PermissionBitsAllowWriting(const struct stat& file) {
    const uid_t user = geteuid();
    if (user == 0 || user == file.st_uid) {
        return (file.st_mode & S_IWUSR) != 0;
    }
    bool inGroup = getegid() == file.st_gid;
    if (!inGroup) {
        const int count = getgroups(0, nullptr);
        if (count > 0) {
            std::vector<gid_t> groups(static_cast<std::size_t>(count));
            const int got = getgroups(count, groups.data());
            inGroup = got > 0 && std::find(groups.begin(), groups.begin() + got, file.st_gid) !=
                                     groups.begin() + got;
        }
    }
    return (file.st_mode & (inGroup ? S_IWGRP : S_IWOTH)) != 0;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string Reason(int error) {
    return std::generic_category().message(error);
}

// The kernel's fs.protected_symlinks rule for the last part of a path: a link is followed when
// its owner is the one following it, when its folder is not both sticky and world-writable, or
// when the folder's owner owns the link too. Elsewhere, anyone may have put it there.
bool KernelWouldFollow(const struct stat& link, const std::string& linkPath) {
    if (link.st_uid == geteuid()) {
        return true;
    }
    struct stat folder {};
    if (stat(FolderOf(linkPath).c_str(), &folder) != 0) {
        return false;
    }
    constexpr mode_t kShared = S_ISVTX | S_IWOTH;
    return (folder.st_mode & kShared) != kShared || folder.st_uid == link.st_uid;
}

std::string NotRegular(const std::string& path, mode_t mode) {
    if (S_ISFIFO(mode)) {
        return path + " is a FIFO (named pipe), not a regular file";
    }
    if (S_ISDIR(mode)) {
        return path + " is a folder, not a file";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return path + " is a device, not a regular file";
    }
    if (S_ISSOCK(mode)) {
        return path + " is a socket, not a regular file";
    }
    return path + " is not a regular file";
}

// Where the content of `path` goes, following links as the kernel would, and whether it can go
// there. `existing` holds the target's status when it exists.
struct WriteTarget {
    std::string path;
    std::optional<std::string> problem;
    bool exists = false;
    struct stat existing {};
};

WriteTarget ResolveWriteTarget(const std::string& path) {
    WriteTarget target;
    if (path.empty()) {
        target.problem = "no file name was given";
        return target;
    }
    // The kernel's own limit on links followed in one look-up.
    constexpr int kMaxLinks = 40;
    std::string current = path;
    for (int links = 0;; ++links) {
        struct stat status {};
        if (lstat(current.c_str(), &status) != 0) {
            const int error = errno;
            if (error != ENOENT) {
                target.problem = current + ": " + Reason(error);
                return target;
            }
            break;
        }
        if (!S_ISLNK(status.st_mode)) {
            target.exists = true;
            target.existing = status;
            break;
        }
        if (links == kMaxLinks) {
            target.problem = path + ": " + Reason(ELOOP);
            return target;
        }
        if (!KernelWouldFollow(status, current)) {
            target.problem = current +
                             " is a symbolic link of another user in a folder anyone may write "
                             "to (" +
                             FolderOf(current) + "); it is not followed";
            return target;
        }
        std::vector<char> text(static_cast<std::size_t>(status.st_size > 0 ? status.st_size : 0) +
                               PATH_MAX);
        const ssize_t length = readlink(current.c_str(), text.data(), text.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= text.size()) {
            target.problem = current + ": the link could not be read";
            return target;
        }
        const std::string next(text.data(), static_cast<std::size_t>(length));
        current = next.front() == '/' ? next : FolderOf(current) + "/" + next;
    }
    target.path = current;

    if (target.exists) {
        if (!S_ISREG(target.existing.st_mode)) {
            target.problem = NotRegular(current, target.existing.st_mode);
            return target;
        }
        if (!PermissionBitsAllowWriting(target.existing)) {
            target.problem = current + " is read-only for this user";
            return target;
        }
    }
    const std::string folder = FolderOf(current);
    struct stat folderStatus {};
    if (stat(folder.c_str(), &folderStatus) != 0) {
        const int error = errno;
        target.problem = error == ENOENT ? "the folder " + folder + " does not exist"
                                         : folder + ": " + Reason(error);
        return target;
    }
    if (!S_ISDIR(folderStatus.st_mode)) {
        target.problem = folder + " is not a folder";
        return target;
    }
    if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        const int error = errno;
        target.problem = error == EROFS ? "the folder " + folder + " is on a read-only file system"
                                        : "the folder " + folder + " is not writable for this user";
        return target;
    }
    // A sticky folder lets only a file's owner (or the folder's) replace it.
    const uid_t user = geteuid();
    if (target.exists && (folderStatus.st_mode & S_ISVTX) != 0 && user != 0 &&
        user != target.existing.st_uid && user != folderStatus.st_uid) {
        target.problem = current + " belongs to another user in a shared folder";
        return target;
    }
    return target;
}

}  // namespace

std::optional<std::string> WriteTargetProblem(const std::string& path) {
    WriteTarget target = ResolveWriteTarget(path);
    if (target.problem) {
        return target.problem;
    }
    // What no look-up shows (a name too long, a full quota, a file system that takes no new
    // files) shows in making the temporary file the content would go to.
    std::string tempPath;
    const int fd = CreateTemporaryBeside(target.path, tempPath);
    if (fd < 0) {
        const int error = errno;
        return target.path + " can't be made: " + Reason(error);
    }
    close(fd);
    unlink(tempPath.c_str());
    return std::nullopt;
}

int ReplaceFileAtomicallyWith(const std::string& path,
                              const std::function<bool(const FileChunkSink& sink)>& produce) {
    // Renaming over a directory, a device or a pipe would destroy it rather than write to it.
    const WriteTarget resolved = ResolveWriteTarget(path);
    if (resolved.problem) {
        return 0;
    }
    const std::filesystem::path target = resolved.path;
    if (!target.has_filename()) {
        return 0;
    }
    const bool exists = resolved.exists;
    const struct stat& existing = resolved.existing;

    std::string tempPath;
    const int fd = CreateTemporaryBeside(target, tempPath);
    if (fd < 0) {
        return 0;
    }
    if (exists) {
        // The replacement keeps the permissions the operator gave the old file.
        fchmod(fd, existing.st_mode & 07777);
    }

    bool written = true;
    const FileChunkSink sink = [fd, &written](std::string_view chunk) {
        written = written && WriteAll(fd, chunk);
        return written;
    };
    bool ok = produce && produce(sink) && written;
    // Some file systems cannot sync at all (EINVAL); the data is then as safe as they allow.
    ok = ok && (fsync(fd) == 0 || errno == EINVAL);
    ok = (close(fd) == 0) && ok;
    ok = ok && rename(tempPath.c_str(), target.c_str()) == 0;
    if (!ok) {
        unlink(tempPath.c_str());
        return 0;
    }
    // The rename itself reaches the disk only with the directory; the file is already in place,
    // so this does not change the outcome.
    SyncFolder(target.has_parent_path() ? target.parent_path().string() : std::string("."));
    return 1;
}

int ReplaceFileAtomically(const std::string& path, std::string_view content) {
    return ReplaceFileAtomicallyWith(
        path, [content](const FileChunkSink& sink) { return sink(content); });
}
