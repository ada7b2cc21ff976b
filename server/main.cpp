#include <CLI/CLI.hpp>
#include <QCoreApplication>

#include "resources/version.h"
#include "server/server_app.h"

int main(int argc, char** argv) {
    CServerApp::Options options;
    CLI::App cli{"velmora-server: the shaker as a SiLA 2 server"};
    cli.set_version_flag("--version", std::string("velmora-server ") + kVelmoraVersion);
    cli.add_option("--port", options.port,
                   "serial port of the instrument (a device path, COMn, or 'simulator')")
        ->required();
    cli.add_option("--baud", options.baud, "baud rate")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    cli.add_option("--listen", options.listen, "address and port to serve on (HOST:PORT)")
        ->capture_default_str();
    cli.add_option("--name", options.name, "the server's name (default: the name last set)");
    auto* insecure = cli.add_flag("--insecure", options.insecure, "serve without TLS");
    auto* cert = cli.add_option("--cert", options.certFile, "PEM certificate (chain) to serve with")
                     ->check(CLI::ExistingFile);
    auto* key = cli.add_option("--key", options.keyFile, "PEM private key of --cert")
                    ->check(CLI::ExistingFile);
    cert->needs(key);
    key->needs(cert);
    insecure->excludes(cert)->excludes(key);
    cli.add_option("--reconnect-timeout", options.reconnectTimeoutS,
                   "seconds a run's link may stay down before the run is given up (0: never)")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    bool noDiscovery = false;
    cli.add_flag("--no-discovery", noDiscovery, "don't announce the server by mDNS/DNS-SD");
    CLI11_PARSE(cli, argc, argv);
    options.discovery = !noDiscovery;

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("velmora-server");
    CServerApp server(std::move(options));
    return server.Run();
}
