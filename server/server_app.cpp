#include "server/server_app.h"

#include <grpcpp/security/server_credentials.h>
#include <grpcpp/server.h>
#include <grpcpp/server_builder.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <chrono>
#include <thread>

#include "run/stop_signals.h"
#include "server/call_log.h"
#include "server/discovery.h"
#include "server/server_identity.h"
#include "server/shaker_backend.h"
#include "server/shaking_controller_service.h"
#include "server/silaservice_service.h"
#include "sim/simulated_shaker.h"

namespace {

constexpr const char* kDefaultName = "Velmora Shaker";
// The SiLAService feature only allows a type of letters and digits, so no space.
constexpr const char* kServerType = "VelmoraShaker";
constexpr const char* kDescription =
    "A laboratory shaker: runs at a set speed (1/min) for a set time and reports its speed and "
    "remaining time once a second.";
constexpr const char* kVendorUrl = "https://velmora.org";
// gRPC's in-flight calls get this long to end once the server stops.
constexpr auto kShutdownGrace = std::chrono::seconds(2);

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

}  // namespace

struct CServerApp::Impl {
    Options options;
    CCallLog log;
    CServerIdentity identity{CServerIdentity::DefaultFolder()};
    CDiscovery discovery;
    std::unique_ptr<CSimulatedShaker> simulator;
    std::chrono::milliseconds simUnit{1000};
    std::unique_ptr<CShakerBackend> backend;
    std::unique_ptr<CSiLAServiceService> silaService;
    std::unique_ptr<CShakingControllerService> shakingService;
    std::unique_ptr<grpc::Server> server;

    // "--port simulator": the simulated shaker the window offers as "Simulator", in this
    // process. VELMORA_SIM_UNIT_MS sets its time unit in ms (a test seam: short runs).
    bool StartSimulator(std::string& port) {
        SimOptions simOptions;
        simOptions.noise = 2;
        if (const int unitMs = qEnvironmentVariableIntValue("VELMORA_SIM_UNIT_MS"); unitMs > 0)
            simUnit = std::chrono::milliseconds(unitMs);
        simOptions.timeUnit = simUnit;
        simulator = std::make_unique<CSimulatedShaker>(simOptions);
        if (!simulator->Start())
            return false;
        port = simulator->SlavePath();
        return true;
    }

    int Fail(const std::string& why) {
        CCallLog::Line(why);
        return 1;
    }

    // The instrument has answered or failed to: the rest of start-up, then serving until a
    // stop signal. Runs inside the application's event loop.
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

    bool connecting = true;
    bool stopRequested = false;
    bool stopping = false;
    int exitCode = 0;
    // The gRPC server waits for its calls to end, and some of them wait for this thread; so it
    // stops on a thread of its own while this one's event loop goes on.
    std::thread stopper;
};

CServerApp::CServerApp(Options options) : m_impl(std::make_unique<Impl>()) {
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

    // The serial port is held from here to the end; an instrument that can't be connected
    // leaves the server up, answering every command with InstrumentNotConnected.
    std::string port = d.options.port;
    const bool simulated =
        QString::fromStdString(port).compare("simulator", Qt::CaseInsensitive) == 0;
    if (simulated && !d.StartSimulator(port))
        return d.Fail("can't start the simulated shaker");
    d.backend = std::make_unique<CShakerBackend>(PortChoice{port, d.options.baud});
    if (simulated)
        d.backend->SetTimeUnit(d.simUnit);
    d.backend->SetLinkGiveUp(std::chrono::seconds(d.options.reconnectTimeoutS));
    d.backend->Connect([&d] { d.Serve(); });
    QCoreApplication::exec();

    if (d.stopper.joinable())
        d.stopper.join();
    d.server.reset();
    d.backend.reset();
    d.simulator.reset();
    close(g_signalPipe[0]);
    close(g_signalPipe[1]);
    return d.exitCode;
}

void CServerApp::Impl::StopSignal() {
    if (stopRequested)
        return;
    stopRequested = true;
    // A signal during the connection is kept for its end.
    if (!connecting)
        BeginStop();
}

void CServerApp::Impl::Serve() {
    connecting = false;
    shakingService = std::make_unique<CShakingControllerService>(*backend, log);
    std::string name = options.name;
    if (name.empty())
        name = identity.StoredName();
    if (name.empty())
        name = kDefaultName;

    std::shared_ptr<grpc::ServerCredentials> credentials;
    std::string certificatePem;  // announced when the server made it itself
    if (options.insecure) {
        credentials = grpc::InsecureServerCredentials();
    } else {
        grpc::SslServerCredentialsOptions ssl;
        std::string keyPem;
        if (!options.certFile.empty()) {
            ssl.pem_key_cert_pairs.push_back(
                {ReadFile(options.keyFile), ReadFile(options.certFile)});
        } else {
            if (!identity.LoadOrMakeCertificate(certificatePem, keyPem)) {
                backend->Close();
                return Quit(Fail(identity.Error()));
            }
            ssl.pem_key_cert_pairs.push_back({keyPem, certificatePem});
        }
        credentials = grpc::SslServerCredentials(ssl);
    }

    silaService = std::make_unique<CSiLAServiceService>(
        CSiLAServiceService::Identity{name, identity.Uuid(), kServerType, kDescription,
                                      VELMORA_VERSION, kVendorUrl},
        log, [this](const std::string& newName) {
            discovery.Rename(newName);
            return identity.StoreName(newName);
        });

    grpc::ServerBuilder builder;
    int boundPort = 0;
    builder.AddListeningPort(options.listen, credentials, &boundPort);
    builder.RegisterService(silaService.get());
    builder.RegisterService(shakingService.get());
    server = builder.BuildAndStart();
    if (!server || boundPort == 0) {
        backend->Close();
        return Quit(Fail("can't listen on " + options.listen));
    }
    CCallLog::Line("listening on " + HostOf(options.listen) + ":" + std::to_string(boundPort) +
                   (options.insecure ? " without TLS" : " with TLS") + ", server UUID " +
                   identity.Uuid());

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
    backend->Close();
    Quit(0);
}
