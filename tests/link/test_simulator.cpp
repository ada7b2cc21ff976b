// The simulated shaker: a run over time, the requests it does not answer, the faults it
// plays, and the command-line tool's options.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "link/frames.h"
#include "link_fixture.h"
#include "sim/shaker_model.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

TEST(ShakerModel, ARunRampsUpCountsDownAndRampsDown) {
    SimOptions options;
    options.speedSetpoint = 300;
    options.rampPerUnit = 50;
    options.timeUnit = 1s;
    const auto t0 = Clock::now();
    CShakerModel model(options, t0);

    model.SetSpeed(200, t0);
    model.SetTime(3, t0);
    auto state = model.StateAt(t0 + 1s);
    EXPECT_TRUE(state.running);
    EXPECT_EQ(state.speedSetpoint, 200);
    EXPECT_EQ(state.actualSpeed, 50);
    EXPECT_EQ(state.remaining, 2);

    // Nobody asks between 1 s and 5 s: the run still ends at 3 s and the ramp-down starts then.
    state = model.StateAt(t0 + 5s);
    EXPECT_FALSE(state.running);
    // A finished run shows no time left until the next one starts.
    EXPECT_EQ(state.remaining, 0);
    EXPECT_EQ(state.actualSpeed, 50);
}

TEST(ShakerModel, TheSpeedCommandStopsARunInsteadOfChangingTheSetpoint) {
    SimOptions options;
    const auto t0 = Clock::now();
    CShakerModel model(options, t0);
    model.SetTime(100, t0);
    model.SetSpeed(123, t0 + 2s);
    const auto state = model.StateAt(t0 + 2s);
    EXPECT_FALSE(state.running);
    EXPECT_EQ(state.speedSetpoint, 300);
    EXPECT_EQ(state.timeSetpoint, 100);
    model.SetTime(0, t0 + 3s);  // a zero time sets the setpoint without starting anything
    EXPECT_FALSE(model.StateAt(t0 + 3s).running);
}

class Simulator : public ChannelOnSimulator {
  protected:
    static SimOptions FastUnits() {
        SimOptions options;
        options.timeUnit = 20ms;
        options.rampPerUnit = 100;
        return options;
    }
    Simulator() : ChannelOnSimulator(FastUnits()) {}
};

TEST_F(Simulator, ARunStartedOverTheLineEndsOnItsOwn) {
    ASSERT_EQ(Protocol().SetSpeed(250), 1);
    ASSERT_EQ(Protocol().SetTime(5), 1);
    std::vector<std::uint8_t> block;
    ASSERT_EQ(Protocol().QueryStatus(block), 1);
    EXPECT_EQ(ReadU16(block, StatusFrame::kSpeedSetpoint), 250);
    EXPECT_EQ(ReadU16(block, StatusFrame::kTimeSetpoint), 5);

    const auto giveUp = Clock::now() + 5s;
    while (Shaker().CurrentState().running && Clock::now() < giveUp) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(Protocol().QueryRunState(block), 1);
    EXPECT_EQ(block[RunStateFrame::kRunFlag], 0);
    ASSERT_EQ(Protocol().QueryStatus(block), 1);
    EXPECT_EQ(ReadU16(block, StatusFrame::kRemaining), 0);
    EXPECT_EQ(ReadU16(block, StatusFrame::kTimeSetpoint), 5);
}

// The remaining time says 0 while the run state still says running; unplugged and plugged
// back the shaker answers again where it left off.
TEST_F(Simulator, NoTimeLeftWhileRunningAndUnplugThenReplug) {
    ASSERT_EQ(Protocol().SetTime(200), 1);
    Shaker().SetReportNoTimeLeft(true);
    std::vector<std::uint8_t> block;
    ASSERT_EQ(Protocol().QueryStatus(block), 1);
    EXPECT_EQ(ReadU16(block, StatusFrame::kRemaining), 0);
    ASSERT_EQ(Protocol().QueryRunState(block), 1);
    EXPECT_EQ(block[RunStateFrame::kRunFlag], 1);

    Shaker().Unplug();
    EXPECT_EQ(Protocol().Handshake(), 0);
    Channel().Close();
    ASSERT_TRUE(Shaker().Replug());
    ASSERT_EQ(OpenAgain(), 1);
    ASSERT_EQ(Protocol().QueryRunState(block), 1);
    EXPECT_EQ(block[RunStateFrame::kRunFlag], 1);
}

TEST_F(Simulator, BadRequestsGetNoReplyAndDoNotUpsetTheNextOne) {
    const auto noise = Bytes({0x13, 0xFE, 0xA2, 0x00, 0x00, 0x00, 0xA3,  // bad checksum
                              0xFE, 0xC7, 0x00, 0x00, 0x00, 0xC7});      // unknown code
    ASSERT_EQ(Channel().Send(noise.data(), static_cast<int>(noise.size())), 1);
    std::uint8_t reply[11];
    EXPECT_EQ(Channel().Receive(reply, 1, 200), 0);
    EXPECT_EQ(Shaker().RequestCount(kCodeStatus), 0);

    std::vector<std::uint8_t> block;
    EXPECT_EQ(Protocol().QueryStatus(block), 1);
    EXPECT_EQ(Shaker().Requests().back(), BuildCommand(kCodeStatus));
}

struct ToolResult {
    int exitCode = -1;
    std::string stdoutText;
    std::string stderrText;
};

std::string ReadAll(int fd) {
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = read(fd, buffer, sizeof(buffer))) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

// Runs velmora-sim from the build tree. A run that gets going prints its port on one line; it
// is then ended with SIGTERM, as an operator would.
ToolResult RunTool(const std::vector<std::string>& args) {
    const auto exe = std::filesystem::read_symlink("/proc/self/exe");
    const std::string tool = (exe.parent_path().parent_path() / "sim" / "velmora-sim").string();
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) {
        return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> argv{const_cast<char*>(tool.c_str())};
    for (const auto& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    pid_t child = -1;
    const int spawned = posix_spawn(&child, tool.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    ToolResult result;
    if (spawned != 0) {
        ADD_FAILURE() << "cannot run " << tool;
        close(out[0]);
        close(err[0]);
        return result;
    }
    char first = 0;
    if (read(out[0], &first, 1) == 1) {
        result.stdoutText += first;
        kill(child, SIGTERM);
    }
    result.stdoutText += ReadAll(out[0]);
    result.stderrText = ReadAll(err[0]);
    close(out[0]);
    close(err[0]);
    int status = 0;
    waitpid(child, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

TEST(SimulatorTool, NumericOptionsOutsideTheirRangeAreRefusedOnOneLine) {
    for (const char* value : {"86400001", "9200000000000", "0", "-5", "abc", "10x", ""}) {
        const ToolResult result = RunTool({"--unit-ms", value});
        EXPECT_EQ(result.exitCode, 2) << value;
        EXPECT_EQ(result.stdoutText, "") << value;
        EXPECT_TRUE(result.stderrText.starts_with("velmora-sim: --unit-ms")) << value;
        EXPECT_EQ(std::count(result.stderrText.begin(), result.stderrText.end(), '\n'), 1)
            << result.stderrText;
    }
    const ToolResult longest = RunTool({"--unit-ms", "86400000"});
    EXPECT_EQ(longest.exitCode, 0) << longest.stderrText;
    EXPECT_TRUE(longest.stdoutText.starts_with("/dev/")) << longest.stdoutText;
}

}  // namespace
