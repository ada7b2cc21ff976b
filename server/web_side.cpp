#include "server/web_side.h"

#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QHttpServerResponse>
#include <QJsonDocument>
#include <QPointer>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>
#include <QTcpSocket>
#include <map>

#include "run/instrument_models.h"
#include "run/run_history.h"
#include "server/access_control.h"
#include "server/access_guard.h"
#include "server/call_log.h"
#include "server/metrics_text.h"
#include "server/web_headers.h"
#include "server/web_json.h"

namespace {

using Status = QHttpServerResponder::StatusCode;
using Method = QHttpServerRequest::Method;

constexpr std::size_t kShownRuns = 10;
// A sample changes the speed, the time and the count one after the other: one state event
// says it all, and the sample's own event has said most of it already.
constexpr std::chrono::milliseconds kStateEventDelay{250};
// Two days at a sample a second; beyond, the oldest half goes.
constexpr std::size_t kKeptSamples = 172800;

QByteArray Compact(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QHttpServerResponse Refusal(Status status, const QString& why) {
    return QHttpServerResponse(QJsonObject{{"error", why}}, status);
}

QByteArray ReasonPhrase(int status) {
    static const std::map<int, QByteArray> phrases = {
        {200, "OK"},     {400, "Bad Request"}, {401, "Unauthorized"},       {409, "Conflict"},
        {423, "Locked"}, {502, "Bad Gateway"}, {503, "Service Unavailable"}};
    const auto found = phrases.find(status);
    return found == phrases.end() ? QByteArray("Status") : found->second;
}

// An answer written on the request's connection itself, for requests answered later, once the
// engine has answered; nothing when the browser went meanwhile.
void Answer(const QPointer<QTcpSocket>& socket, int status, const QString& text) {
    if (!socket || socket->state() != QAbstractSocket::ConnectedState)
        return;
    const QByteArray body = Compact({{status == 200 ? "ok" : "error", text}});
    QByteArray head =
        "HTTP/1.1 " + QByteArray::number(status) + " " + ReasonPhrase(status) +
        "\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) +
        "\r\n";
    for (const auto& [name, value] : WebSecurityHeaders())
        head += name + ": " + value + "\r\n";
    socket->write(head + "\r\n" + body);
}

// Answers, from the engine's thread, a request whose outcome came there: the line logged, the
// answer queued to the web view's thread.
auto LaterAnswer(QPointer<QObject> side, QPointer<QTcpSocket> to, std::string what) {
    return [side, to, what](std::pair<int, QString> result) {
        CCallLog::Line(what + ": " + result.second.toStdString());
        if (side)
            QMetaObject::invokeMethod(
                side.data(), [to, result] { Answer(to, result.first, result.second); },
                Qt::QueuedConnection);
    };
}

std::string BearerToken(const QHttpServerRequest& request) {
    for (const auto& [name, value] : request.headers()) {
        if (name.compare("Authorization", Qt::CaseInsensitive) == 0 && value.startsWith("Bearer "))
            return value.mid(7).trimmed().toStdString();
    }
    return {};
}

std::string Peer(const QHttpServerRequest& request) {
    QHostAddress address = request.remoteAddress();
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    if (mapped)
        address = QHostAddress(v4);
    return address.toString().toStdString();
}

std::optional<int> IntegerField(const QJsonObject& object, const char* name) {
    const QJsonValue value = object.value(name);
    if (!value.isDouble() || value.toDouble() != static_cast<double>(value.toInt()))
        return std::nullopt;
    return value.toInt();
}

QString RangeText(const SpeedLimits& limits) {
    return QString::number(limits.low) + " and " + QString::number(limits.high);
}

// A start's outcome: 200 and its text when a run started, else the refusal.
std::pair<int, QString> StartAnswer(const StartOutcome& outcome, const InstrumentModel& model) {
    using R = StartOutcome::Result;
    switch (outcome.result) {
        case R::Started:
            return {200, "The run started."};
        case R::NotConnected:
            return {503, "The instrument is not connected."};
        case R::SpeedOutOfRange:
            return {400, "This instrument's speed must be between " +
                             RangeText(outcome.limits.value_or(model.speedField)) + " 1/min."};
        case R::TimeOutOfRange:
            return {400, "The time must be between " +
                             RangeText(outcome.limits.value_or(model.timeField)) + "."};
        case R::Unlisted:
            return {409, "The instrument is of no listed type; no run can be started on it."};
        case R::Refused:
            return {502, "The instrument acknowledged neither the speed nor the time."};
        case R::SpeedRefused:
            return {502, outcome.stopConfirmed
                             ? "The instrument refused the speed and was stopped again."
                             : "The instrument refused the speed and did not confirm the stop "
                               "sent after it: it may be running at its own setpoint."};
        case R::Busy:
            break;
    }
    return {409, "Another start or stop is under way; wait for its end."};
}

std::pair<int, QString> StopAnswer(const StopOutcome& outcome) {
    using R = StopOutcome::Result;
    switch (outcome.result) {
        case R::Confirmed:
            return {200, "The instrument confirmed the stop."};
        case R::NotConfirmed:
            return {502, "The instrument did not confirm the stop: it may run on."};
        case R::NothingSent:
            return {409, "Nothing was sent: there is no speed to stop with."};
        case R::Busy:
            break;
    }
    return {409, "A start or stop is under way; try again when it ends."};
}

}  // namespace

CWebSide::CWebSide(CShakerBackend& backend, CAccessControl& access, std::string journalFolder)
    : m_backend(backend), m_access(access), m_journalFolder(std::move(journalFolder)) {
    m_stateEvent.setSingleShot(true);
    m_stateEvent.setInterval(kStateEventDelay);
    connect(&m_stateEvent, &QTimer::timeout, this, [this] {
        QByteArray state = StateDocument(false);
        if (m_events.Count() > 0 && state != m_lastState)
            m_events.Send("state", state);
        m_lastState = std::move(state);
    });
    Route();
}

std::uint16_t CWebSide::Listen(const CWebView::Options& options, std::string& error) {
    QHostAddress address;
    if (options.host == "localhost")
        address = QHostAddress::LocalHost;
    else if (!address.setAddress(QString::fromStdString(options.host))) {
        error = "the web view's host must be an IP address or localhost: " + options.host;
        return 0;
    }
    if (!options.certificatePem.empty()) {
        const QSslCertificate certificate(QByteArray::fromStdString(options.certificatePem));
        const QByteArray keyPem = QByteArray::fromStdString(options.keyPem);
        QSslKey key(keyPem, QSsl::Ec);
        if (key.isNull())
            key = QSslKey(keyPem, QSsl::Rsa);
        if (certificate.isNull() || key.isNull()) {
            error = "the web view can't use the server's certificate or key";
            return 0;
        }
        m_http.sslSetup(certificate, key);
    }
    const std::uint16_t port = m_http.listen(address, options.port);
    if (port == 0)
        error = "the web view can't listen on " + options.host + ":" + std::to_string(options.port);
    return port;
}

void CWebSide::Changed(const std::optional<CShakerBackend::RunSample>& sample) {
    if (sample) {
        // A sample numbered as an earlier one is the first of a new run.
        if (!m_samples.empty() && sample->number <= m_samples.back().number)
            m_samples.clear();
        if (m_samples.size() >= kKeptSamples)
            m_samples.erase(m_samples.begin(),
                            m_samples.begin() + static_cast<std::ptrdiff_t>(kKeptSamples / 2));
        m_samples.push_back(*sample);
        if (m_events.Count() > 0)
            m_events.Send("sample", Compact(SampleJson(*sample)));
    }
    if (!m_stateEvent.isActive() && m_events.Count() > 0)
        m_stateEvent.start();
}

void CWebSide::Close() {
    m_stateEvent.stop();
    m_events.CloseAll();
    for (QTcpServer* server : m_http.servers())
        server->close();
}

QByteArray CWebSide::StateDocument(bool withSeries) const {
    return Compact(StateJson(m_backend.CurrentState(), m_backend.DeviceInfo(),
                             withSeries ? &m_samples : nullptr, m_access.Guard().TokensRequired()));
}

QByteArray CWebSide::RunsDocument() const {
    return QJsonDocument(RunsJson(ListRuns(m_journalFolder, kShownRuns))).toJson();
}

std::optional<std::string> CWebSide::User(const QHttpServerRequest& request) const {
    const std::string token = BearerToken(request);
    if (!m_access.Guard().TokensRequired() || token.empty())
        return std::nullopt;
    return m_access.Guard().UserOfToken(token);
}

void CWebSide::Route() {
    const auto file = [](const char* name, const char* type) {
        return [name, type] {
            QFile page(QString(":/web/") + name);
            page.open(QIODevice::ReadOnly);
            QHttpServerResponse response(type, page.readAll());
            response.addHeader("Cache-Control", "no-cache");
            return response;
        };
    };
    m_http.route("/", Method::Get, file("index.html", "text/html; charset=utf-8"));
    m_http.route("/view.css", Method::Get, file("view.css", "text/css; charset=utf-8"));
    m_http.route("/view.js", Method::Get, file("view.js", "text/javascript; charset=utf-8"));
    m_http.route("/state", Method::Get,
                 [this] { return QHttpServerResponse("application/json", StateDocument(true)); });
    m_http.route("/runs", Method::Get,
                 [this] { return QHttpServerResponse("application/json", RunsDocument()); });
    m_http.route("/metrics", Method::Get, [this] {
        return QHttpServerResponse("text/plain; version=0.0.4; charset=utf-8",
                                   QByteArray::fromStdString(MetricsText(m_backend.CurrentState(),
                                                                         m_backend.DeviceInfo())));
    });
    m_http.route("/journals/<arg>", Method::Get, [this](const QString& name) {
        // Only a journal's own name: nothing else of the folder, nothing outside it.
        static const QRegularExpression kName("^run-[0-9A-Za-z_.-]+\\.tsv$");
        QFile journal(QString::fromStdString(m_journalFolder) + "/" + name);
        if (!kName.match(name).hasMatch() || QFileInfo(journal).isSymLink() ||
            !journal.open(QIODevice::ReadOnly))
            return Refusal(Status::NotFound, "No such journal.");
        QHttpServerResponse response("text/tab-separated-values; charset=utf-8", journal.readAll());
        response.addHeader("Content-Disposition", "attachment; filename=\"" + name.toUtf8() + "\"");
        return response;
    });
    m_http.route("/events", Method::Get,
                 [this](const QHttpServerRequest&, QHttpServerResponder&& responder) {
                     if (!m_events.Open(responder, CWebEvents::Event("state", StateDocument(true))))
                         responder.write(Status::ServiceUnavailable);
                 });
    m_http.route("/login", Method::Post, [this](const QHttpServerRequest& request) {
        if (!m_access.Guard().TokensRequired())
            return Refusal(Status::Forbidden,
                           "This server has no users, so its view is read-only: an administrator "
                           "adds one with velmora-server --add-user NAME.");
        const QJsonObject body = QJsonDocument::fromJson(request.body()).object();
        const auto check =
            m_access.LogIn(body.value("user").toString().toStdString(),
                           body.value("password").toString().toStdString(), Peer(request));
        if (check.token.empty())
            return Refusal(check.tokenFailed ? Status::ServiceUnavailable : Status::Unauthorized,
                           QString::fromStdString(check.refusal));
        return QHttpServerResponse(QJsonObject{{"token", QString::fromStdString(check.token)}});
    });
    m_http.route("/logout", Method::Post, [this](const QHttpServerRequest& request) {
        m_access.LogOut(BearerToken(request));
        return QHttpServerResponse(QJsonObject{{"ok", "Logged out."}});
    });
    m_http.route("/start", Method::Post,
                 [this](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
                     StartRun(request, responder.socket());
                 });
    m_http.route("/stop", Method::Post,
                 [this](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
                     StopRun(request, responder.socket());
                 });
    m_http.afterRequest([](QHttpServerResponse&& response) {
        for (const auto& [name, value] : WebSecurityHeaders())
            response.addHeader(name, value);
        return std::move(response);
    });
}

void CWebSide::StartRun(const QHttpServerRequest& request, QTcpSocket* socket) {
    const QPointer<QTcpSocket> to(socket);
    const auto user = User(request);
    if (!user)
        return Answer(to, 401, "Log in to start and stop runs.");
    if (m_access.Guard().Locked())
        return Answer(to, 423,
                      "The server is locked by a SiLA client: start the run from it, or unlock "
                      "the server.");
    const QJsonObject body = QJsonDocument::fromJson(request.body()).object();
    const auto speed = IntegerField(body, "speed");
    const auto time = IntegerField(body, "time");
    const CShakerBackend::Device device = m_backend.DeviceInfo();
    if (!device.ready)
        return Answer(to, 503, "The instrument is not identified yet.");
    const InstrumentModel& model = ModelOf(static_cast<DeviceType>(device.type));
    if (!speed || !model.speedField.Contains(*speed))
        return Answer(to, 400,
                      "The speed must be between " + RangeText(model.speedField) + " 1/min.");
    if (!time || !model.timeField.Contains(*time))
        return Answer(to, 400, "The time must be between " + RangeText(model.timeField) + ".");

    const std::string what = "web view: Start speed " + std::to_string(*speed) + " time " +
                             std::to_string(*time) + " by " + *user + " (" + Peer(request) + ")";
    // On the engine's thread from here on; the answer goes back to this thread.
    const auto answer = LaterAnswer(this, to, what);
    CShakerBackend& backend = m_backend;
    m_backend.Post([&backend, &model, answer, who = *user, speed = *speed,
                    time = *time](CRunController* engine) {
        if (!engine)
            return answer({503, "The server is going."});
        if (engine->ConnectionFailed())
            return answer({503, "The instrument is not connected."});
        if (engine->Running())
            return answer({409, "A run is in progress; stop it or wait for its end."});
        engine->SetStartedBy(who + " (web view)");
        backend.StartThen(speed, time,
                          [answer, &model](std::optional<CShakerBackend::StartReply> reply) {
                              if (!reply)
                                  return answer({503, "The server is going."});
                              answer(StartAnswer(reply->outcome, model));
                          });
    });
}

void CWebSide::StopRun(const QHttpServerRequest& request, QTcpSocket* socket) {
    const QPointer<QTcpSocket> to(socket);
    const auto user = User(request);
    if (!user)
        return Answer(to, 401, "Log in to start and stop runs.");
    const std::string what = "web view: Stop by " + *user + " (" + Peer(request) + ")";
    const auto answer = LaterAnswer(this, to, what);
    CShakerBackend& backend = m_backend;
    m_backend.Post([&backend, answer](CRunController* engine) {
        if (!engine)
            return answer({503, "The server is going."});
        backend.StopThen([answer](std::optional<StopOutcome> outcome) {
            if (!outcome)
                return answer({503, "The server is going."});
            answer(StopAnswer(*outcome));
        });
    });
}
