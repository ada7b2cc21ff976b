#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>

#include "server_support.h"
#include "web_support.h"

namespace {

constexpr const char* kPassword = "a long enough password";

QJsonObject Json(const HttpReply& reply) {
    return QJsonDocument::fromJson(reply.body).object();
}

// A server on the simulated shaker with its web view, a user, and that user's token.
struct WebServer {
    CServerProcess process;
    QString base;
    QString token;

    bool Start() {
        if (!process.AddUser("ana", kPassword) ||
            !process.Start("simulator", {"--insecure", "--http", "127.0.0.1:0"}))
            return false;
        base = WebViewBase(process);
        token = Json(HttpPost(base + "/login", {{"user", "ana"}, {"password", kPassword}}))["token"]
                    .toString();
        return !token.isEmpty();
    }
    QJsonObject State() { return Json(HttpGet(base + "/state")); }
};

}  // namespace

TEST(WebView, ABrowserFollowsTheRunAndOnlyALoggedInUserControlsIt) {
    WebServer server;
    ASSERT_TRUE(server.Start()) << server.process.Output();
    const QJsonObject run{{"speed", 200}, {"time", 600}};
    EXPECT_EQ(HttpPost(server.base + "/start", run).status, 401);
    EXPECT_EQ(HttpPost(server.base + "/start", run, "not-a-token").status, 401);
    ASSERT_EQ(HttpPost(server.base + "/start", run, server.token).status, 200);

    CHeadlessBrowser browser;
    ASSERT_TRUE(browser.Start()) << browser.Error().toStdString();
    ASSERT_TRUE(browser.Open(server.base + "/")) << browser.Error().toStdString();
    const auto text = [&](const char* id) {
        return browser.Evaluate(QString("document.getElementById('%1').textContent").arg(id))
            .toString();
    };
    const auto points = [&] {
        return browser.Evaluate("document.getElementById('trace').points.numberOfItems").toInt();
    };
    ASSERT_TRUE(WaitUntil([&] { return text("state") == "Running"; }, 30000));
    // Three more samples drawn, each come as its own event after the page was loaded.
    const int loaded = points();
    ASSERT_TRUE(WaitUntil([&] { return points() >= loaded + 3; }, 30000))
        << browser.Error().toStdString();
    EXPECT_TRUE(
        text("instrument").startsWith(server.State()["instrument"].toObject()["id"].toString()));
    EXPECT_GT(text("speed").toInt(), 0);
    EXPECT_TRUE(QRegularExpression("^\\d\\d:\\d\\d$").match(text("remaining")).hasMatch())
        << text("remaining").toStdString();
    EXPECT_EQ(text("setpoint"), "setpoint 200 1/min");
    EXPECT_TRUE(browser.Screenshot(QDir::current().filePath("web_view_desktop.png")));

    // A phone's width: nothing wider than the screen.
    ASSERT_TRUE(browser.SetViewport(390, 844)) << browser.Error().toStdString();
    EXPECT_LE(browser.Evaluate("document.documentElement.scrollWidth").toInt(), 390);
    EXPECT_TRUE(browser.Screenshot(QDir::current().filePath("web_view_phone.png")));

    EXPECT_EQ(HttpPost(server.base + "/stop", {}).status, 401);
    const HttpReply stopped = HttpPost(server.base + "/stop", {}, server.token);
    EXPECT_EQ(stopped.status, 200) << stopped.body.toStdString();
    EXPECT_TRUE(WaitUntil([&] { return text("state") == "Idle"; }, 30000));
    EXPECT_TRUE(server.process.Output().find("web view: Stop by ana") != std::string::npos);
    EXPECT_TRUE(browser.Errors().isEmpty()) << browser.Errors().join("\n").toStdString();
}

TEST(WebView, MetricsParseAsPrometheusTextAndOnlyJournalsCanBeDownloaded) {
    WebServer server;
    ASSERT_TRUE(server.Start()) << server.process.Output();
    ASSERT_EQ(HttpPost(server.base + "/start", {{"speed", 200}, {"time", 2}}, server.token).status,
              200);
    ASSERT_TRUE(WaitUntil(
        [&] {
            const QJsonObject state = server.State();
            return state["state"] == "idle" && state["samples"].toInt() > 0;
        },
        30000));

    const HttpReply metrics = HttpGet(server.base + "/metrics");
    ASSERT_EQ(metrics.status, 200);
    QProcess promtool;
    promtool.start("promtool", {"check", "metrics"});
    ASSERT_TRUE(promtool.waitForStarted(10000)) << "promtool is missing";
    promtool.write(metrics.body);
    promtool.closeWriteChannel();
    ASSERT_TRUE(promtool.waitForFinished(30000));
    EXPECT_EQ(promtool.exitCode(), 0) << promtool.readAll().toStdString() << metrics.body.data();
    EXPECT_TRUE(metrics.body.contains("\nvelmora_runs_total 1\n")) << metrics.body.data();
    EXPECT_TRUE(metrics.body.contains("\nvelmora_state{state=\"idle\"} 1\n"));
    EXPECT_TRUE(metrics.body.contains("\nvelmora_link_up 1\n"));

    const QJsonArray runs = QJsonDocument::fromJson(HttpGet(server.base + "/runs").body).array();
    ASSERT_EQ(runs.size(), 1);
    const QString name = runs[0]["journal"].toString();
    QFile journal(server.process.JournalFolder() + "/" + name);
    ASSERT_TRUE(journal.open(QIODevice::ReadOnly)) << name.toStdString();
    EXPECT_EQ(HttpGet(server.base + "/journals/" + name).body, journal.readAll());

    // Nothing else of the disk: not a file beside the journals, not one outside them.
    QFile::link("/etc/hostname", server.process.JournalFolder() + "/run-link.tsv");
    QFile other(server.process.JournalFolder() + "/notes.tsv");
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    for (const char* path :
         {"/journals/notes.tsv", "/journals/run-link.tsv",
          "/journals/..%2F..%2Fconfig%2Fvelmora%2Fserver-users", "/journals/run-none.tsv"})
        EXPECT_EQ(HttpGet(server.base + QString(path)).status, 404) << path;
}

TEST(WebView, PasswordsNeverCrossTheNetworkWithoutTls) {
    CServerProcess server;
    ASSERT_TRUE(server.AddUser("ana", kPassword));
    EXPECT_FALSE(server.Start("simulator", {"--insecure", "--http", "0.0.0.0:0"}, false));
    EXPECT_TRUE(server.WaitForOutput("passwords must not travel without TLS"));
}
