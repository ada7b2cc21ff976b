#include <CLI/CLI.hpp>
#include <QCoreApplication>
#include <cstdio>

#include "notify/notification_settings.h"
#include "resources/version.h"
#include "server/access_control.h"
#include "server/client_text.h"
#include "server/server_app.h"
#include "server/user_admin.h"
#include "server/user_file.h"

namespace {

constexpr int kExitUsage = 2;

const CLI::Validator kUserName(
    [](std::string& name) {
        return IsValidUserName(name) ? std::string()
                                     : "a user name has 1 to 64 letters, digits, '.', '_' or '-'";
    },
    "NAME");

}  // namespace

int main(int argc, char** argv) {
    CServerApp::Options options;
    CLI::App cli{"velmora-server: the shaker as a SiLA 2 server"};
    cli.set_version_flag("--version", std::string("velmora-server ") + kVelmoraVersion);
    auto* port = cli.add_option(
        "--port", options.port,
        "serial port of the instrument (a device path, COMn, or 'simulator'); needed to serve");
    cli.add_option("--baud", options.baud, "baud rate")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    cli.add_option("--listen", options.listen,
                   "address and port to serve on (HOST:PORT; default 127.0.0.1:50052 without "
                   "users, 0.0.0.0:50052 with users)");
    cli.add_option("--name", options.name, "the server's name (default: the name last set)")
        ->check(
            [](const std::string& name) -> std::string {
                const auto length = PlainTextLength(name);
                if (!length || *length == 0 || *length > 255)
                    return "the name must be 1 to 255 characters of text, without control "
                           "characters";
                return {};
            },
            "NAME");
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
    cli.add_option("--notify", options.notify,
                   "POST runs' starts, ends and alarms as JSON to this http(s) URL")
        ->check([](const std::string& text) {
            QString error;
            return ParseWebhookUrl(QString::fromStdString(text), &error).isValid()
                       ? std::string()
                       : error.toStdString();
        });
    cli.add_option("--http", options.http,
                   "serve the live web view and /metrics on HOST:PORT (or PORT, on 127.0.0.1); "
                   "with TLS unless --insecure");
    bool noDiscovery = false;
    cli.add_flag("--no-discovery", noDiscovery, "don't announce the server by mDNS/DNS-SD");
    cli.add_flag("--no-auth", options.noAuth, "calls need no token; only for a closed network");

    std::string addUser, removeUser;
    bool listUsers = false, passwordStdin = false;
    auto* add = cli.add_option("--add-user", addUser,
                               "add a user (or change its password), asking for the password, "
                               "then exit")
                    ->check(kUserName);
    auto* remove =
        cli.add_option("--remove-user", removeUser, "remove a user, then exit")->check(kUserName);
    auto* list = cli.add_flag("--list-users", listUsers, "list the users' names, then exit");
    cli.add_flag("--password-stdin", passwordStdin,
                 "--add-user reads the password from one line of standard input")
        ->needs(add);
    add->excludes(remove)->excludes(list);
    remove->excludes(list);

    try {
        cli.parse(argc, argv);
        if (add->count() == 0 && remove->count() == 0 && !listUsers && port->count() == 0)
            throw CLI::RequiredError(port->get_name());
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0)
            return cli.exit(error);
        std::fprintf(stderr, "velmora-server: %s (see velmora-server --help)\n", error.what());
        return kExitUsage;
    }

    if (add->count() > 0)
        return AddUserCommand(UserStorePath(), addUser, passwordStdin);
    if (remove->count() > 0)
        return RemoveUserCommand(UserStorePath(), removeUser);
    if (listUsers)
        return ListUsersCommand(UserStorePath());

    options.discovery = !noDiscovery;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("velmora-server");
    CServerApp server(std::move(options));
    return server.Run();
}
