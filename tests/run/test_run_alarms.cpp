// Alarms: the rules as functions of what happened when, then the engine raising and clearing
// them against the simulated shaker's faults (a stalled platform, silence, a lost link).
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <sstream>

#include "run/run_alarms.h"
#include "run/run_controller.h"
#include "sim_session.h"

using namespace std::chrono_literals;

namespace {

using Clock = CAlarmRules::Clock;

std::string Kinds(const std::vector<Alarm>& alarms) {
    std::string kinds;
    for (const Alarm& alarm : alarms) {
        kinds += std::string(alarm.raised ? "+" : "-") + AlarmKindName(alarm.kind) + ";";
    }
    return kinds;
}

}  // namespace

TEST(AlarmRules, SpeedOffItsSetpointOnceSettledAndSilenceAreRaisedOnceAndCleared) {
    EXPECT_EQ(CAlarmRules::SpeedTolerance(100), 10);
    EXPECT_EQ(CAlarmRules::SpeedTolerance(500), 25);
    CAlarmRules rules;
    const Clock::time_point t0{};
    // The ramp up is no deviation, however long it takes.
    EXPECT_EQ(Kinds(rules.Sample(100, 300, t0)), "");
    EXPECT_EQ(Kinds(rules.Sample(200, 300, t0 + 20s)), "");
    EXPECT_EQ(Kinds(rules.Sample(285, 300, t0 + 21s)), "");  // settled: 15 is 5 %
    EXPECT_EQ(Kinds(rules.Sample(284, 300, t0 + 22s)), "");
    EXPECT_EQ(Kinds(rules.Sample(120, 300, t0 + 32s)), "");  // exactly 10 s off
    const auto raised = rules.Sample(120, 300, t0 + 32s + 1ms);
    EXPECT_EQ(Kinds(raised), "+speed off setpoint;");
    EXPECT_EQ(raised[0].text, "The speed is 120 1/min, the setpoint 300 1/min, for more than 10 s");
    EXPECT_EQ(Kinds(rules.Sample(120, 300, t0 + 60s)), "");
    EXPECT_EQ(Kinds(rules.Sample(299, 300, t0 + 61s)), "-speed off setpoint;");

    EXPECT_EQ(Kinds(rules.LinkChanged(LinkState::NoReply, t0 + 70s)), "");
    EXPECT_EQ(rules.NextDeadline(), t0 + 100s + 1ms);
    EXPECT_EQ(Kinds(rules.Tick(t0 + 100s)), "");
    EXPECT_EQ(Kinds(rules.LinkChanged(LinkState::Disconnected, t0 + 90s)), "");  // still since 70
    EXPECT_EQ(Kinds(rules.Tick(t0 + 100s + 1ms)), "+no reply;");
    EXPECT_EQ(Kinds(rules.Tick(t0 + 200s)), "");
    EXPECT_EQ(Kinds(rules.LinkChanged(LinkState::Answering, t0 + 201s)), "-no reply;");

    // The end: what is still raised clears, and an end other than by time, Stop or closing is
    // an alarm of its own.
    EXPECT_EQ(Kinds(rules.LinkChanged(LinkState::NoReply, t0 + 300s)), "");
    EXPECT_EQ(Kinds(rules.Tick(t0 + 331s)), "+no reply;");
    EXPECT_EQ(Kinds(rules.RunEnded(RunEnd::LinkLost)), "-no reply;+run ended early;");
    EXPECT_EQ(Kinds(rules.RunEnded(RunEnd::InstrumentStopped)), "+run ended early;");
    for (RunEnd normal : {RunEnd::TimeUp, RunEnd::Stopped, RunEnd::Closed}) {
        EXPECT_EQ(Kinds(rules.RunEnded(normal)), "");
    }
}

namespace {

struct AlarmRecorder : IRunObserver {
    std::vector<Alarm> alarms;
    std::optional<ConnectOutcome> connected;
    std::optional<StartOutcome> started;
    int samples = 0;
    std::optional<RunEnd> ended;
    void ConnectFinished(const ConnectOutcome& outcome) override { connected = outcome; }
    void StartFinished(const StartOutcome& outcome) override { started = outcome; }
    void SampleRecorded(int, int, int) override { ++samples; }
    void AlarmChanged(const Alarm& alarm) override { alarms.push_back(alarm); }
    void RunEnded(RunEnd why) override { ended = why; }
};

std::string ReadAll(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

}  // namespace

TEST(RunAlarms, AStalledPlatformSilenceAndALostLinkEachRaiseOnceAndClear) {
    SimOptions options;
    options.timeUnit = 100ms;
    CSimSession session(options);
    QTemporaryDir folder;
    AlarmRecorder recorder;
    CRunController engine(recorder);
    engine.SetJournalFolder(folder.path().toStdString() + "/runs");
    engine.SetLogDirectory(folder.path().toStdString());
    engine.SetBytePause(0ms);
    engine.SetCyclePeriod(100ms);
    engine.SetAlarmGraces({500ms, 800ms});
    engine.Connect(PortChoice{session.Shaker().SlavePath(), 9600});
    ASSERT_TRUE(ProcessEventsUntil([&] { return recorder.connected.has_value(); }));
    engine.Start(300, 6000);
    ASSERT_TRUE(ProcessEventsUntil([&] { return recorder.started.has_value(); }));
    ASSERT_EQ(recorder.started->result, StartOutcome::Result::Started);
    const auto alarmed = [&](std::size_t count) {
        return ProcessEventsUntil([&] { return recorder.alarms.size() >= count; });
    };

    ASSERT_TRUE(
        ProcessEventsUntil([&] { return session.Shaker().CurrentState().actualSpeed == 300; }));
    session.Shaker().SetPlatformStalledAt(120);
    ASSERT_TRUE(alarmed(1));
    session.Shaker().SetPlatformStalledAt(std::nullopt);
    ASSERT_TRUE(alarmed(2));

    session.Shaker().SetSilent(true);
    ASSERT_TRUE(alarmed(3));
    session.Shaker().SetSilent(false);
    ASSERT_TRUE(alarmed(4));
    EXPECT_EQ(Kinds(recorder.alarms),
              "+speed off setpoint;-speed off setpoint;+no reply;-no reply;");

    session.Shaker().Unplug();
    ASSERT_TRUE(ProcessEventsUntil([&] { return engine.Link() == LinkState::Disconnected; }));
    engine.Abandon(RunEnd::LinkLost);
    // A machine slow enough may see the dead link's own alarm first: the run's end comes last.
    ASSERT_TRUE(ProcessEventsUntil([&] {
        return !recorder.alarms.empty() && Kinds({recorder.alarms.back()}) == "+run ended early;";
    }));
    EXPECT_TRUE(engine.AnyAlarmRaised());
    EXPECT_EQ(Kinds(engine.Alarms()), "-speed off setpoint;-no reply;+run ended early;");

    ProcessEventsUntil([&] { return Count(ReadAll(engine.JournalPath()), "# end") > 0; });
    const std::string journal = ReadAll(engine.JournalPath());
    EXPECT_EQ(Count(journal, "\n# alarm\tspeed off setpoint\tThe speed is "), 1u) << journal;
    EXPECT_EQ(Count(journal, "\n# alarm cleared\tspeed off setpoint\t"), 1u);
    EXPECT_EQ(Count(journal, "\n# alarm\tno reply\t"), 1u);
    EXPECT_EQ(Count(journal, "\n# alarm\trun ended early\t"), 1u);
    EXPECT_LT(journal.find("# alarm\trun ended early"), journal.find("# end\tlink lost"));
}
