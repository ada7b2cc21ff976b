// The reasons a port won't open, found by opening real paths: a missing one, a regular file,
// a pseudo-terminal that a process of another user may not open, one held by another process.
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

// Another process with the port open under a name of its own, locked or not, until the
// object goes.
class ProcessOnPort {
  public:
    ProcessOnPort(const std::string& path, const char* name, bool locked) {
        int ready[2];
        int release[2];
        if (pipe(ready) != 0 || pipe(release) != 0) {
            return;
        }
        m_pid = fork();
        if (m_pid == 0) {
            close(ready[0]);
            close(release[1]);
            prctl(PR_SET_NAME, name);
            const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            if (fd < 0 || (locked && flock(fd, LOCK_EX | LOCK_NB) != 0)) {
                _exit(3);
            }
            const char opened = 'O';
            if (write(ready[1], &opened, 1) != 1) {
                _exit(4);
            }
            ReadToEnd(release[0]);  // keeps the port until the test lets go
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        char opened = 0;
        m_ready = m_pid > 0 && read(ready[0], &opened, 1) == 1;
        close(ready[0]);
        m_release = release[1];
    }
    ~ProcessOnPort() {
        close(m_release);
        if (m_pid > 0) {
            waitpid(m_pid, nullptr, 0);
        }
    }
    ProcessOnPort(const ProcessOnPort&) = delete;
    ProcessOnPort& operator=(const ProcessOnPort&) = delete;

    bool Ready() const { return m_ready; }
    pid_t Pid() const { return m_pid; }

  private:
    pid_t m_pid = -1;
    int m_release = -1;
    bool m_ready = false;
};

// Having the port open is not holding it: the instrument's end of a pseudo-terminal (here a
// process that has the same path open, found first in /proc) is never named; the process
// holding the lock is, and this process's own channel means the instrument is to blame.
TEST_F(OpenFailureOnPty, OnlyTheProcessHoldingTheLockIsNamed) {
    const ProcessOnPort bystander(m_pty.slavePath, "bystander", false);
    ASSERT_TRUE(bystander.Ready());
    {
        const ProcessOnPort holder(m_pty.slavePath, "port-holder", true);
        ASSERT_TRUE(holder.Ready());
        const OpenAttempt attempt = ProbePortOpen(m_pty.slavePath);
        EXPECT_EQ(attempt.failedAt, OpenStep::kLock);
        EXPECT_EQ(OpenFailureReason(attempt),
                  m_pty.slavePath + " is in use by another program (port-holder, pid " +
                      std::to_string(holder.Pid()) + "). Close it, then connect again.");
    }
    CTempDir logDir;
    CSerialChannel channel;
    channel.SetLogDirectory(logDir.Path());
    ASSERT_EQ(channel.Open(m_pty.slavePath, CSerialChannel::kDefaultBaudRate), 1);
    EXPECT_EQ(ExplainPortOpenFailure(m_pty.slavePath)
                  .rfind(m_pty.slavePath + " opens, but the instrument did not answer.", 0),
              0u)
        << ExplainPortOpenFailure(m_pty.slavePath);
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
