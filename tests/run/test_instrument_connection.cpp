#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/frames.h"
#include "link/serial_channel.h"
#include "run/connection_host.h"
#include "run/instrument_connection.h"
#include "sim_session.h"

namespace {

// Stands in for the main window: records what the connection sequence asks of it.
class CFakeHost : public IConnectionHost {
  public:
    std::string port;
    std::vector<std::string> calls;
    std::vector<int> disabled;

    void ChoosePort(CSerialChannel& channel) override {
        calls.push_back("ChoosePort");
        channel.SetPortName(port);
    }
    void ShowInformation(int id) override { calls.push_back("Info " + std::to_string(id)); }
    void ShowSettings() override { calls.push_back("ShowSettings"); }
    void EnableControl(int id, bool enable) override {
        if (!enable) {
            disabled.push_back(id);
        }
    }
};

class ConnectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(session.Started());
        host.port = session.Shaker().SlavePath();
    }
    CSimSession session;
    CFakeHost host;
    CInstrumentConnection connection{host};
};

}  // namespace

TEST(DeviceIdClassification, TokensNeedTheEditionAndTheFirstListedTypeWins) {
    EXPECT_EQ(ClassifyDeviceId("xx-kw41-vtx"), DeviceKW41);    // upper-cased before the tests
    EXPECT_EQ(ClassifyDeviceId("KW27 KV41 VTX"), DeviceKV41);  // list order, not ID order
    EXPECT_EQ(ClassifyDeviceId("VTXKV27"), DeviceKV27);
    EXPECT_EQ(ClassifyDeviceId("KW41"), DeviceUnlisted);
    EXPECT_EQ(ClassifyDeviceId(""), DeviceUnlisted);
}

TEST_F(ConnectionTest, LowerCaseIdIsIdentifiedFromAllSixteenCharacters) {
    session.Shaker().SetDeviceId("xx-kw41-vtx");
    connection.ConnectInstrument();

    EXPECT_EQ(connection.ConnectionFailed(), 0);
    EXPECT_EQ(connection.GetDeviceType(), DeviceKW41);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"ChoosePort", "ShowSettings"}));
    EXPECT_EQ(session.Shaker().RequestCount(kCodeIdChar), 16);
    connection.DisableIfUnknown(connection.GetDeviceType());
    EXPECT_TRUE(host.disabled.empty());
}

TEST_F(ConnectionTest, RefusedHandshakeFailsButLeavesStartUsable) {
    session.Shaker().QueueReply(kCodeHandshake, AckReply(kCodeHandshake, 1));
    connection.ConnectInstrument();

    EXPECT_EQ(connection.ConnectionFailed(), 1);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"ChoosePort", "Info 102"}));
    EXPECT_EQ(session.Shaker().RequestCount(kCodeIdChar), 0);
    // Start must stay enabled to tell the operator to restart.
    connection.DisableIfUnknown(connection.GetDeviceType());
    EXPECT_TRUE(host.disabled.empty());
}

TEST_F(ConnectionTest, FirstIdReadFailingGivesTheUnlistedTypeAndDisablesTheEntries) {
    ASSERT_TRUE(session.OpenChannel());
    session.Shaker().InjectFor(kCodeIdChar, CSimulatedShaker::Fault::BadChecksum);

    EXPECT_EQ(connection.Identify(), DeviceUnlisted);
    EXPECT_EQ(session.Shaker().RequestCount(kCodeIdChar), 1);
    connection.DisableIfUnknown(DeviceUnlisted);
    EXPECT_EQ(host.disabled, (std::vector<int>{1002, 1003, 1004, 1005, 1006}));
}

TEST_F(ConnectionTest, ReplyErrorHalfwayKeepsTheCharactersRead) {
    ASSERT_TRUE(session.OpenChannel());
    for (char c : std::string("KW41-VTX")) {
        session.Shaker().QueueReply(kCodeIdChar, AckReply(kCodeIdChar, c));
    }
    std::vector<std::uint8_t> broken = AckReply(kCodeIdChar, 'S');
    ++broken.back();
    session.Shaker().QueueReply(kCodeIdChar, broken);

    EXPECT_EQ(connection.Identify(), DeviceKW41);
    EXPECT_EQ(connection.LastDeviceId(), "KW41-VTX");
    EXPECT_EQ(session.Shaker().RequestCount(kCodeIdChar), 9);
}

TEST_F(ConnectionTest, ZeroByteEndsTheIdButEveryIndexIsStillRead) {
    ASSERT_TRUE(session.OpenChannel());
    session.Shaker().SetDeviceId(std::string("KW41\0VTX", 8));

    EXPECT_EQ(connection.Identify(), DeviceUnlisted);
    EXPECT_EQ(connection.LastDeviceId(), "KW41");
    EXPECT_EQ(session.Shaker().RequestCount(kCodeIdChar), 16);
}
