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
#include <vector>

namespace {

// Where the content finally goes: the file a symbolic link points to, else the path itself.
std::string ResolveTarget(const std::string& path) {
    struct stat link {};
    if (lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        char resolved[PATH_MAX];
        if (realpath(path.c_str(), resolved) != nullptr) {
            return resolved;
        }
    }
    return path;
}

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

}  // namespace

int ReplaceFileAtomicallyWith(const std::string& path,
                              const std::function<bool(const FileChunkSink& sink)>& produce) {
    if (path.empty()) {
        return 0;
    }
    const std::filesystem::path target = ResolveTarget(path);
    if (!target.has_filename()) {
        return 0;
    }

    // Renaming over a directory, a device or a pipe would destroy it rather than write to it.
    struct stat existing {};
    const bool exists = stat(target.c_str(), &existing) == 0;
    if (exists && (!S_ISREG(existing.st_mode) || !PermissionBitsAllowWriting(existing))) {
        return 0;
    }

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
