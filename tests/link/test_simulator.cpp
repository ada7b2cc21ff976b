// The simulated shaker: a run over time, and the requests it does not answer.
#include <chrono>
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
    ASSERT_EQ(Channel().SetSpeed(250), 1);
    ASSERT_EQ(Channel().SetTime(5), 1);
    std::vector<std::uint8_t> block;
    ASSERT_EQ(Channel().QueryStatus(block), 1);
    EXPECT_EQ(ReadU16(block, StatusFrame::kSpeedSetpoint), 250);
    EXPECT_EQ(ReadU16(block, StatusFrame::kTimeSetpoint), 5);

    const auto giveUp = Clock::now() + 5s;
    while (Shaker().CurrentState().running && Clock::now() < giveUp) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_EQ(Channel().QueryRunState(block), 1);
    EXPECT_EQ(block[RunStateFrame::kRunFlag], 0);
    ASSERT_EQ(Channel().QueryStatus(block), 1);
    EXPECT_EQ(ReadU16(block, StatusFrame::kRemaining), 0);
    EXPECT_EQ(ReadU16(block, StatusFrame::kTimeSetpoint), 5);
}

TEST_F(Simulator, BadRequestsGetNoReplyAndDoNotUpsetTheNextOne) {
    const auto noise = Bytes({0x13, 0xFE, 0xA2, 0x00, 0x00, 0x00, 0xA3,  // bad checksum
                              0xFE, 0xC7, 0x00, 0x00, 0x00, 0xC7});      // unknown code
    ASSERT_EQ(Channel().Send(noise.data(), static_cast<int>(noise.size())), 1);
    std::uint8_t reply[11];
    EXPECT_EQ(Channel().Receive(reply, 1, 200), 0);
    EXPECT_EQ(Shaker().RequestCount(kCodeStatus), 0);

    std::vector<std::uint8_t> block;
    EXPECT_EQ(Channel().QueryStatus(block), 1);
    EXPECT_EQ(Shaker().Requests().back(), BuildCommand(kCodeStatus));
}

}  // namespace
