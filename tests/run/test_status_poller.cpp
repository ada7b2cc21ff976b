#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QObject>
#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "link/frames.h"
#include "link/serial_channel.h"
#include "run/status_poller.h"
#include "sim_session.h"

namespace {

using namespace std::chrono_literals;

struct Notification {
    unsigned message;
    long wParam;
    long lParam;
};

// Stands in for the main window; everything here runs on the test's main thread.
class CRecordingReceiver : public IPollerReceiver {
  public:
    std::vector<Notification> received;
    std::function<void(const Notification&)> onMessage;

    int OnPollerMessage(unsigned message, long wParam, long lParam) override {
        received.push_back({message, wParam, lParam});
        if (onMessage) {
            onMessage(received.back());
        }
        return 1;
    }
    long Count(unsigned message) const {
        return std::count_if(received.begin(), received.end(),
                             [&](const Notification& n) { return n.message == message; });
    }
    // "S<speed>:<remaining>" and "R<flag>:<second byte>", space separated.
    std::string Transcript(std::size_t first) const {
        std::string text;
        for (std::size_t i = 0; i < received.size() && i < first; ++i) {
            const Notification& n = received[i];
            text += (i > 0 ? " " : "");
            text += (n.message == WM_STATUS_UPDATE ? "S"
                     : n.message == WM_RUN_STATE   ? "R"
                     : n.message == WM_POLL_FAILED ? "F"
                                                   : "?");
            text += std::to_string(n.wParam) + ":" + std::to_string(n.lParam);
        }
        return text;
    }
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
        poller.SetOwner(&receiver, &context);
        poller.SetCyclePeriod(20ms);
    }
    void TearDown() override {
        poller.RequestStop();
        poller.Join();
        EXPECT_EQ(CStatusPoller::RunningWorkers(), 0);
    }

    CSimSession session;
    QObject context;
    CRecordingReceiver receiver;
    CStatusPoller poller;
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
        session.Shaker().QueueReply(kCodeStatus, StatusReply(step[0], step[1], 6, remaining--));
    }
    std::vector<std::vector<long>> shown;
    receiver.onMessage = [&](const Notification& n) {
        if (n.message == WM_STATUS_UPDATE && shown.size() < std::size(steps)) {
            shown.push_back({n.wParam, n.lParam, poller.SettledFlag()});
        }
    };

    poller.Start();
    ASSERT_TRUE(ProcessEventsUntil([&] { return shown.size() == std::size(steps); }));

    for (std::size_t i = 0; i < std::size(steps); ++i) {
        EXPECT_EQ(shown[i],
                  (std::vector<long>{steps[i][2], 60 - static_cast<long>(i), steps[i][3]}))
            << "reply " << i;
    }
}

// A lost status reply is reported as such (the link is watched with it); a lost run state is
// not, and the loop goes on either way.
TEST_F(StatusPollerTest, FailedQueriesAreReportedOnlyForTheStatusAndTheLoopGoesOn) {
    session.Shaker().QueueReply(kCodeStatus, StatusReply(300, 150, 6, 60));
    session.Shaker().QueueReply(kCodeStatus, WithBadChecksum(StatusReply(300, 295, 6, 59)));
    session.Shaker().QueueReply(kCodeStatus, StatusReply(300, 295, 6, 65535));
    session.Shaker().QueueReply(kCodeRunState, RunStateReply(1, 0));
    session.Shaker().QueueReply(kCodeRunState, RunStateReply(0, 7));
    session.Shaker().QueueReply(kCodeRunState, WithBadChecksum(RunStateReply(1, 0)));

    poller.Start();
    ASSERT_TRUE(ProcessEventsUntil([&] { return receiver.received.size() >= 6; }));

    // Cycle 2 lost its status, cycle 3 its run state; values are unsigned 16-bit. The lost
    // reply left the smoothing alone: 295 settled it, so the shaker's own 0 shows as 225.
    EXPECT_EQ(receiver.Transcript(6), "S150:60 R1:0 F0:0 R0:7 S295:65535 S225:6");
}

