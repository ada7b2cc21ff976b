#include "web_support.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTimer>

namespace {

constexpr int kWaitMs = 30000;

HttpReply Wait(QNetworkReply* reply) {
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(kWaitMs, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    HttpReply answer;
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.body = reply->readAll();
    answer.contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
    reply->deleteLater();
    return answer;
}

QNetworkAccessManager& Network() {
    static QNetworkAccessManager network;
    return network;
}

// Lets the event loop run until `done` or the deadline.
template <typename Done>
bool Pump(Done done, int limitMs = kWaitMs) {
    const QDeadlineTimer deadline(limitMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

}  // namespace

HttpReply HttpGet(const QString& url) {
    return Wait(Network().get(QNetworkRequest(QUrl(url))));
}

HttpReply HttpPost(const QString& url, const QJsonObject& body, const QString& token) {
    QNetworkRequest request{QUrl(url)};
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    if (!token.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    return Wait(Network().post(request, QJsonDocument(body).toJson()));
}

QString WebViewBase(CServerProcess& server) {
    server.WaitForOutput("web view on ");
    static const QRegularExpression line("web view on (http://127\\.0\\.0\\.1:\\d+)/");
    return line.match(QString::fromStdString(server.Output())).captured(1);
}

CHeadlessBrowser::~CHeadlessBrowser() {
    m_socket.abort();
    if (m_chromium.state() != QProcess::NotRunning) {
        m_chromium.kill();
        m_chromium.waitForFinished(5000);
    }
}

bool CHeadlessBrowser::Start() {
    // No sandbox: the tests may run as root in a container, where chromium's needs namespaces.
    m_chromium.start("chromium",
                     {"--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                      "--no-first-run", "--hide-scrollbars", "--remote-debugging-port=0",
                      "--user-data-dir=" + m_profile.path(), "about:blank"});
    if (!m_chromium.waitForStarted(10000)) {
        m_error = "can't start chromium";
        return false;
    }
    static const QRegularExpression listening("DevTools listening on ws://127\\.0\\.0\\.1:(\\d+)/");
    QByteArray output;
    QRegularExpressionMatch match;
    if (!Pump([&] {
            output += m_chromium.readAllStandardError();
            match = listening.match(QString::fromUtf8(output));
            return match.hasMatch() || m_chromium.state() == QProcess::NotRunning;
        }) ||
        !match.hasMatch()) {
        m_error = "chromium opened no DevTools port: " + QString::fromUtf8(output.right(2000));
        return false;
    }
    const QString pages = "http://127.0.0.1:" + match.captured(1) + "/json/list";
    QString page;
    Pump([&] {
        for (const QJsonValue target : QJsonDocument::fromJson(HttpGet(pages).body).array()) {
            if (target["type"].toString() == "page")
                page = target["webSocketDebuggerUrl"].toString();
        }
        return !page.isEmpty();
    });
    QObject::connect(&m_socket, &QWebSocket::textMessageReceived,
                     [this](const QString& message) { Received(message); });
    m_socket.open(QUrl(page));
    if (!Pump([&] { return m_socket.state() == QAbstractSocket::ConnectedState; })) {
        m_error = "can't reach chromium's page " + page;
        return false;
    }
    return !Call("Runtime.enable").isEmpty() && !Call("Log.enable").isEmpty() &&
           !Call("Page.enable").isEmpty();
}

bool CHeadlessBrowser::Open(const QString& url) {
    return !Call("Page.navigate", {{"url", url}}).isEmpty();
}

QJsonValue CHeadlessBrowser::Evaluate(const QString& expression) {
    const QJsonObject result =
        Call("Runtime.evaluate", {{"expression", expression}, {"returnByValue", true}});
    return result["result"].toObject()["value"];
}

bool CHeadlessBrowser::SetViewport(int width, int height) {
    return !Call("Emulation.setDeviceMetricsOverride", {{"width", width},
                                                        {"height", height},
                                                        {"deviceScaleFactor", 1},
                                                        {"mobile", width < 600}})
                .isEmpty();
}

bool CHeadlessBrowser::Screenshot(const QString& path) {
    const QJsonObject shot = Call("Page.captureScreenshot", {{"format", "png"}});
    QFile file(path);
    return !shot.isEmpty() && file.open(QIODevice::WriteOnly) &&
           file.write(QByteArray::fromBase64(shot["data"].toString().toLatin1())) > 0;
}

QJsonObject CHeadlessBrowser::Call(const QString& method, const QJsonObject& params) {
    const int id = ++m_lastId;
    m_socket.sendTextMessage(QString::fromUtf8(
        QJsonDocument(QJsonObject{{"id", id}, {"method", method}, {"params", params}})
            .toJson(QJsonDocument::Compact)));
    if (!Pump([&] { return m_replies.count(id) > 0; })) {
        m_error = method + " got no answer";
        return {};
    }
    const QJsonObject reply = m_replies[id];
    m_replies.erase(id);
    if (reply.contains("error")) {
        m_error = method + ": " + QJsonDocument(reply["error"].toObject()).toJson();
        return {};
    }
    // An empty result is a success too: its object holds a marker so that callers can tell.
    QJsonObject result = reply["result"].toObject();
    result.insert("_answered", true);
    return result;
}

void CHeadlessBrowser::Received(const QString& message) {
    const QJsonObject event = QJsonDocument::fromJson(message.toUtf8()).object();
    if (event.contains("id")) {
        m_replies[event["id"].toInt()] = event;
        return;
    }
    const QString method = event["method"].toString();
    const QJsonObject params = event["params"].toObject();
    if (method == "Runtime.exceptionThrown")
        m_errors << "exception: " + params["exceptionDetails"]
                                        .toObject()["exception"]
                                        .toObject()["description"]
                                        .toString();
    else if (method == "Runtime.consoleAPICalled" &&
             (params["type"].toString() == "error" || params["type"].toString() == "assert"))
        m_errors << "console: " + QJsonDocument(params["args"].toArray()).toJson();
    else if (method == "Log.entryAdded" && params["entry"].toObject()["level"] == "error")
        m_errors << "log: " + params["entry"].toObject()["text"].toString() + " " +
                        params["entry"].toObject()["url"].toString();
}
