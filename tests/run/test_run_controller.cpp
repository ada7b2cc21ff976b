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
#include <sstream>

#include "link/serial_channel.h"
#include "run/run_controller.h"
#include "run/run_journal.h"
#include "sim_session.h"

namespace {

using namespace std::chrono_literals;

struct Recorder : IRunObserver {
    std::vector<std::string> ports;  // the port each connection is given, in turn
    std::vector<LinkState> links;
    std::vector<int> messages;
    std::vector<std::string> notes;
    std::vector<int> samples;

    void ChoosePort(CSerialChannel& channel) override {
        if (!ports.empty()) {
            channel.SetPortName(ports.front());
            ports.erase(ports.begin());
        }
    }
    void ShowInformation(int stringId) override { messages.push_back(stringId); }
    void SampleRecorded(int number, int, int) override { samples.push_back(number); }
    void LinkStateChanged(LinkState state) override { links.push_back(state); }
    void StatusNote(const std::string& text) override { notes.push_back(text); }
};

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
        recorder.ports.push_back(session.Shaker().SlavePath());
        engine.SetJournalFolder(journals.path().toStdString());
        engine.SetCyclePeriod(100ms);
        engine.SetReconnectPeriod(100ms);
    }

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
    engine.Connect();
    ASSERT_EQ(engine.Start(300, 600), CRunController::StartOutcome::Started);
    ASSERT_TRUE(ProcessEventsUntil([&] { return recorder.samples.size() >= 2; }));
    session.Shaker().SetSilent(true);
    // Every silent exchange waits out its 5 s limit; the link is judged long before that.
    ASSERT_TRUE(ProcessEventsUntil([&] { return engine.Link() == LinkState::NoReply; }, 4s));
    session.Shaker().SetSilent(false);
    ASSERT_TRUE(ProcessEventsUntil([&] { return engine.Link() == LinkState::Answering; }));
    EXPECT_TRUE(engine.Running());
    engine.Stop(300);
}

TEST_F(RunEngine, APulledCableIsReopenedAndTheRunGoesOnWithTheNextSampleNumbers) {
    engine.Connect();
    ASSERT_EQ(engine.Start(300, 600), CRunController::StartOutcome::Started);
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
    engine.Stop(300);
    EXPECT_NE(ReadAll(engine.JournalPath()).find("# end\tStop"), std::string::npos);
}

TEST_F(RunEngine, AJournalThatCantBeWrittenNeverStopsTheRun) {
    // A regular file where the folder should be.
    const QString blocked = journals.path() + "/blocked";
    QFile(blocked).open(QIODevice::WriteOnly);
    engine.SetJournalFolder((blocked + "/runs").toStdString());
    engine.Connect();
    ASSERT_EQ(engine.Start(300, 600), CRunController::StartOutcome::Started);
    ASSERT_TRUE(ProcessEventsUntil([&] { return recorder.samples.size() >= 2; }));
    ASSERT_FALSE(recorder.notes.empty());
    EXPECT_NE(recorder.notes.front().find("can't be written"), std::string::npos);
    engine.Stop(300);
}

TEST_F(RunEngine, ConnectAgainAfterAFailedConnectionThenAWholeRun) {
    recorder.ports.insert(recorder.ports.begin(), journals.path().toStdString() + "/no-such-port");
    engine.Connect();
    EXPECT_EQ(engine.ConnectionFailed(), 1);
    EXPECT_EQ(recorder.messages, std::vector<int>{102});
    EXPECT_FALSE(engine.CheckConnected());

    engine.Connect();
    ASSERT_EQ(engine.ConnectionFailed(), 0);
    EXPECT_EQ(engine.DeviceId(), "KW41-VTX-SIM");
    ASSERT_EQ(engine.Start(300, 5), CRunController::StartOutcome::Started);
    ASSERT_TRUE(ProcessEventsUntil([&] { return !engine.Running(); }));
    EXPECT_NE(ReadAll(engine.JournalPath()).find("# end\ttime 0"), std::string::npos);
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
    recorder.ports.push_back("/nonexistent-port");
    engine.Connect();
    ASSERT_FALSE(recorder.notes.empty());
    EXPECT_NE(recorder.notes.front().find("ended unexpectedly"), std::string::npos);
}
