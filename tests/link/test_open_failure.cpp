// The reasons a port won't open, found by opening real paths: a missing one, a regular file,
// a pseudo-terminal that a process of another user may not open, one locked by another process.
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "link/open_failure.h"
#include "link_fixture.h"
#include "sim/pty_pair.h"

namespace {

constexpr uid_t kNobody = 65534;

// Everything the child wrote to `fd` until it closed it.
std::string ReadToEnd(int fd) {
    std::string text;
    char buffer[512];
    ssize_t got = 0;
    while ((got = read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
        if (got > 0) {
            text.append(buffer, static_cast<std::size_t>(got));
        }
    }
    return text;
}

class OpenFailureOnPty : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(OpenPtyPair(m_pty)); }
    void TearDown() override { ClosePtyPair(m_pty); }
    PtyPair m_pty;
};

TEST(OpenFailure, MissingPathAndRegularFileAndDirectoryEachSayWhatToDo) {
    CTempDir dir;
    const std::string missing = dir.Path() + "/ttyUSB0";
    const OpenAttempt absent = ProbePortOpen(missing);
    EXPECT_EQ(absent.failedAt, OpenStep::kStat);
    EXPECT_EQ(absent.error, ENOENT);
    EXPECT_EQ(OpenFailureReason(absent),
              "No device at " + missing +
                  ". Check the cable and the adapter; `ls /dev/serial/by-id` lists the serial "
                  "devices.");
    EXPECT_FALSE(std::filesystem::exists(missing));

    const std::string file = dir.Path() + "/ttyS0";
    std::ofstream(file) << "not a port";
    EXPECT_EQ(ExplainPortOpenFailure(file),
              file +
                  " is a regular file, not a serial device. Choose the instrument's port; "
                  "`ls /dev/serial/by-id` lists the serial devices.");
    EXPECT_EQ(ReadWholeFile(file), "not a port");

    EXPECT_EQ(ExplainPortOpenFailure(dir.Path()).rfind(dir.Path() + " is a directory, not", 0), 0u);
    EXPECT_EQ(ExplainPortOpenFailure("/dev/null").rfind("/dev/null is not a serial device", 0), 0u);
}

TEST_F(OpenFailureOnPty, AnUnlockedTerminalOpensSoTheInstrumentIsToBlame) {
    const OpenAttempt attempt = ProbePortOpen(m_pty.slavePath);
    EXPECT_EQ(attempt.failedAt, OpenStep::kNone);
    EXPECT_EQ(OpenFailureReason(attempt).rfind(m_pty.slavePath + " opens, but the instrument", 0),
              0u);
}

TEST_F(OpenFailureOnPty, AUserWithoutAccessIsToldToJoinDialout) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to become another user";
    }
    ASSERT_EQ(chmod(m_pty.slavePath.c_str(), 0600), 0);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(pipeFds[0]);
        if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) {
            _exit(3);
        }
        const std::string reason = ExplainPortOpenFailure(m_pty.slavePath);
        const ssize_t written = write(pipeFds[1], reason.data(), reason.size());
        _exit(written == static_cast<ssize_t>(reason.size()) ? 0 : 4);
    }
    close(pipeFds[1]);
    const std::string reason = ReadToEnd(pipeFds[0]);
    close(pipeFds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(reason, "No permission to open " + m_pty.slavePath +
                          ". Add yourself to the dialout group with `sudo usermod -aG dialout "
                          "$USER`, then log out and in again.");
}

TEST_F(OpenFailureOnPty, APortLockedByAnotherProgramNamesThatProgram) {
    int ready[2];
    int release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(ready[0]);
        close(release[1]);
        prctl(PR_SET_NAME, "port-holder");
        const int fd = open(m_pty.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0) {
            _exit(3);
        }
        const char locked = 'L';
        if (write(ready[1], &locked, 1) != 1) {
            _exit(4);
        }
        ReadToEnd(release[0]);  // holds the lock until the test lets go
        _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    char locked = 0;
    const bool holding = read(ready[0], &locked, 1) == 1;
    close(ready[0]);

    const OpenAttempt attempt = ProbePortOpen(m_pty.slavePath);
    const std::string reason = OpenFailureReason(attempt);
    close(release[1]);
    int status = 0;
    waitpid(child, &status, 0);

    ASSERT_TRUE(holding);
    EXPECT_EQ(attempt.failedAt, OpenStep::kLock);
    EXPECT_EQ(reason, m_pty.slavePath + " is in use by another program (port-holder, pid " +
                          std::to_string(child) + "). Close it, then connect again.");
}

TEST(OpenFailure, ReasonsFollowTheErrorOfEachStep) {
    const auto reason = [](OpenStep step, int error) {
        OpenAttempt attempt;
        attempt.path = "/dev/ttyUSB0";
        attempt.failedAt = step;
        attempt.error = error;
        attempt.fileType = S_IFCHR;
        return OpenFailureReason(attempt);
    };
    for (const int error : {ENODEV, ENXIO, EIO}) {
        EXPECT_EQ(reason(OpenStep::kOpen, error).rfind("No device at /dev/ttyUSB0.", 0), 0u)
            << error;
    }
    EXPECT_EQ(reason(OpenStep::kOpen, EPERM).rfind("No permission to open /dev/ttyUSB0.", 0), 0u);
    EXPECT_EQ(reason(OpenStep::kOpen, EBUSY),
              "/dev/ttyUSB0 is in use by another program. Close it, then connect again.");
    EXPECT_EQ(reason(OpenStep::kTerminal, ENOTTY).rfind("/dev/ttyUSB0 is not a serial device.", 0),
              0u);

    OpenAttempt group;
    group.path = "/dev/ttyACM0";
    group.failedAt = OpenStep::kOpen;
    group.error = EACCES;
    group.group = "uucp";
    EXPECT_NE(OpenFailureReason(group).find("`sudo usermod -aG uucp $USER`"), std::string::npos);
}

}  // namespace
