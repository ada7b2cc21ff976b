// Connecting and identifying: the device ID's rules, and the engine's connection outcomes.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "link/frames.h"
#include "run/instrument_models.h"
#include "run/run_controller.h"
#include "sim_session.h"

namespace {

struct ConnectRecorder : IRunObserver {
    std::optional<ConnectOutcome> outcome;
    std::vector<int> shownSpeeds;
    void ConnectFinished(const ConnectOutcome& o) override { outcome = o; }
    void ShowSpeed(int speed) override { shownSpeeds.push_back(speed); }
};

class ConnectionTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(session.Started()); }
    // Connects an engine to the shaker and waits for the outcome.
    ConnectOutcome Connect() {
        CRunController engine(recorder);
        engine.SetBytePause(std::chrono::milliseconds(0));
        engine.SetJournalFolder(session.Shaker().SlavePath() + "-no-journals");
        engine.Connect(PortChoice{session.Shaker().SlavePath(), 9600});
        EXPECT_TRUE(ProcessEventsUntil([&] { return recorder.outcome.has_value(); }));
        failedAfter = engine.ConnectionFailed();
        typeAfter = engine.GetDeviceType();
        return recorder.outcome.value_or(ConnectOutcome{});
    }
    CSimSession session;
    ConnectRecorder recorder;
    bool failedAfter = false;
    DeviceType typeAfter = DeviceUnlisted;
};

}  // namespace

TEST(DeviceIdClassification, TokensNeedTheEditionAndTheFirstListedTypeWins) {
    EXPECT_EQ(ClassifyDeviceId("xx-kw41-vtx"), DeviceKW41);    // upper-cased before the tests
    EXPECT_EQ(ClassifyDeviceId("KW27 KV41 VTX"), DeviceKV41);  // list order, not ID order
    EXPECT_EQ(ClassifyDeviceId("VTXKV27"), DeviceKV27);
    EXPECT_EQ(ClassifyDeviceId("KW41"), DeviceUnlisted);
    EXPECT_EQ(ClassifyDeviceId(""), DeviceUnlisted);
}

TEST_F(ConnectionTest, LowerCaseIdIsIdentifiedFromAllSixteenCharactersAndTheSetpointsShown) {
    session.Shaker().SetDeviceId("xx-kw41-vtx");
    const ConnectOutcome outcome = Connect();

    EXPECT_EQ(outcome.result, ConnectOutcome::Result::Connected);
    EXPECT_EQ(outcome.type, DeviceKW41);
    EXPECT_EQ(outcome.deviceId, "xx-kw41-vtx");
    EXPECT_FALSE(failedAfter);
    EXPECT_EQ(session.Shaker().RequestCount(kCodeIdChar), 16);
    EXPECT_EQ(recorder.shownSpeeds, (std::vector<int>{300}));
}

TEST_F(ConnectionTest, RefusedHandshakeFailsButLeavesStartUsable) {
    session.Shaker().QueueReply(kCodeHandshake, AckReply(kCodeHandshake, 1));
    const ConnectOutcome outcome = Connect();

    EXPECT_EQ(outcome.result, ConnectOutcome::Result::Failed);
    EXPECT_FALSE(outcome.reason.empty());
    EXPECT_TRUE(failedAfter);
    EXPECT_EQ(session.Shaker().RequestCount(kCodeIdChar), 0);
    // A type that takes commands keeps Start enabled, so it can tell the operator to restart.
    EXPECT_TRUE(ModelOf(typeAfter).sendsCommands);
}

TEST_F(ConnectionTest, FirstIdReadFailingGivesAnEmptyIdOfNoListedType) {
    ASSERT_TRUE(session.OpenChannel());
    session.Shaker().InjectFor(kCodeIdChar, CSimulatedShaker::Fault::BadChecksum);

    EXPECT_EQ(session.Protocol().ReadDeviceId(), "");
    EXPECT_EQ(session.Shaker().RequestCount(kCodeIdChar), 1);
    EXPECT_FALSE(ModelOf(ClassifyDeviceId("")).sendsCommands);
}

TEST_F(ConnectionTest, ReplyErrorHalfwayKeepsTheCharactersRead) {
    ASSERT_TRUE(session.OpenChannel());
    for (char c : std::string("KW41-VTX")) {
        session.Shaker().QueueReply(kCodeIdChar, AckReply(kCodeIdChar, c));
    }
    std::vector<std::uint8_t> broken = AckReply(kCodeIdChar, 'S');
    ++broken.back();
    session.Shaker().QueueReply(kCodeIdChar, broken);

    EXPECT_EQ(session.Protocol().ReadDeviceId(), "KW41-VTX");
    EXPECT_EQ(session.Shaker().RequestCount(kCodeIdChar), 9);
}

TEST_F(ConnectionTest, ZeroByteEndsTheIdButEveryIndexIsStillRead) {
    ASSERT_TRUE(session.OpenChannel());
    session.Shaker().SetDeviceId(std::string("KW41\0VTX", 8));

    EXPECT_EQ(session.Protocol().ReadDeviceId(), "KW41");
    EXPECT_EQ(session.Shaker().RequestCount(kCodeIdChar), 16);
}
