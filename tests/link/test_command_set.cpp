// How the six commands judge their replies, and how replies of odd shapes are collected.
#include <chrono>

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
        EXPECT_EQ(Channel().SetSpeed(800), c.expected) << ::testing::PrintToString(c.reply);
    }
    EXPECT_EQ(Shaker().Requests().back(), BuildCommand(kCodeSetSpeed, 800));
}

TEST_F(CommandSet, IdCharacterIsByteTwoAndZeroIsAnAnswer) {
    char character = 'x';
    ASSERT_EQ(Channel().QueryIdChar(16, character), 1);
    EXPECT_EQ(character, 'K');
    EXPECT_EQ(Shaker().Requests().back(), BuildCommand(kCodeIdChar, 16));

    ASSERT_EQ(Channel().QueryIdChar(16 + 12, character), 1);  // past "KW41-VTX-SIM"
    EXPECT_EQ(character, '\0');

    Shaker().InjectNext(Fault::BadChecksum);
    character = 'x';
    EXPECT_EQ(Channel().QueryIdChar(17, character), 0);
    EXPECT_EQ(character, '\0');
}

TEST_F(CommandSet, StatusAndRunStateAreJudgedByChecksumAndKeepWhatArrived) {
    std::vector<std::uint8_t> block;
    ASSERT_EQ(Channel().QueryStatus(block), 1);
    ASSERT_EQ(block.size(), 11u);
    EXPECT_EQ(ReadU16(block, StatusFrame::kSpeedSetpoint), 300);
    EXPECT_EQ(ReadU16(block, StatusFrame::kRemaining), 6);

    const auto badSum = Bytes({0xFE, 0xA2, 0x01, 0x2C, 0x00, 0x00, 0x00, 0x06, 0x00, 0x06, 0x00});
    Shaker().QueueReply(kCodeStatus, badSum);
    EXPECT_EQ(Channel().QueryStatus(block), 0);
    EXPECT_EQ(block, badSum);

    ASSERT_EQ(Channel().QueryRunState(block), 1);
    ASSERT_EQ(block.size(), 8u);
    EXPECT_EQ(block[RunStateFrame::kRunFlag], 0);
}

TEST_F(CommandSet, InjectedFaultsAreRefusedAndHarmlessOnesAccepted) {
    std::vector<std::uint8_t> block;
    Shaker().InjectNext(Fault::BadChecksum);
    EXPECT_EQ(Channel().QueryStatus(block), 0);
    Shaker().InjectNext(Fault::NonZeroStatus, 3);
    EXPECT_EQ(Channel().SetTime(10), 0);
    Shaker().InjectNext(Fault::WrongStartByte);
    EXPECT_EQ(Channel().Handshake(), 1);
    Shaker().InjectFor(kCodeRunState, Fault::BadChecksum, 2);
    EXPECT_EQ(Channel().QueryRunState(block), 0);
    EXPECT_EQ(Channel().QueryStatus(block), 1);
    EXPECT_EQ(Channel().QueryRunState(block), 0);
    EXPECT_EQ(Channel().QueryRunState(block), 1);
}

TEST_F(CommandSet, AReplyInBlocksIsCollectedOntoOneLogLine) {
    std::vector<std::uint8_t> whole;
    ASSERT_EQ(Channel().QueryStatus(whole), 1);
    Channel().Close();
    ASSERT_EQ(Channel().Open(), 1);

    Shaker().InjectNext(Fault::Split, 4);
    std::vector<std::uint8_t> split;
    ASSERT_EQ(Channel().QueryStatus(split), 1);
    EXPECT_EQ(split, whole);
    EXPECT_EQ(Log(), "Send:FE A2 00 00 00 A2 \r\nReceive:FE A2 01 2C 00 00 00 06 00 06 DB \r\n");
}

TEST_F(CommandSet, ABlockLongerThanTheReplyFillsItAndTheRestIsDropped) {
    Shaker().InjectNext(Fault::ExtraBytes, 2);
    ASSERT_EQ(Channel().Handshake(), 1);
    EXPECT_EQ(Channel().ReceivedCount(), 8);
    EXPECT_EQ(Log(), "Send:FE A0 00 00 00 A0 \r\nReceive:FE A0 00 00 00 A0 EE EE \r\n");
    // The two extra bytes went with the block, so nothing is left over for the next reply.
    ASSERT_EQ(Channel().Handshake(), 1);
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
    EXPECT_EQ(Channel().Handshake(), 0);
    elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(2000));
    EXPECT_LT(elapsed, std::chrono::milliseconds(3500));
}

}  // namespace