TEST_F(StatusPollerTest, StopDuringANotificationEndsTheCycleWithoutAnotherExchange) {
    // A cycle far longer than the test may take: only a wake on the stop ends it early.
    poller.SetCyclePeriod(60s);
    receiver.onMessage = [&](const Notification& n) {
        if (n.message == WM_STATUS_UPDATE) {
            poller.RequestStop();
        }
    };

    poller.Start();
    ASSERT_TRUE(ProcessEventsUntil([&] { return receiver.Count(WM_STATUS_UPDATE) == 1; }));
    poller.Join();

    EXPECT_EQ(receiver.Transcript(9), "S0:6");
    EXPECT_EQ(session.Shaker().RequestCount(kCodeStatus), 1);
    EXPECT_EQ(session.Shaker().RequestCount(kCodeRunState), 0);
}

TEST_F(StatusPollerTest, JoinOnTheReceiverThreadCancelsTheNotificationItWaitsFor) {
    poller.Start();
    ASSERT_TRUE(WaitWithoutEvents([&] { return session.Shaker().RequestCount(kCodeStatus) >= 1; }));
    std::this_thread::sleep_for(100ms);
    // The poller is held in its status notification, which this thread has not handled.
    EXPECT_EQ(session.Shaker().RequestCount(kCodeRunState), 0);

    poller.RequestStop();
    poller.Join();
    QCoreApplication::processEvents();

    EXPECT_TRUE(receiver.received.empty());
    EXPECT_EQ(session.Shaker().RequestCount(kCodeRunState), 0);
}

// The instrument has gone silent (cable pulled, port open) while the poller waits for its
// status reply, which may take 5 s: a stop cuts that wait short, the poller asks nothing
// more, and the command sent right after the stop is not cut short with it.
TEST_F(StatusPollerTest, AStopCutsTheExchangeInFlightShortAndNotTheNextCommand) {
    session.Shaker().SetSilent(true);
    poller.Start();
    ASSERT_TRUE(WaitWithoutEvents([&] { return session.Shaker().RequestCount(kCodeStatus) >= 1; }));
    std::this_thread::sleep_for(50ms);

    const auto start = std::chrono::steady_clock::now();
    poller.RequestStop();
    poller.Join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(session.Shaker().RequestCount(kCodeRunState), 0);

    session.Shaker().SetSilent(false);
    EXPECT_EQ(CSerialChannel::Instance()->SetSpeed(300), 1);
}

TEST_F(StatusPollerTest, ContextDestroyedWhileANotificationWaitsReleasesThePoller) {
    auto* windowContext = new QObject;
    poller.SetOwner(&receiver, windowContext);
    poller.Start();
    ASSERT_TRUE(WaitWithoutEvents([&] { return session.Shaker().RequestCount(kCodeStatus) >= 1; }));

    delete windowContext;
    EXPECT_TRUE(WaitWithoutEvents([&] { return session.Shaker().RequestCount(kCodeStatus) >= 3; }));
    QCoreApplication::processEvents();
    EXPECT_TRUE(receiver.received.empty());
}

TEST_F(StatusPollerTest, StopStartStormNeverLeavesTwoPollers) {
    // Restarts from a handler replace the very poller that waits for that handler.
    poller.SetCyclePeriod(1ms);
    int restartsFromHandler = 0;
    receiver.onMessage = [&](const Notification& n) {
        if (n.message == WM_RUN_STATE && restartsFromHandler < 20) {
            ++restartsFromHandler;
            poller.RequestStop();
            poller.Start();
            EXPECT_EQ(CStatusPoller::RunningWorkers(), 1);
        }
    };

    for (int round = 0; round < 200; ++round) {
        poller.Start();
        ASSERT_EQ(CStatusPoller::RunningWorkers(), 1);
        if (round % 4 == 0) {
            const long before = receiver.Count(WM_RUN_STATE);
            ASSERT_TRUE(ProcessEventsUntil([&] { return receiver.Count(WM_RUN_STATE) > before; }));
        }
        poller.RequestStop();
        if (round % 5 == 0) {
            poller.Join();
            ASSERT_EQ(CStatusPoller::RunningWorkers(), 0);
        }
    }
    EXPECT_GT(restartsFromHandler, 0);
}
