#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/frames.h"
#include "run/status_poller.h"
#include "sim_session.h"

namespace {

using namespace std::chrono_literals;

// Stands in for the engine: records what the poller hands over, on the poller's thread.
class CRecordingSink {
  public:
    // Called on the poller's thread with each entry once it is recorded.
    std::function<void(const std::string&)> onSample;

    CStatusPoller::Sink Sink() {
        CStatusPoller::Sink sink;
        sink.status = [this](const StatusSample& s) {
            Add('S', "S" + std::to_string(s.displayed) + ":" + std::to_string(s.remaining));
        };
        sink.runState = [this](const RunStateSample& s) {
            Add('R', "R" + std::to_string(s.runFlag) + ":" + std::to_string(s.secondState));
        };
        sink.failure = [this](const PollFailure& f) {
            Add('F', "F" + std::to_string(f.portLost ? 1 : 0));
        };
        sink.cycleEnd = [this] { Add('E', "E"); };
        return sink;
    }
    std::size_t Count(char kind) const {
        std::lock_guard lock(m_mutex);
        return std::count_if(m_entries.begin(), m_entries.end(),
                             [&](const std::string& e) { return e[0] == kind; });
    }
    std::size_t Size() const {
        std::lock_guard lock(m_mutex);
        return m_entries.size();
    }
    // The first entries, space separated: "S<speed>:<remaining>", "R<flag>:<byte>", "F<lost>",
    // "E" (a cycle's end).
    std::string Transcript(std::size_t first) const {
        std::lock_guard lock(m_mutex);
        std::string text;
        for (std::size_t i = 0; i < m_entries.size() && i < first; ++i) {
            text += (i > 0 ? " " : "") + m_entries[i];
        }
        return text;
    }

  private:
    std::string Last() const {
        std::lock_guard lock(m_mutex);
        return m_entries.back();
    }
    void Add(char, std::string entry) {
        {
            std::lock_guard lock(m_mutex);
            m_entries.push_back(std::move(entry));
        }
        if (onSample) {
            onSample(Last());
        }
    }
    // Protects m_entries: written on the poller's thread, read on the test's.
    mutable std::mutex m_mutex;
    std::vector<std::string> m_entries;
};

// Waits without running the event loop, so notifications stay unhandled meanwhile.
bool WaitWithoutEvents(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

std::vector<std::uint8_t> WithBadChecksum(std::vector<std::uint8_t> frame) {
    frame.back() = static_cast<std::uint8_t>(frame.back() + 1);
    return frame;
}

class StatusPollerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(session.Started());
        ASSERT_TRUE(session.OpenChannel());
        poller.SetCyclePeriod(20ms);
    }
    void TearDown() override {
        poller.RequestStop();
        poller.Join();
        EXPECT_EQ(CStatusPoller::RunningWorkers(), 0);
    }

    CSimSession session;
    CRecordingSink sink;
    CStatusPoller poller{session.Protocol()};
};

}  // namespace

TEST_F(StatusPollerTest, StatusUpdatesCarryTheSmoothedSpeedAndTheRemainingTime) {
    // {setpoint, actual, shown, settled after}: settles on 295; truncation toward zero shows
    // 298 for 290; a large deviation keeps it settled; a new setpoint unsettles, so 405
    // against 400 shows raw, not as 401.
    const int steps[][4] = {{300, 150, 150, 0}, {300, 295, 295, 1}, {300, 320, 305, 1},
                            {300, 310, 302, 1}, {300, 290, 298, 1}, {300, 100, 250, 1},
                            {400, 310, 310, 0}, {400, 405, 405, 1}};
    int remaining = 60;
    for (const auto& step : steps) {
        session.Shaker().QueueReply(kCodeStatus, StatusReply(step[0], step[1], 600, remaining--));
    }
    std::mutex mutex;  // protects shown, written on the poller's thread
    std::vector<std::string> shown;
    sink.onSample = [&](const std::string& entry) {
        std::lock_guard lock(mutex);
        if (entry[0] == 'S') {
            shown.push_back(entry + "/" + std::to_string(poller.SettledFlag()));
        }
    };

    poller.Start(1, sink.Sink());
    ASSERT_TRUE(WaitWithoutEvents([&] { return sink.Count('S') >= std::size(steps); }));
    poller.RequestStop();
    poller.Join();

    for (std::size_t i = 0; i < std::size(steps); ++i) {
        EXPECT_EQ(shown[i], "S" + std::to_string(steps[i][2]) + ":" +
                                std::to_string(60 - static_cast<int>(i)) + "/" +
                                std::to_string(steps[i][3]))
            << "reply " << i;
    }
}

