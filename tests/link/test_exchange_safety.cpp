// One exchange at a time, stale input, a vanishing port and the pacing of request bytes.
#include <algorithm>
#include <chrono>
#include <future>
#include <thread>

#include "link/frames.h"
#include "link_fixture.h"

namespace {

using Fault = CSimulatedShaker::Fault;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using ExchangeSafety = ChannelOnSimulator;

// Replies come a little late, so one thread's reply is still on its way while the other
// thread would otherwise be sending and listening.
TEST_F(ExchangeSafety, TwoThreadsNeverGetEachOthersReply) {
    Channel().SetBytePause(1ms);
    Shaker().InjectFor(kCodeStatus, Fault::Late, -1, 15);
    Shaker().InjectFor(kCodeRunState, Fault::Late, -1, 15);
    constexpr int kRounds = 20;
    auto poll = [this](std::uint8_t code) {
        int good = 0;
        std::vector<std::uint8_t> block;
        for (int i = 0; i < kRounds; ++i) {
            const int ok =
                code == kCodeStatus ? Channel().QueryStatus(block) : Channel().QueryRunState(block);
            if (ok != 1 || block[1] != code) {
                break;
            }
            ++good;
        }
        return good;
    };
    auto status = std::async(std::launch::async, poll, kCodeStatus);
    auto runState = std::async(std::launch::async, poll, kCodeRunState);
    EXPECT_EQ(status.get(), kRounds);
    EXPECT_EQ(runState.get(), kRounds);
    EXPECT_EQ(Log().find("Discard:"), std::string::npos);
}

// The late reply to a run-state request arrives after the next request's first byte and
// before its last: checking for stale input only before the first byte would miss it.
TEST_F(ExchangeSafety, ALateReplyLandingDuringTheNextRequestIsDiscarded) {
    Channel().SetBytePause(80ms);
    Shaker().InjectNext(Fault::Late, 330);
    const auto runState = BuildCommand(kCodeRunState);
    ASSERT_EQ(Channel().Send(runState.data(), 6), 1);
    std::uint8_t reply[8];
    ASSERT_EQ(Channel().Receive(reply, 8, 50), 0);

    std::vector<std::uint8_t> block;
    ASSERT_EQ(Channel().QueryStatus(block), 1);
    EXPECT_EQ(block[1], kCodeStatus);
    EXPECT_EQ(Log(),
              "Send:FE A1 00 00 00 A1 \r\nReceive:\r\n"
              "Send:FE A2 00 00 00 A2 \r\nDiscard:FE A1 00 00 00 00 00 A1 \r\n"
              "Receive:FE A2 01 2C 00 00 00 06 00 06 DB \r\n");
}

TEST_F(ExchangeSafety, AnUnpluggedInstrumentFailsTheExchangeAtOnce) {
    Shaker().InjectNext(Fault::NoReply);
    const auto start = Clock::now();
    auto status = std::async(std::launch::async, [this] {
        std::vector<std::uint8_t> block;
        return Channel().QueryStatus(block);
    });
    while (Shaker().RequestCount(kCodeStatus) == 0 && Clock::now() - start < 2s) {
        std::this_thread::sleep_for(1ms);
    }
    Shaker().Unplug();
    EXPECT_EQ(status.get(), 0);
    // The status query allows 5 s; a dead port must not be waited on for that long.
    EXPECT_LT(Clock::now() - start, 2s);

    const auto again = Clock::now();
    EXPECT_EQ(Channel().Handshake(), 0);
    EXPECT_LT(Clock::now() - again, 1s);
    EXPECT_EQ(Channel().Close(), 1);
}

// The simulator stamps a byte when its thread gets to read it, and under load that can lag by
// more for one byte than for the next, so any single gap seen there may look short. What a
// lag cannot do is make a byte appear early: no byte is seen before the pauses in front of it
// have passed since the exchange began. The median gap shows the pause between bytes, as a lag
// shortens only the gap after the late byte.
TEST_F(ExchangeSafety, RequestBytesAreAtLeastFiftyMillisecondsApart) {
    Channel().SetBytePause(50ms);
    const auto start = Clock::now();
    std::vector<std::uint8_t> block;
    ASSERT_EQ(Channel().QueryStatus(block), 1);
    ASSERT_EQ(Channel().SetSpeed(300), 1);
    const auto bytes = Shaker().ReceivedBytes();
    ASSERT_EQ(bytes.size(), 12u);  // both requests, the pause after the first one's last byte too

    std::vector<Clock::duration> gaps;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        EXPECT_GE(bytes[i].at - start, 50ms * static_cast<int>(i)) << "byte " << i;
        if (i > 0) {
            gaps.push_back(bytes[i].at - bytes[i - 1].at);
        }
    }
    std::sort(gaps.begin(), gaps.end());
    EXPECT_GE(gaps[gaps.size() / 2], 49ms);
}

}  // namespace
