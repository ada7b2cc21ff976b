// The webhook against a small HTTP listener of the test's own: what it posts, its retries and
// time-out, and a run that goes on whatever the web server does.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <deque>
#include <functional>

#include "notify/webhook_notifier.h"
#include "run/run_controller.h"
#include "sim/simulated_shaker.h"

using namespace std::chrono_literals;

namespace {

bool ProcessEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limit.count()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Answers each request with the next status of its plan (0: never answers), 200 once the plan
// is used up, and keeps every body.
class CHttpListener {
  public:
    explicit CHttpListener(std::deque<int> plan) : m_plan(std::move(plan)) {
        m_server.listen(QHostAddress::LocalHost);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, [this, socket] { Read(socket); });
            }
        });
    }
    QUrl Url() const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/hook").arg(m_server.serverPort()));
    }
    std::vector<QJsonObject> bodies;

  private:
    void Read(QTcpSocket* socket) {
        QByteArray& buffer = m_buffers[socket];
        buffer += socket->readAll();
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0) {
            return;
        }
        const QByteArray head = buffer.left(end).toLower();
        const qsizetype at = head.indexOf("content-length:");
        const int length =
            at < 0 ? 0 : head.mid(at + 15, head.indexOf('\r', at) - at - 15).trimmed().toInt();
        if (buffer.size() < end + 4 + length) {
            return;
        }
        EXPECT_TRUE(head.contains("content-type: application/json"));
        bodies.push_back(QJsonDocument::fromJson(buffer.mid(end + 4, length)).object());
        buffer.remove(0, end + 4 + length);
        const int status = m_plan.empty() ? 200 : m_plan.front();
        if (!m_plan.empty()) {
            m_plan.pop_front();
        }
        if (status != 0) {
            socket->write(QStringLiteral("HTTP/1.1 %1 X\r\nContent-Length: 0\r\n\r\n")
                              .arg(status)
                              .toLatin1());
        }
    }

    QTcpServer m_server;
    std::deque<int> m_plan;
    std::map<QTcpSocket*, QByteArray> m_buffers;
};

RunEvent Event(RunEvent::Kind kind, int samples) {
    RunEvent event;
    event.kind = kind;
    event.time = std::chrono::system_clock::now();
    event.port = "/dev/ttyUSB0";
    event.deviceId = "KW41-VTX-SIM";
    event.deviceType = 1;
    event.speedSetpoint = 300;
    event.samples = samples;
    return event;
}

CWebhookNotifier::Options Quick(const QUrl& url) {
    CWebhookNotifier::Options options;
    options.url = url;
    options.timeout = 300ms;
    options.backOff = 20ms;
    return options;
}

}  // namespace

// A server error or silence is tried again, 3 times at most; the events go in order, and only
// those chosen.
TEST(Webhook, PostsTheChosenEventsInOrderAndRetriesAfterErrorsAndSilence) {
    CHttpListener listener({500, 0, 200, 503, 503, 503, 503});
    auto options = Quick(listener.Url());
    options.events = {RunEvent::Kind::Started, RunEvent::Kind::Alarm};
    CWebhookNotifier notifier(options);
    notifier.OnRunEvent(Event(RunEvent::Kind::Started, 0));
    notifier.OnRunEvent(Event(RunEvent::Kind::Finished, 5));  // not chosen
    RunEvent alarm = Event(RunEvent::Kind::Alarm, 7);
    alarm.alarm = Alarm{AlarmKind::NoReply, "The instrument has not answered for more than 30 s"};
    notifier.OnRunEvent(alarm);
    notifier.OnRunEvent(Event(RunEvent::Kind::Alarm, 8));
    // started: 500, silence, 200; the first alarm: 503 four times, given up; the second: 200.
    ASSERT_TRUE(ProcessEventsUntil([&] { return listener.bodies.size() >= 8; }));
    ProcessEventsUntil([] { return false; }, 500ms);
    ASSERT_EQ(listener.bodies.size(), 8u);
    std::vector<std::string> seen;
    for (const QJsonObject& body : listener.bodies) {
        seen.push_back(body["event"].toString().toStdString() + "/" +
                       std::to_string(body["values"].toObject()["samples"].toInt()));
    }
    EXPECT_EQ(seen,
              (std::vector<std::string>{"run started/0", "run started/0", "run started/0",
                                        "alarm/7", "alarm/7", "alarm/7", "alarm/7", "alarm/8"}));
    const QJsonObject& first = listener.bodies[3];
    EXPECT_EQ(first["instrument"].toObject()["deviceId"].toString(), "KW41-VTX-SIM");
    EXPECT_EQ(first["run"].toObject()["speedSetpoint"].toInt(), 300);
    EXPECT_EQ(first["alarm"].toObject()["kind"].toString(), "no reply");
    EXPECT_FALSE(first["time"].toString().isEmpty());
}

// A web server that never answers holds nothing up: the engine's thread (this one) never waits
// out the webhook's time-out.
TEST(Webhook, ARunGoesOnWhateverTheServerDoes) {
    CHttpListener listener({0, 0});
    CWebhookNotifier::Options options = Quick(listener.Url());
    options.timeout = 3s;
    options.retries = 1;
    CWebhookNotifier notifier(options);
    SimOptions sim;
    sim.timeUnit = 100ms;
    CSimulatedShaker shaker(sim);
    ASSERT_TRUE(shaker.Start());
    QTemporaryDir folder;
    struct Ends : IRunObserver {
        std::optional<RunEnd> ended;
        int samples = 0;
        bool connected = false;
        void SampleRecorded(int, int, int) override { ++samples; }
        void ConnectFinished(const ConnectOutcome&) override { connected = true; }
        void RunEnded(RunEnd why) override { ended = why; }
    } observer;
    CRunController engine(observer);
    engine.SetEventSink(&notifier);
    engine.SetJournalFolder(folder.path().toStdString() + "/runs");
    engine.SetLogDirectory(folder.path().toStdString());
    engine.SetBytePause(0ms);
    engine.SetCyclePeriod(100ms);
    engine.Connect(PortChoice{shaker.SlavePath(), 9600});
    ASSERT_TRUE(ProcessEventsUntil([&] { return observer.connected; }));
    QElapsedTimer sinceTick;
    sinceTick.start();
    qint64 longestGap = 0;
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout,
                     [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
    ticks.start(20);
    engine.Start(300, 10);
    ASSERT_TRUE(ProcessEventsUntil([&] { return observer.ended.has_value(); }));
    EXPECT_EQ(*observer.ended, RunEnd::TimeUp);
    EXPECT_GE(observer.samples, 4);
    EXPECT_LT(longestGap, 2500);
    ASSERT_TRUE(ProcessEventsUntil([&] { return listener.bodies.size() >= 3; }));
    EXPECT_EQ(listener.bodies.back()["event"].toString(), "run finished");
    EXPECT_EQ(listener.bodies.back()["values"].toObject()["endReason"].toString(), "time 0");
    engine.Shutdown();
}