// A lost status reply is reported as such (the link is watched with it); a lost run state is
// not, and the loop goes on either way.
TEST_F(StatusPollerTest, FailedQueriesAreReportedOnlyForTheStatusAndTheLoopGoesOn) {
    session.Shaker().QueueReply(kCodeStatus, StatusReply(300, 150, 600, 60));
    session.Shaker().QueueReply(kCodeStatus, WithBadChecksum(StatusReply(300, 295, 600, 59)));
    session.Shaker().QueueReply(kCodeStatus, StatusReply(300, 295, 65535, 65535));
    session.Shaker().QueueReply(kCodeRunState, RunStateReply(1, 0));
    session.Shaker().QueueReply(kCodeRunState, RunStateReply(0, 7));
    session.Shaker().QueueReply(kCodeRunState, WithBadChecksum(RunStateReply(1, 0)));

    poller.Start(1, sink.Sink());
    ASSERT_TRUE(WaitWithoutEvents([&] { return sink.Size() >= 9; }));

    // Cycle 2 lost its status, cycle 3 its run state; values are unsigned 16-bit. The lost
    // reply left the smoothing alone: 295 settled it, so the shaker's own 0 shows as 225.
    // Each cycle ends once, after what it learnt.
    EXPECT_EQ(sink.Transcript(9), "S150:60 R1:0 E F0 R0:7 E S295:65535 E S225:6");
}

TEST_F(StatusPollerTest, AStopWhileASampleIsHandedOverEndsTheCycleWithoutAnotherExchange) {
    // A cycle far longer than the test may take: only a wake on the stop ends it early.
    poller.SetCyclePeriod(60s);
    sink.onSample = [&](const std::string& entry) {
        if (entry[0] == 'S') {
            poller.RequestStop();
        }
    };

    poller.Start(1, sink.Sink());
    ASSERT_TRUE(WaitWithoutEvents([&] { return sink.Count('S') == 1; }));
    poller.Join();

    // The cycle still ends: its status sample is handed on.
    EXPECT_EQ(sink.Transcript(9), "S0:6 E");
    EXPECT_EQ(session.Shaker().RequestCount(kCodeStatus), 1);
    EXPECT_EQ(session.Shaker().RequestCount(kCodeRunState), 0);
}

// The instrument has gone silent (cable pulled, port open) while the poller waits for its
// status reply, which may take 5 s: a stop cuts that wait short, the poller asks nothing
// more, and the command sent right after the stop is not cut short with it.
TEST_F(StatusPollerTest, AStopCutsTheExchangeInFlightShortAndNotTheNextCommand) {
    session.Shaker().SetSilent(true);
    poller.Start(1, sink.Sink());
    ASSERT_TRUE(WaitWithoutEvents([&] { return session.Shaker().RequestCount(kCodeStatus) >= 1; }));

    const auto start = std::chrono::steady_clock::now();
    poller.RequestStop();
    poller.Join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(session.Shaker().RequestCount(kCodeRunState), 0);

    session.Shaker().SetSilent(false);
    EXPECT_EQ(session.Protocol().SetSpeed(300), 1);
}

TEST_F(StatusPollerTest, StopStartStormNeverLeavesTwoPollers) {
    poller.SetCyclePeriod(1ms);
    for (int round = 0; round < 200; ++round) {
        poller.Start(round, sink.Sink());
        ASSERT_EQ(CStatusPoller::RunningWorkers(), 1);
        if (round % 4 == 0) {
            const std::size_t before = sink.Count('R');
            ASSERT_TRUE(WaitWithoutEvents([&] { return sink.Count('R') > before; }));
        }
        poller.RequestStop();
        if (round % 5 == 0) {
            poller.Join();
            ASSERT_EQ(CStatusPoller::RunningWorkers(), 0);
        }
    }
}
