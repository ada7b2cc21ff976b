// How the six commands judge their replies, and how replies of odd shapes are collected.
#include <chrono>
#include <functional>

#include "link/frames.h"
#include "link_fixture.h"

namespace {

using Fault = CSimulatedShaker::Fault;
using Clock = std::chrono::steady_clock;
using CommandSet = ChannelOnSimulator;

TEST_F(CommandSet, AcknowledgementsAreJudgedByChecksumAndStatusByteOnly) {
    struct Case {
        std::vector<std::uint8_t> reply;
        int expected;
    };
    const Case cases[] = {
        {Bytes({0xFE, 0xB1, 0x00, 0x00, 0x00, 0xB1}), 1},
        {Bytes({0xFE, 0xB1, 0x01, 0x00, 0x00, 0xB2}), 0},  // refused by the instrument
        {Bytes({0xFE, 0xB1, 0x00, 0x00, 0x00, 0xB0}), 0},  // checksum
        {Bytes({0x00, 0xB1, 0x00, 0x00, 0x00, 0xB1}), 1},  // the start byte is not examined
        {Bytes({0xFE, 0xA0, 0x00, 0x07, 0x00, 0xA7}), 1},  // nor the echo, nor bytes 3 and 4
    };
    for (const auto& c : cases) {
        Shaker().QueueReply(kCodeSetSpeed, c.reply);
        EXPECT_EQ(Protocol().SetSpeed(800), c.expected) << ::testing::PrintToString(c.reply);
    }
    EXPECT_EQ(Shaker().Requests().back(), BuildCommand(kCodeSetSpeed, 800));
}

TEST_F(CommandSet, IdCharacterIsByteTwoAndZeroIsAnAnswer) {
    char character = 'x';
    ASSERT_EQ(Protocol().QueryIdChar(16, character), 1);
    EXPECT_EQ(character, 'K');
    EXPECT_EQ(Shaker().Requests().back(), BuildCommand(kCodeIdChar, 16));

    ASSERT_EQ(Protocol().QueryIdChar(16 + 12, character), 1);  // past "KW41-VTX-SIM"
    EXPECT_EQ(character, '\0');

    Shaker().InjectNext(Fault::BadChecksum);
    character = 'x';
    EXPECT_EQ(Protocol().QueryIdChar(17, character), 0);
    EXPECT_EQ(character, '\0');
}

TEST_F(CommandSet, StatusAndRunStateAreJudgedByChecksumAndKeepWhatArrived) {
    std::vector<std::uint8_t> block;
    ASSERT_EQ(Protocol().QueryStatus(block), 1);
    ASSERT_EQ(block.size(), 11u);
    EXPECT_EQ(ReadU16(block, StatusFrame::kSpeedSetpoint), 300);
    EXPECT_EQ(ReadU16(block, StatusFrame::kRemaining), 6);

    const auto badSum = Bytes({0xFE, 0xA2, 0x01, 0x2C, 0x00, 0x00, 0x00, 0x06, 0x00, 0x06, 0x00});
    Shaker().QueueReply(kCodeStatus, badSum);
    EXPECT_EQ(Protocol().QueryStatus(block), 0);
    EXPECT_EQ(block, badSum);

    ASSERT_EQ(Protocol().QueryRunState(block), 1);
    ASSERT_EQ(block.size(), 8u);
    EXPECT_EQ(block[RunStateFrame::kRunFlag], 0);
}

// Line noise passes the checksum once in 256 replies. A reply that contradicts itself is
// refused: a speed beyond the type's plausible bound (1600 until the type is known), or more
// time left than the time setpoint of the same reply.
TEST_F(CommandSet, AStatusThatContradictsItselfIsRefused) {
    auto status = [](int setpoint, int actual, int timeSetpoint = 30, int remaining = 30) {
        std::vector<std::uint8_t> frame(StatusFrame::kLength, 0);
        WriteU16(frame, StatusFrame::kSpeedSetpoint, setpoint);
        WriteU16(frame, StatusFrame::kActualSpeed, actual);
        WriteU16(frame, StatusFrame::kTimeSetpoint, timeSetpoint);
        WriteU16(frame, StatusFrame::kRemaining, remaining);
        SealFrame(frame);
        return frame;
    };
    std::vector<std::uint8_t> block;
    Shaker().QueueReply(kCodeStatus, status(300, 1700));
    EXPECT_EQ(Protocol().QueryStatus(block), 0);
    Shaker().QueueReply(kCodeStatus, status(1601, 300));
    EXPECT_EQ(Protocol().QueryStatus(block), 0);
    Shaker().QueueReply(kCodeStatus, status(1600, 1600));
    EXPECT_EQ(Protocol().QueryStatus(block), 1);
    Shaker().QueueReply(kCodeStatus, status(300, 300, 30, 31));
    EXPECT_EQ(Protocol().QueryStatus(block), 0);
    Shaker().QueueReply(kCodeStatus, status(300, 300, 30, 40000));
    EXPECT_EQ(Protocol().QueryStatus(block), 0);

    Protocol().SetHighestPlausibleSpeed(750);
    Shaker().QueueReply(kCodeStatus, status(300, 751));
    EXPECT_EQ(Protocol().QueryStatus(block), 0);
    Shaker().QueueReply(kCodeStatus, status(500, 750));
    EXPECT_EQ(Protocol().QueryStatus(block), 1);
}

TEST_F(CommandSet, InjectedFaultsAreRefusedAndHarmlessOnesAccepted) {
    std::vector<std::uint8_t> block;
    Shaker().InjectNext(Fault::BadChecksum);
    EXPECT_EQ(Protocol().QueryStatus(block), 0);
    Shaker().InjectNext(Fault::NonZeroStatus, 3);
    EXPECT_EQ(Protocol().SetTime(10), 0);
    Shaker().InjectNext(Fault::WrongStartByte);
    EXPECT_EQ(Protocol().Handshake(), 1);
    Shaker().InjectFor(kCodeRunState, Fault::BadChecksum, 2);
    EXPECT_EQ(Protocol().QueryRunState(block), 0);
    EXPECT_EQ(Protocol().QueryStatus(block), 1);
    EXPECT_EQ(Protocol().QueryRunState(block), 0);
    EXPECT_EQ(Protocol().QueryRunState(block), 1);
}

TEST_F(CommandSet, AReplyInBlocksIsCollectedOntoOneLogLine) {
    std::vector<std::uint8_t> whole;
    ASSERT_EQ(Protocol().QueryStatus(whole), 1);
    Channel().Close();
    ASSERT_EQ(OpenAgain(), 1);

    Shaker().InjectNext(Fault::Split, 4);
    std::vector<std::uint8_t> split;
    ASSERT_EQ(Protocol().QueryStatus(split), 1);
    EXPECT_EQ(split, whole);
    EXPECT_EQ(Log(), "Send:FE A2 00 00 00 A2 \r\nReceive:FE A2 01 2C 00 00 00 06 00 06 DB \r\n");
}

TEST_F(CommandSet, ABlockLongerThanTheReplyFillsItAndTheRestIsDropped) {
    Shaker().InjectNext(Fault::ExtraBytes, 2);
    ASSERT_EQ(Protocol().Handshake(), 1);
    EXPECT_EQ(Channel().ReceivedCount(), 8);
    EXPECT_EQ(Log(), "Send:FE A0 00 00 00 A0 \r\nReceive:FE A0 00 00 00 A0 EE EE \r\n");
    // The two extra bytes went with the block, so nothing is left over for the next reply.
    ASSERT_EQ(Protocol().Handshake(), 1);
    EXPECT_EQ(Log().find("Discard:"), std::string::npos);
}

TEST_F(CommandSet, AReceiveThatGetsNothingEndsAtItsLimit) {
    Shaker().InjectNext(Fault::NoReply);
    const auto request = BuildCommand(kCodeStatus);
    ASSERT_EQ(Channel().Send(request.data(), 6), 1);
    std::uint8_t reply[11];
    auto start = Clock::now();
    EXPECT_EQ(Channel().Receive(reply, 11, 300), 0);
    auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(300));
    EXPECT_LT(elapsed, std::chrono::milliseconds(1800));
    EXPECT_EQ(Channel().ReceivedCount(), 0);
    EXPECT_EQ(Log(), "Send:FE A2 00 00 00 A2 \r\nReceive:\r\n");

