#include "server/server_app.h"
#include "notify/notification_settings.h"
#include "notify/webhook_notifier.h"
#include "run/audit_trail.h"

#include <grpcpp/ext/proto_server_reflection_plugin.h>
#include <grpcpp/resource_quota.h>
#include <grpcpp/security/server_credentials.h>
#include <grpcpp/server.h>
#include <grpcpp/server_builder.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <chrono>
#include <optional>
#include <thread>

#include "run/stop_signals.h"
#include "server/access_control.h"
#include "server/call_log.h"
#include "server/cancel_controller_service.h"
#include "server/discovery.h"
#include "server/health_service.h"
#include "server/instrument_source.h"
#include "server/server_identity.h"
#include "server/shaker_backend.h"
#include "server/shaking_controller_service.h"
#include "server/silaservice_service.h"
#include "server/simulation_controller_service.h"
#include "server/stream_gate.h"
#include "server/web_view.h"

namespace {

constexpr const char* kDefaultName = "Velmora Shaker";
// The SiLAService feature only allows a type of letters and digits, so no space.
constexpr const char* kServerType = "VelmoraShaker";
constexpr const char* kDescription =
    "A laboratory shaker: runs at a set speed (1/min) for a set time and reports its speed and "
    "remaining time once a second.";
constexpr const char* kVendorUrl = "https://velmora.org";
// gRPC's in-flight calls get this long to end once the server stops; the streams have been
// ended by then, so only a call the engine is answering can still be under way.
constexpr auto kShutdownGrace = std::chrono::seconds(2);
constexpr int kDefaultPort = 50052;
// Every open stream holds a thread; beyond the streams' cap, threads for the short calls.
constexpr int kMaxThreads = CStreamGate::kMaxStreams + 64;

// SIGTERM and SIGINT arrive on this pair; the event loop reads them.
int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(g_signalPipe[1], &byte, 1);
}

std::string ReadFile(const std::string& path) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().toStdString();
}

std::string HostOf(const std::string& listen) {
    const auto colon = listen.rfind(':');
    return colon == std::string::npos ? listen : listen.substr(0, colon);
}

std::string WithoutBrackets(std::string host) {
    if (host.size() > 1 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    return host;
}

bool IsLoopback(const std::string& host) {
    const std::string bare = WithoutBrackets(host);
    return bare == "localhost" || bare == "::1" || bare.rfind("127.", 0) == 0;
}

// "HOST:PORT", "[V6]:PORT" or "PORT" (on 127.0.0.1); nothing when the port is not 0 to 65535.
std::optional<CWebView::Options> ParseWebAddress(const std::string& text) {
    CWebView::Options web;
    const auto colon = text.rfind(':');
    web.host = colon == std::string::npos ? "127.0.0.1" : WithoutBrackets(text.substr(0, colon));
    const std::string port = colon == std::string::npos ? text : text.substr(colon + 1);
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != port.npos ||
        std::stoi(port) > 65535 || web.host.empty())
        return std::nullopt;
    web.port = static_cast<std::uint16_t>(std::stoi(port));
    return web;
}

}  // namespace

struct CServerApp::Impl {
    Options options;
    CCallLog log;
    CServerIdentity identity{CServerIdentity::DefaultFolder()};
    CDiscovery discovery;
    // Before the backend: its engine is gone before the webhook it tells.
    std::unique_ptr<CWebhookNotifier> webhook;
    std::unique_ptr<CShakerBackend> backend;
    CStreamGate streams;
    std::unique_ptr<CAccessControl> access;
    std::unique_ptr<CSiLAServiceService> silaService;
    std::unique_ptr<CShakingControllerService> shakingService;
    std::unique_ptr<CCancelControllerService> cancelService;
    std::unique_ptr<CSimulationControllerService> simulationService;
    CHealthService health;
    std::unique_ptr<grpc::Server> server;
    std::optional<CWebView::Options> webOptions;
    std::unique_ptr<CWebView> web;

    int Fail(const std::string& why) {
        CCallLog::Line(why);
        return 1;
    }

    // Where to serve and whether calls need tokens: false (and why in the log) when the
    // options would open the instrument to the network without users.
    bool DecideAccess();
    // Starts serving at once, while the instrument is being identified; runs inside the
    // application's event loop.
    void Serve();
    void StopSignal();
    // The orderly end, one step after the other on this thread's event loop: the run in
    // progress is stopped first, so that watchers see it end; then the watchers and the calls
    // end; then the engine lets go of the port and the event loop is left.
    void BeginStop();
    void StopServing();
    void Finish();
    void Quit(int code) {
        exitCode = code;
        QCoreApplication::exit(code);
    }

    bool stopRequested = false;
    bool stopping = false;
    int exitCode = 0;
    // The gRPC server waits for its calls to end, and some of them wait for this thread; so it
    // stops on a thread of its own while this one's event loop goes on.
    std::thread stopper;
};

