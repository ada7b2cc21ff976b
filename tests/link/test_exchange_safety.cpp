// One exchange at a time, stale input, a vanishing or stuck port, cancelled exchanges and
// the pacing of request bytes.
#include <algorithm>
#include <chrono>
#include <future>
#include <sstream>
#include <thread>

#include "link/frames.h"
#include "link/port_io.h"
#include "link_fixture.h"
#include "sim/pty_pair.h"

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
            const int ok = code == kCodeStatus ? Protocol().QueryStatus(block)
                                               : Protocol().QueryRunState(block);
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
    ASSERT_EQ(Protocol().QueryStatus(block), 1);
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
        return Protocol().QueryStatus(block);
    });
    while (Shaker().RequestCount(kCodeStatus) == 0 && Clock::now() - start < 2s) {
        std::this_thread::sleep_for(1ms);
    }
    Shaker().Unplug();
    EXPECT_EQ(status.get(), 0);
    // The status query allows 5 s; a dead port must not be waited on for that long.
    EXPECT_LT(Clock::now() - start, 2s);

    const auto again = Clock::now();
    EXPECT_EQ(Protocol().Handshake(), 0);
    EXPECT_LT(Clock::now() - again, 1s);
    EXPECT_EQ(Channel().Close(), 1);
}

// A stalled shaker stops reading, so the line's output queue fills and a byte can't leave:
// the write gives up at its time-out, and a cancel cuts that wait short at once.
TEST_F(ExchangeSafety, AByteThatCannotLeaveFailsByItsTimeOutOrAtOnceWhenCancelled) {
    Shaker().SetStalled(true);
    // More than a pseudo-terminal holds.
    const std::vector<std::uint8_t> flood(64 * 1024, 0x55);
    auto start = Clock::now();
    EXPECT_EQ(Channel().Send(flood.data(), static_cast<int>(flood.size())), 0);
    const auto elapsed = Clock::now() - start;
    // A byte's write may take up to two seconds on a real line, and no longer.
    EXPECT_GE(elapsed, 2s);
    EXPECT_LT(elapsed, 5s);

    CExchangeCancel cancel;
    auto send = std::async(std::launch::async, [&] { return Protocol().SetSpeed(300, &cancel); });
    std::this_thread::sleep_for(100ms);
    start = Clock::now();
    cancel.Cancel();
    ASSERT_EQ(send.wait_for(1s), std::future_status::ready);
    EXPECT_EQ(send.get(), 0);
    // Cancelled stays cancelled: the party's next exchange sends nothing at all.
    EXPECT_EQ(Protocol().Handshake(&cancel), 0);
    EXPECT_LT(Clock::now() - start, 1s);
}

// FIONREAD alone counts only what the line has already queued for reading; bytes the kernel
// still holds on their way there would be taken for the reply to the next request.
TEST(StaleInput, BytesOnTheirWayToTheReadQueueAreSeen) {
    PtyPair pty;
    ASSERT_TRUE(OpenPtyPair(pty));
    const std::uint8_t reply[] = {0xFE, 0xA1, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA1};
    for (int round = 0; round < 50; ++round) {
        ASSERT_EQ(write(pty.master, reply, sizeof(reply)), static_cast<ssize_t>(sizeof(reply)));
        std::vector<std::uint8_t> stale;
        bool more = true;
        ASSERT_EQ(ReadQueued(pty.slave, stale, 64 * 1024, more), PortIo::Ok);
        EXPECT_EQ(stale.size(), sizeof(reply)) << "round " << round;
        EXPECT_FALSE(more);
    }
    ClosePtyPair(pty);
}

// A flood of stale input is read and logged 64 KiB at most per request; the rest is flushed.
TEST_F(ExchangeSafety, AFloodIsDiscardedAtMostSixtyFourKibibytesPerExchange) {
    Shaker().QueueReply(kCodeRunState, std::vector<std::uint8_t>(1024 * 1024, 0x55));
    const auto runState = BuildCommand(kCodeRunState);
    ASSERT_EQ(Channel().Send(runState.data(), 6), 1);
    // The shaker has filled the line and writes on as room is made.
    std::this_thread::sleep_for(50ms);
    std::vector<std::uint8_t> block;
    for (int i = 0; i < 3; ++i) {
        Protocol().QueryStatus(block);
    }

    std::istringstream log(Log());
    int discards = 0;
    for (std::string line; std::getline(log, line);) {
        if (line.starts_with("Discard:")) {
            ++discards;
            // "Discard:" and three characters a byte, then CR.
            EXPECT_LE((line.size() - 9) / 3,
                      static_cast<std::size_t>(CSerialChannel::kStaleInputLimit));
        }
    }
    EXPECT_GE(discards, 1);
}

// The simulator stamps a byte when its thread gets to read it, and under load that can lag by
// more for one byte than for the next, so any single gap seen there may look short. What a
// lag cannot do is make a byte appear early: no byte is seen before the pauses in front of it
// have passed since the exchange began. The median gap shows the pause between bytes, as a lag
// shortens only the gap after the late byte.
TEST_F(ExchangeSafety, RequestBytesAreAtLeastFiftyMillisecondsApart) {
    Shaker().SetByteStampsRecorded(true);
    Channel().SetBytePause(50ms);
    const auto start = Clock::now();
    std::vector<std::uint8_t> block;
    ASSERT_EQ(Protocol().QueryStatus(block), 1);
    ASSERT_EQ(Protocol().SetSpeed(300), 1);
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

// A cancel that comes while a request is on the line lets the request finish: half a frame
// followed by the next request would reach the instrument as one garbled frame.
TEST_F(ExchangeSafety, ACancelMidRequestFinishesTheFrameAndSkipsTheReply) {
    Shaker().SetByteStampsRecorded(true);
    Channel().SetBytePause(50ms);
    CExchangeCancel cancel;
    auto send = std::async(std::launch::async, [&] { return Protocol().SetSpeed(300, &cancel); });
    const auto limit = Clock::now() + 5s;
    while (Shaker().ReceivedBytes().size() < 2 && Clock::now() < limit) {
        std::this_thread::sleep_for(1ms);
    }
    cancel.Cancel();
    EXPECT_EQ(send.get(), 0);
    EXPECT_EQ(Protocol().Handshake(), 1);
    EXPECT_EQ(Shaker().RequestCount(kCodeSetSpeed), 1);
    EXPECT_EQ(Shaker().MalformedBytes(), 0);
}

}  // namespace