    // The command set waits as long as the command allows: two seconds for an acknowledgement.
    Shaker().InjectNext(Fault::NoReply);
    start = Clock::now();
    EXPECT_EQ(Protocol().Handshake(), 0);
    elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(2000));
    EXPECT_LT(elapsed, std::chrono::milliseconds(3500));
}

// A silent instrument: each command waits out its whole limit before it fails, never less.
struct SilentCase {
    const char* name;
    int limitMs;
    std::function<int(CShakerProtocol&)> exchange;
};

void PrintTo(const SilentCase& c, std::ostream* out) {
    *out << c.name;
}

class SilentInstrument : public ChannelOnSimulator,
                         public ::testing::WithParamInterface<SilentCase> {};

TEST_P(SilentInstrument, TheExchangeFailsNoEarlierThanItsLimit) {
    Shaker().SetSilent(true);
    const auto start = Clock::now();
    EXPECT_EQ(GetParam().exchange(Protocol()), 0);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(GetParam().limitMs));
}

INSTANTIATE_TEST_SUITE_P(Limits, SilentInstrument,
                         ::testing::Values(SilentCase{"Status", 5000,
                                                      [](CShakerProtocol& protocol) {
                                                          std::vector<std::uint8_t> block;
                                                          return protocol.QueryStatus(block);
                                                      }},
                                           SilentCase{"RunState", 5000,
                                                      [](CShakerProtocol& protocol) {
                                                          std::vector<std::uint8_t> block;
                                                          return protocol.QueryRunState(block);
                                                      }},
                                           SilentCase{"IdChar", 10000,
                                                      [](CShakerProtocol& protocol) {
                                                          char character = 0;
                                                          return protocol.QueryIdChar(16,
                                                                                      character);
                                                      }}),
                         [](const ::testing::TestParamInfo<SilentCase>& info) {
                             return info.param.name;
                         });

}  // namespace