CServerApp::CServerApp(Options options) : m_impl(std::make_unique<Impl>()) {
    m_impl->log.SetAuditTrail(CAuditTrail::DefaultPath());
    m_impl->options = std::move(options);
}

CServerApp::~CServerApp() = default;

int CServerApp::Run() {
    Impl& d = *m_impl;
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return d.Fail("can't make the signal pipe");
    CatchStopSignals(OnSignal);
    QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, [&d] {
        char byte;
        [[maybe_unused]] const ssize_t n = read(g_signalPipe[0], &byte, 1);
        d.StopSignal();
    });

    if (!d.identity.Load())
        return d.Fail(d.identity.Error());

    // The serial port is held from here to the end, but for a stay in simulation mode; an
    // instrument that can't be connected leaves the server up, answering every command with
    // InstrumentNotConnected.
    auto source = std::make_unique<CInstrumentSource>(d.options.port, d.options.baud);
    if (source->StartsSimulated() && !source->Port(true))
        return d.Fail("can't start the simulated shaker");
    d.backend = std::make_unique<CShakerBackend>(std::move(source));
    d.backend->SetLinkGiveUp(std::chrono::seconds(d.options.reconnectTimeoutS));
    const NotificationSettings notify = LoadNotificationSettings();
    const QUrl webhook = d.options.notify.empty()
                             ? notify.webhook
                             : ParseWebhookUrl(QString::fromStdString(d.options.notify), nullptr);
    if (webhook.isValid()) {
        CWebhookNotifier::Options options;
        options.url = webhook;
        options.events = notify.events;
        d.webhook = std::make_unique<CWebhookNotifier>(options);
        d.backend->SetEventSink(d.webhook.get());
        CCallLog::Line("runs' starts, ends and alarms are posted to " +
                       webhook.toDisplayString().toStdString());
    }
    if (!d.DecideAccess())
        return 1;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&d] { d.Serve(); }, Qt::QueuedConnection);
    QCoreApplication::exec();

    if (d.stopper.joinable())
        d.stopper.join();
    d.server.reset();
    d.backend.reset();
    close(g_signalPipe[0]);
    close(g_signalPipe[1]);
    return d.exitCode;
}

void CServerApp::Impl::StopSignal() {
    if (stopRequested)
        return;
    stopRequested = true;
    // A signal before the server is up is kept until it is.
    if (server)
        BeginStop();
}

bool CServerApp::Impl::DecideAccess() {
    const int users = CountUsers(UserStorePath());
    const bool open = users > 0 || options.noAuth;
    std::string& listen = options.listen;
    if (listen.empty())
        listen = std::string(open ? "0.0.0.0" : "127.0.0.1") + ":" + std::to_string(kDefaultPort);
    const bool loopback = IsLoopback(HostOf(listen));
    if (!open && !loopback) {
        CCallLog::Line("no users are set up, so anyone who reaches " + listen +
                       " could run the shaker: add one with `velmora-server --add-user NAME` "
                       "(clients then log in), or pass --no-auth if the network is closed");
        return false;
    }
    if (users > 0 && !options.noAuth && options.insecure && !loopback) {
        CCallLog::Line(
            "passwords must not travel without TLS: --insecure with users serves on a "
            "loopback address only (--listen 127.0.0.1:PORT)");
        return false;
    }
    if (!options.http.empty()) {
        webOptions = ParseWebAddress(options.http);
        if (!webOptions) {
            CCallLog::Line("--http wants HOST:PORT or PORT, with a port from 0 to 65535: " +
                           options.http);
            return false;
        }
        const bool webLoopback = IsLoopback(webOptions->host);
        if (!open && !webLoopback) {
            CCallLog::Line(
                "no users are set up: the web view serves this machine only "
                "(--http 127.0.0.1:PORT); add a user, or pass --no-auth if the "
                "network is closed");
            return false;
        }
        if (users > 0 && !options.noAuth && options.insecure && !webLoopback) {
            CCallLog::Line(
                "passwords must not travel without TLS: --insecure with users serves "
                "the web view on a loopback address only (--http 127.0.0.1:PORT)");
            return false;
        }
    }
    if (options.noAuth)
        CCallLog::Line("--no-auth: calls need no token; anyone who reaches " + listen +
                       " can run the shaker");
    else if (users == 0)
        CCallLog::Line(
            "no users are set up: serving this machine only; to serve the network, "
            "add a user with `velmora-server --add-user NAME`");
    return true;
}

