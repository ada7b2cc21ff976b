// The run engine against a simulated shaker on a pseudo-terminal, without any window: the
// watched link (silence, a pulled and replugged cable, another instrument on the same path),
// the journal when its folder can't be written, and a second connection without a restart.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <csignal>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>

#include "link/frames.h"
#include "run/run_controller.h"
#include "run/run_journal.h"
#include "sim_session.h"

namespace {

using namespace std::chrono_literals;

struct Recorder : IRunObserver {
    std::vector<LinkState> links;
    std::vector<std::string> notes;
    std::vector<int> samples;
    std::optional<ConnectOutcome> connected;
    std::optional<StartOutcome> started;
    std::optional<StopOutcome> stopped;
    std::function<void(int)> onSample;

    void ConnectFinished(const ConnectOutcome& outcome) override { connected = outcome; }
    void StartFinished(const StartOutcome& outcome) override { started = outcome; }
    void StopFinished(const StopOutcome& outcome) override { stopped = outcome; }
    void SampleRecorded(int number, int, int) override {
        samples.push_back(number);
        if (onSample) {
            onSample(number);
        }
    }
    void LinkStateChanged(LinkState state) override { links.push_back(state); }
    void StatusNote(const std::string& text) override { notes.push_back(text); }
};

// Each request of the engine, waited for until its outcome is in.
ConnectOutcome::Result ConnectTo(CRunController& engine, Recorder& recorder,
                                 const std::string& port) {
    recorder.connected.reset();
    engine.Connect(PortChoice{port, 9600});
    EXPECT_TRUE(ProcessEventsUntil([&] { return recorder.connected.has_value(); }));
    return recorder.connected ? recorder.connected->result : ConnectOutcome::Result::Busy;
}

StartOutcome::Result StartRun(CRunController& engine, Recorder& recorder, int speed, int time) {
    recorder.started.reset();
    engine.Start(speed, time);
    EXPECT_TRUE(ProcessEventsUntil([&] { return recorder.started.has_value(); }));
    return recorder.started ? recorder.started->result : StartOutcome::Result::Busy;
}

StopOutcome::Result StopRun(CRunController& engine, Recorder& recorder, int speed) {
    recorder.stopped.reset();
    engine.Stop(speed);
    EXPECT_TRUE(ProcessEventsUntil([&] { return recorder.stopped.has_value(); }));
    return recorder.stopped ? recorder.stopped->result : StopOutcome::Result::Busy;
}

std::string ReadAll(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

SimOptions LongRun() {
    SimOptions options;
    options.timeUnit = 100ms;
    return options;
}

class RunEngine : public ::testing::Test {
  protected:
    RunEngine() : session(LongRun()), engine(recorder) {
        engine.SetJournalFolder(journals.path().toStdString() + "/runs");
        engine.SetBytePause(0ms);
        engine.SetLogDirectory(journals.path().toStdString());
        engine.SetCyclePeriod(100ms);
        engine.SetReconnectPeriod(100ms);
    }

    ConnectOutcome::Result Connect() { return ConnectTo(engine, recorder, Port()); }
    StartOutcome::Result Start(int speed, int time) {
        return StartRun(engine, recorder, speed, time);
    }
    StopOutcome::Result Stop(int speed) { return StopRun(engine, recorder, speed); }
    std::string Port() { return session.Shaker().SlavePath(); }

    bool HasLink(LinkState state) const {
        return std::find(recorder.links.begin(), recorder.links.end(), state) !=
               recorder.links.end();
    }

    QTemporaryDir journals;
    CSimSession session;
    Recorder recorder;
    CRunController engine;
};

}  // namespace

TEST_F(RunEngine, ASilentInstrumentIsNoReplyWithinThreeCyclesAndAnsweringAgainAfter) {
    ASSERT_EQ(Connect(), ConnectOutcome::Result::Connected);
    ASSERT_EQ(Start(300, 600), StartOutcome::Result::Started);
    ASSERT_TRUE(ProcessEventsUntil([&] { return recorder.samples.size() >= 2; }));
    session.Shaker().SetSilent(true);
    // Every silent exchange waits out its 5 s limit; the link is judged long before that.
    ASSERT_TRUE(ProcessEventsUntil([&] { return engine.Link() == LinkState::NoReply; }, 4s));
    session.Shaker().SetSilent(false);
    ASSERT_TRUE(ProcessEventsUntil([&] { return engine.Link() == LinkState::Answering; }));
    EXPECT_TRUE(engine.Running());
    Stop(300);
}

TEST_F(RunEngine, APulledCableIsReopenedAndTheRunGoesOnWithTheNextSampleNumbers) {
    ASSERT_EQ(Connect(), ConnectOutcome::Result::Connected);
    ASSERT_EQ(Start(300, 600), StartOutcome::Result::Started);
    ASSERT_TRUE(ProcessEventsUntil([&] { return recorder.samples.size() >= 3; }));
    session.Shaker().Unplug();
    ASSERT_TRUE(ProcessEventsUntil([&] { return engine.Link() == LinkState::Disconnected; }));
    const std::size_t before = recorder.samples.size();

    // Another instrument on the same path is not taken for this one.
    session.Shaker().SetDeviceId("KV27-VTX-OTHER");
    ASSERT_TRUE(session.Shaker().Replug());
    ProcessEventsUntil([] { return false; }, 600ms);
    EXPECT_EQ(engine.Link(), LinkState::Disconnected);

    session.Shaker().SetDeviceId("KW41-VTX-SIM");
    ASSERT_TRUE(ProcessEventsUntil([&] { return engine.Link() == LinkState::Answering; }));
    ASSERT_TRUE(ProcessEventsUntil([&] { return recorder.samples.size() >= before + 2; }));
    EXPECT_TRUE(engine.Running());
    for (std::size_t i = 0; i < recorder.samples.size(); ++i) {
        EXPECT_EQ(recorder.samples[i], static_cast<int>(i) + 1);
    }
    const std::string journal = ReadAll(engine.JournalPath());
    EXPECT_NE(journal.find("# link lost\n"), std::string::npos);
    EXPECT_NE(journal.find("# link back\n"), std::string::npos);
    Stop(300);
    EXPECT_NE(ReadAll(engine.JournalPath()).find("# end\tStop"), std::string::npos);
}

TEST_F(RunEngine, AJournalThatCantBeWrittenNeverStopsTheRun) {
    // A regular file where the folder should be.
    const QString blocked = journals.path() + "/blocked";
    QFile(blocked).open(QIODevice::WriteOnly);
    engine.SetJournalFolder((blocked + "/runs").toStdString());
    ASSERT_EQ(Connect(), ConnectOutcome::Result::Connected);
    ASSERT_EQ(Start(300, 600), StartOutcome::Result::Started);
    ASSERT_TRUE(ProcessEventsUntil([&] { return recorder.samples.size() >= 2; }));
    ASSERT_FALSE(recorder.notes.empty());
    EXPECT_NE(recorder.notes.front().find("can't be written"), std::string::npos);
    Stop(300);
}

TEST_F(RunEngine, ConnectAgainAfterAFailedConnectionThenAWholeRun) {
    EXPECT_EQ(ConnectTo(engine, recorder, journals.path().toStdString() + "/no-such-port"),
              ConnectOutcome::Result::Failed);
    EXPECT_TRUE(engine.ConnectionFailed());
    EXPECT_EQ(Start(300, 5), StartOutcome::Result::NotConnected);

    ASSERT_EQ(Connect(), ConnectOutcome::Result::Connected);
    ASSERT_FALSE(engine.ConnectionFailed());
    EXPECT_EQ(engine.DeviceId(), "KW41-VTX-SIM");
    // A sample is heard of only once its line is in the journal; the end line follows the
    // last one.
    std::vector<int> notYetInJournal;
    recorder.onSample = [&](int number) {
        if (ReadAll(engine.JournalPath()).find("\n" + std::to_string(number) + "\t") ==
            std::string::npos) {
            notYetInJournal.push_back(number);
        }
    };
    ASSERT_EQ(Start(300, 5), StartOutcome::Result::Started);
    ASSERT_TRUE(ProcessEventsUntil([&] { return !engine.Running(); }));
    EXPECT_TRUE(notYetInJournal.empty()) << notYetInJournal.front();
    const std::string journal = ReadAll(engine.JournalPath());
    ASSERT_FALSE(recorder.samples.empty());
    const std::string last = "\n" + std::to_string(recorder.samples.back()) + "\t";
    EXPECT_LT(journal.find(last), journal.find("# end\ttime 0")) << journal;
    EXPECT_NE(journal.find("# end\ttime 0"), std::string::npos);

    // The audit trail beside the journals tells the same story, in order.
    const std::string audit = ReadAll(journals.path().toStdString() + "/audit.jsonl");
    std::size_t at = 0;
    for (const char* event :
         {R"("event":"connect")", R"("result":"failed")", R"("event":"start refused")",
          R"("result":"not connected")", R"("event":"connect")", R"("result":"connected")",
          R"("event":"start")", R"("result":"started")", R"("speed":300)", R"("event":"run end")",
          R"("reason":"time 0")"}) {
        at = audit.find(event, at);
        ASSERT_NE(at, std::string::npos) << event << "\n" << audit;
    }
}

// The journal outlives the program: a kill -9 mid-run loses no sample the instrument answered,
// and the next start reports the run.
TEST(RunEngineJournal, KillNineMidRunKeepsEverySampleAndTheNextStartReportsIt) {
    QTemporaryDir journals;
    QProcess child;
    child.setProgram(QStringLiteral(VELMORA_ENGINE_CHILD));
    child.setArguments({journals.path()});
    child.start();
    ASSERT_TRUE(child.waitForStarted());
    std::vector<int> printed;
    while (printed.size() < 5 && child.waitForReadyRead(10000)) {
        while (child.canReadLine()) {
            printed.push_back(child.readLine().trimmed().toInt());
        }
    }
    ASSERT_GE(printed.size(), 5u);
    ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
    child.waitForFinished();

    const QString folder = journals.path() + "/runs";
    const QStringList files = QDir(folder).entryList(QDir::Files);
    ASSERT_EQ(files.size(), 1);
    const std::string journal = ReadAll((folder + "/" + files.front()).toStdString());
    for (int number : printed) {
        EXPECT_NE(journal.find("\n" + std::to_string(number) + "\t"), std::string::npos) << number;
    }
    EXPECT_EQ(journal.find("# end"), std::string::npos);

    Recorder recorder;
    CRunController engine(recorder);
    engine.SetJournalFolder(folder.toStdString());
    ConnectTo(engine, recorder, "/nonexistent-port");
    ASSERT_FALSE(recorder.notes.empty());
    EXPECT_NE(recorder.notes.front().find("ended unexpectedly"), std::string::npos);
}

// Nothing is shared between two engines: each drives its own shaker on its own port, at once,
// and each journal and traffic log holds only its own instrument's bytes.
TEST(TwoEngines, RunAtOnceEachOnItsOwnShakerWithItsOwnJournalAndLog) {
    struct Side {
        explicit Side(const char* id) : shaker(LongRun()), engine(recorder) {
            shaker.SetDeviceId(id);
            EXPECT_TRUE(shaker.Start());
            engine.SetJournalFolder(folder.path().toStdString() + "/runs");
            engine.SetLogDirectory(folder.path().toStdString());
            engine.SetBytePause(1ms);
            engine.SetCyclePeriod(100ms);
        }
        QTemporaryDir folder;
        CSimulatedShaker shaker;
        Recorder recorder;
        CRunController engine;
    };
    Side one("KW41-VTX-ONE");
    Side two("KV41-VTX-TWO");
    one.engine.Connect(PortChoice{one.shaker.SlavePath(), 9600});
    two.engine.Connect(PortChoice{two.shaker.SlavePath(), 9600});
    ASSERT_TRUE(
        ProcessEventsUntil([&] { return one.recorder.connected && two.recorder.connected; }));
    one.engine.Start(300, 8);
    two.engine.Start(250, 6);
    ASSERT_TRUE(ProcessEventsUntil([&] { return one.recorder.started && two.recorder.started; }));
    ASSERT_EQ(one.recorder.started->result, StartOutcome::Result::Started);
    ASSERT_EQ(two.recorder.started->result, StartOutcome::Result::Started);
    ASSERT_TRUE(ProcessEventsUntil([&] {
        return one.engine.State() == EngineState::Idle && two.engine.State() == EngineState::Idle;
    }));

    const std::string journalOne = ReadAll(one.engine.JournalPath());
    const std::string journalTwo = ReadAll(two.engine.JournalPath());
    EXPECT_NE(journalOne.find("KW41-VTX-ONE"), std::string::npos);
    EXPECT_EQ(journalOne.find("KV41-VTX-TWO"), std::string::npos);
    EXPECT_NE(journalTwo.find("KV41-VTX-TWO"), std::string::npos);
    EXPECT_EQ(journalTwo.find("KW41-VTX-ONE"), std::string::npos);
    // SetSpeed(300) and SetSpeed(250) as each log shows them.
    const std::string logOne = ReadAll(one.engine.TrafficLogPath());
    const std::string logTwo = ReadAll(two.engine.TrafficLogPath());
    EXPECT_NE(logOne.find("FE B1 01 2C"), std::string::npos);
    EXPECT_EQ(logOne.find("FE B1 00 FA"), std::string::npos);
    EXPECT_NE(logTwo.find("FE B1 00 FA"), std::string::npos);
    EXPECT_EQ(logTwo.find("FE B1 01 2C"), std::string::npos);
    EXPECT_EQ(one.shaker.CurrentState().speedSetpoint, 300);
    EXPECT_EQ(two.shaker.CurrentState().speedSetpoint, 250);
}

// ---- nothing reported that didn't happen --------------------------------------------------

TEST_F(RunEngine, OneNotRunningReplyIsCheckedAndOnlyTwoInARowEndTheRun) {
    ASSERT_EQ(Connect(), ConnectOutcome::Result::Connected);
    ASSERT_EQ(Start(300, 600), StartOutcome::Result::Started);
    ASSERT_TRUE(ProcessEventsUntil([&] { return recorder.samples.size() >= 2; }));
    session.Shaker().QueueReply(kCodeRunState, RunStateReply(0, 0));
    const std::size_t before = recorder.samples.size();
    ASSERT_TRUE(ProcessEventsUntil([&] { return recorder.samples.size() >= before + 3; }));
    EXPECT_TRUE(engine.Running());

    // The check may follow the poller's next query, which then takes one of them.
    for (int reply = 0; reply < 3; ++reply) {
        session.Shaker().QueueReply(kCodeRunState, RunStateReply(0, 0));
    }
    ASSERT_TRUE(ProcessEventsUntil([&] { return engine.State() == EngineState::Idle; }));
    EXPECT_NE(ReadAll(engine.JournalPath()).find("# end\tinstrument stopped"), std::string::npos);
}

TEST_F(RunEngine, ARefusedSpeedRunsAtTheInstrumentsSetpointOrStopsItAsAsked) {
    ASSERT_EQ(Connect(), ConnectOutcome::Result::Connected);
    // The shaker keeps its own setpoint, 300, and refuses 200.
    session.Shaker().InjectFor(kCodeSetSpeed, CSimulatedShaker::Fault::NonZeroStatus, 1);
    ASSERT_EQ(Start(200, 600), StartOutcome::Result::Started);
    EXPECT_FALSE(recorder.started->speedAcknowledged);
    ASSERT_TRUE(ProcessEventsUntil([&] { return recorder.samples.size() >= 1; }));
    const std::string journal = ReadAll(engine.JournalPath());
    EXPECT_NE(journal.find("# speed setpoint (1/min)\t300\n"), std::string::npos) << journal;
    EXPECT_NE(journal.find("# speed refused\n"), std::string::npos);
    ASSERT_EQ(Stop(300), StopOutcome::Result::Confirmed);

    session.Shaker().InjectFor(kCodeSetSpeed, CSimulatedShaker::Fault::NonZeroStatus, 1);
    recorder.started.reset();
    engine.Start(200, 600, SpeedRefusal::StopTheInstrument);
    ASSERT_TRUE(ProcessEventsUntil([&] { return recorder.started.has_value(); }));
    EXPECT_EQ(recorder.started->result, StartOutcome::Result::SpeedRefused);
    EXPECT_TRUE(recorder.started->stopConfirmed);
    EXPECT_FALSE(engine.Running());
    EXPECT_FALSE(session.Shaker().CurrentState().running);
}

TEST_F(RunEngine, AnUnconfirmedStopLeavesTheRunWatchedAndATimeOfZeroStartsNothing) {
    ASSERT_EQ(Connect(), ConnectOutcome::Result::Connected);
    EXPECT_EQ(Start(300, 0), StartOutcome::Result::TimeOutOfRange);
    EXPECT_EQ(session.Shaker().RequestCount(kCodeSetTime), 0);

    ASSERT_EQ(Start(300, 600), StartOutcome::Result::Started);
    ASSERT_TRUE(ProcessEventsUntil([&] { return recorder.samples.size() >= 2; }));
    session.Shaker().InjectFor(kCodeSetSpeed, CSimulatedShaker::Fault::NonZeroStatus,
                               CRunController::kStopRetries);
    EXPECT_EQ(Stop(300), StopOutcome::Result::NotConfirmed);
    EXPECT_FALSE(recorder.stopped->endedRun);
    EXPECT_TRUE(engine.Running());
    const std::size_t before = recorder.samples.size();
    ASSERT_TRUE(ProcessEventsUntil([&] { return recorder.samples.size() >= before + 2; }));
    EXPECT_NE(ReadAll(engine.JournalPath()).find("# stop not confirmed\n"), std::string::npos);
    EXPECT_EQ(ReadAll(engine.JournalPath()).find("# end"), std::string::npos);

    EXPECT_EQ(Stop(300), StopOutcome::Result::Confirmed);
    EXPECT_FALSE(engine.Running());
}

// A restart while the instrument runs: the run is shown and watched, and Stop stops it.
TEST_F(RunEngine, ConnectingToARunningInstrumentWatchesItsRun) {
    ASSERT_EQ(Connect(), ConnectOutcome::Result::Connected);
    ASSERT_EQ(Start(250, 600), StartOutcome::Result::Started);
    engine.Shutdown();
    ASSERT_TRUE(session.Shaker().CurrentState().running);

    Recorder second;
    CRunController restarted(second);
    restarted.SetBytePause(0ms);
    restarted.SetCyclePeriod(100ms);
    restarted.SetJournalFolder(journals.path().toStdString() + "/runs");
    restarted.SetLogDirectory(journals.path().toStdString() + "/second");
    ASSERT_EQ(ConnectTo(restarted, second, Port()), ConnectOutcome::Result::Connected);
    EXPECT_TRUE(second.connected->runningElsewhere);
    EXPECT_TRUE(restarted.Running());
    EXPECT_TRUE(restarted.StartedElsewhere());
    ASSERT_TRUE(ProcessEventsUntil([&] { return second.samples.size() >= 2; }));
    EXPECT_EQ(StopRun(restarted, second, 250), StopOutcome::Result::Confirmed);
    EXPECT_FALSE(session.Shaker().CurrentState().running);
}