void CServerApp::Impl::Serve() {
    std::string name = options.name;
    if (name.empty())
        name = identity.StoredName();
    if (name.empty())
        name = kDefaultName;

    access = std::make_unique<CAccessControl>(
        CAccessControl::Options{UserStorePath(), CountUsers(UserStorePath()) > 0 && !options.noAuth,
                                identity.Uuid()},
        log);
    shakingService =
        std::make_unique<CShakingControllerService>(*backend, log, access->Guard(), streams);
    cancelService = std::make_unique<CCancelControllerService>(*backend, log, access->Guard());
    simulationService =
        std::make_unique<CSimulationControllerService>(*backend, log, access->Guard());

    std::shared_ptr<grpc::ServerCredentials> credentials;
    std::string certificatePem;                // announced when the server made it itself
    std::string servedCertificate, servedKey;  // the web view serves with them too
    if (options.insecure) {
        credentials = grpc::InsecureServerCredentials();
    } else {
        grpc::SslServerCredentialsOptions ssl;
        if (!options.certFile.empty()) {
            servedCertificate = ReadFile(options.certFile);
            servedKey = ReadFile(options.keyFile);
        } else {
            if (!identity.LoadOrMakeCertificate(certificatePem, servedKey)) {
                backend->Close();
                return Quit(Fail(identity.Error()));
            }
            servedCertificate = certificatePem;
        }
        ssl.pem_key_cert_pairs.push_back({servedKey, servedCertificate});
        credentials = grpc::SslServerCredentials(ssl);
    }

    silaService = std::make_unique<CSiLAServiceService>(
        CSiLAServiceService::Identity{name, identity.Uuid(), kServerType, kDescription,
                                      VELMORA_VERSION, kVendorUrl},
        log,
        [this](const std::string& newName) {
            discovery.Rename(newName);
            return identity.StoreName(newName);
        },
        access->Guard());

    // Standard tools (grpcurl, grpc_health_probe) work without the .proto files.
    grpc::reflection::InitProtoReflectionServerBuilderPlugin();
    grpc::ServerBuilder builder;
    int boundPort = 0;
    builder.AddListeningPort(options.listen, credentials, &boundPort);
    grpc::ResourceQuota quota("velmora-server");
    quota.SetMaxThreads(kMaxThreads);
    builder.SetResourceQuota(quota);
    // A waiting request thread looks up once a second by default, idle or not; a shutdown
    // wakes it anyway.
    builder.SetSyncServerOption(grpc::ServerBuilder::SyncServerOption::CQ_TIMEOUT_MSEC, 10000);
    builder.RegisterService(silaService.get());
    builder.RegisterService(shakingService.get());
    builder.RegisterService(cancelService.get());
    builder.RegisterService(simulationService.get());
    builder.RegisterService(&health);
    for (grpc::Service* service : access->Services())
        builder.RegisterService(service);
    server = builder.BuildAndStart();
    if (!server || boundPort == 0) {
        backend->Close();
        return Quit(Fail("can't listen on " + options.listen));
    }
    CCallLog::Line("listening on " + HostOf(options.listen) + ":" + std::to_string(boundPort) +
                   (options.insecure ? " without TLS" : " with TLS") + ", server UUID " +
                   identity.Uuid());

    if (webOptions) {
        webOptions->certificatePem = servedCertificate;
        webOptions->keyPem = servedKey;
        web = std::make_unique<CWebView>(*backend, *access);
        std::string why;
        const std::uint16_t webPort = web->Start(*webOptions, why);
        if (webPort == 0) {
            web.reset();
            server->Shutdown();
            backend->Close();
            return Quit(Fail(why));
        }
        const bool v6 = webOptions->host.find(':') != std::string::npos;
        CCallLog::Line(std::string("web view on ") + (options.insecure ? "http" : "https") + "://" +
                       (v6 ? "[" + webOptions->host + "]" : webOptions->host) + ":" +
                       std::to_string(webPort) + "/");
    }

    if (options.discovery) {
        CDiscovery::Announcement announcement;
        announcement.uuid = identity.Uuid();
        announcement.port = boundPort;
        announcement.version = VELMORA_VERSION;
        announcement.name = name;
        announcement.description = kDescription;
        announcement.certificatePem = certificatePem;
        discovery.Start(announcement);
    }
    // The instrument is identified while the server answers: calls that need it are told
    // InstrumentNotReady until then.
    backend->Connect([] {});
    if (stopRequested)
        BeginStop();
}

void CServerApp::Impl::BeginStop() {
    if (stopping)
        return;
    stopping = true;
    CCallLog::Line("stopping");
    discovery.Stop();
    backend->StopAccepting([this] { StopServing(); });
}

void CServerApp::Impl::StopServing() {
    if (!server)
        return Finish();
    // The streams end with OK, from the server itself, before gRPC's grace begins.
    backend->EndWatchers();
    if (web)
        web->Stop();
    stopper = std::thread([this] {
        server->Shutdown(std::chrono::system_clock::now() + kShutdownGrace);
        server->Wait();
        // Crosses threads: the end is queued to the event loop's thread.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [this] { Finish(); }, Qt::QueuedConnection);
    });
}

void CServerApp::Impl::Finish() {
    if (stopper.joinable())
        stopper.join();
    server.reset();
    web.reset();
    backend->Close();
    Quit(0);
}
