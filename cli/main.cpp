// velmora-cli: the shaker from a terminal and from scripts, on the window's run engine.
#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>

#include "cli/cli_options.h"
#include "cli/cli_session.h"
#include "cli/interrupt_watch.h"
#include "cli/port_listing.h"
#include "cli/records_commands.h"
#include "link/port_name.h"
#include "notify/notification_settings.h"
#include "resources/version.h"
#include "run/atomic_file_writer.h"
#include "run/audit_trail.h"
#include "run/instrument_models.h"
#include "run/printable_text.h"

namespace {

constexpr const char* kFooter =
    "Exit codes:\n"
    "  0    done; for run: the run ended (time 0, or the instrument stopped)\n"
    "  1    a usage error, or --out could not be written\n"
    "  2    the port could not be opened, the instrument didn't answer, or a stop\n"
    "       was not confirmed\n"
    "  3    the instrument refused the run, or the speed is outside its limits\n"
    "  4    the instrument is of no listed type\n"
    "  5    the link was lost and did not come back within --reconnect-timeout\n"
    "  6    the run ended but its journal is incomplete (samples missing)\n"
    "  7    audit verify, verify: the record was altered (the line is named), or\n"
    "       the journal is not signed by the --key given\n"
    "  8    run: an alarm was raised (speed off its setpoint, no reply, an early\n"
    "       end); each is printed as it comes (\"alarm\" lines with --json)\n"
    "  9    verify: the run never ended, or its journal has no seal\n"
    "  130  interrupted (SIGINT, SIGTERM): a run is stopped first; a second\n"
    "       interrupt exits at once without stopping the instrument\n"
    "The port \"simulator\" starts a simulated shaker inside the program.";

// One line on standard error; false.
bool Refuse(const std::string& line) {
    std::fprintf(stderr, "velmora-cli: %s\n", line.c_str());
    return false;
}

// A port must be a device that exists; what can't be opened is found out by opening it.
bool CheckPort(const std::string& port) {
    if (port == kSimulatorPort) {
        return true;
    }
    const std::string path = SerialDevicePath(port);
    if (path.empty()) {
        return Refuse("--port: give a device path, a /dev name, COMn or simulator");
    }
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return Refuse("--port: " + path +
                          " does not exist (velmora-cli ports lists the "
                          "serial devices)");
        }
        return true;
    }
    if (S_ISREG(status.st_mode)) {
        return Refuse("--port: " + path + " is a regular file, not a serial device");
    }
    if (!S_ISCHR(status.st_mode)) {
        return Refuse("--port: " + path + " is not a serial device");
    }
    return true;
}

bool CheckOutOption(const std::string& option, const std::string& out) {
    if (out.empty()) {
        return true;
    }
    std::error_code error;
    const std::filesystem::path path(out);
    if (std::filesystem::is_directory(path, error)) {
        return Refuse(option + ": " + out + " is a folder");
    }
    const std::filesystem::path folder =
        path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    if (!std::filesystem::is_directory(folder, error)) {
        return Refuse(option + ": the folder " + folder.string() + " does not exist");
    }
    // A FIFO, a read-only file or folder, a name too long, a link the kernel would not follow:
    // found now, not after a run whose samples then have nowhere to go.
    if (const auto problem = WriteTargetProblem(out)) {
        return Refuse(option + ": " + *problem);
    }
    return true;
}

bool CheckOut(const std::string& out) {
    return CheckOutOption("--out", out);
}

// A whole decimal number within [lowest, highest], said in one line when it is not.
CLI::Validator WholeNumber(long long lowest, long long highest) {
    return CLI::Validator(
        [lowest, highest](std::string& text) -> std::string {
            long long value = 0;
            const char* end = text.data() + text.size();
            const auto [ptr, ec] = std::from_chars(text.data(), end, value);
            if (ec != std::errc() || ptr != end || text.empty()) {
                return "'" + text + "' is not a whole number";
            }
            if (value < lowest || value > highest) {
                return text + " is outside " + std::to_string(lowest) + " to " +
                       std::to_string(highest);
            }
            return {};
        },
        "INT in " + std::to_string(lowest) + " to " + std::to_string(highest));
}

// The values an entry accepts for any instrument: the instrument's own limits are checked once
// it is known.
SpeedLimits FieldBounds(SpeedLimits InstrumentModel::*field) {
    SpeedLimits bounds = InstrumentModels().front().*field;
    for (const InstrumentModel& model : InstrumentModels()) {
        bounds.low = std::min(bounds.low, (model.*field).low);
        bounds.high = std::max(bounds.high, (model.*field).high);
    }
    return bounds;
}

std::string RangeText(SpeedLimits range) {
    return std::to_string(range.low) + " to " + std::to_string(range.high);
}

CLI::Option* AddPortOptions(CLI::App& command, CliOptions& options) {
    command.add_option("--port", options.port, "a device path, a /dev name, COMn or simulator")
        ->required();
    return command.add_option("--baud", options.baud, "baud rate of the instrument (default 9600)")
        ->check(WholeNumber(1, 4'000'000));
}

// The first word that names no command where one is expected ("frobnicate", "audit frob"):
// left to the parser it would only hear that a command is required.
std::string UnknownCommand(CLI::App& app, int argc, char** argv) {
    CLI::App* level = &app;
    for (int i = 1; i < argc && !level->get_subcommands({}).empty(); ++i) {
        const std::string word = argv[i];
        if (word.empty() || word[0] == '-') {
            return {};
        }
        CLI::App* found = nullptr;
        for (CLI::App* command : level->get_subcommands({})) {
            if (command->get_name() == word) {
                found = command;
            }
        }
        if (found == nullptr) {
            return PrintableText(word);
        }
        level = found;
    }
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    CliOptions options;
    int speed = 0;
    const SpeedLimits speedField = FieldBounds(&InstrumentModel::speedField);
    const SpeedLimits timeField = FieldBounds(&InstrumentModel::timeField);
    CLI::App app{"velmora-cli: run the laboratory shaker from a terminal or a script",
                 "velmora-cli"};
    app.set_version_flag("--version", std::string("velmora-cli ") + kVelmoraVersion);
    app.require_subcommand(1, 1);
    app.footer(kFooter);
    // Within 80 columns: the descriptions start early enough to fit beside the options.
    app.get_formatter()->column_width(26);

    CLI::App* ports = app.add_subcommand("ports", "list the serial devices (and the simulator)");
    ports->add_flag("--json", options.json, "one JSON array");

    CLI::App* identify = app.add_subcommand("identify", "device ID, type, limits and setpoints");
    AddPortOptions(*identify, options);
    identify->add_flag("--json", options.json, "one JSON object");

    CLI::App* run = app.add_subcommand("run", "run at a speed for a time, follow it, save it");
    AddPortOptions(*run, options);
    run->add_option("--speed", speed,
                    "1/min, " + RangeText(speedField) + ", within the type's limits")
        ->required()
        ->check(WholeNumber(speedField.low, speedField.high));
    run->add_option("--time", options.time, "in the instrument's units, " + RangeText(timeField))
        ->required()
        ->check(WholeNumber(timeField.low, timeField.high));
    run->add_option("--out", options.out, "write the samples here at the end (as Save does)");
    run->add_flag("--json", options.json, "one JSON line per sample");
    run->add_option("--notify", options.notify, "POST start, end and alarms as JSON to this URL");
    run->add_option("--reconnect-timeout", options.reconnectTimeoutS,
                    "seconds for a lost link to come back (default 60)")
        ->check(WholeNumber(0, 86400));

    CLI::App* stop = app.add_subcommand("stop", "stop the instrument, then show its setpoints");
    AddPortOptions(*stop, options);
    CLI::Option* stopSpeed =
        stop->add_option("--speed", speed,
                         "to send, " + RangeText(speedField) + " (default: its setpoint)")
            ->check(WholeNumber(speedField.low, speedField.high));

    std::string trail = CAuditTrail::DefaultPath();
    std::string since;
    std::string journal;
    std::string key;
    std::string pdf;
    CLI::App* audit = app.add_subcommand("audit", "the audit trail: check its chain, show it");
    audit->require_subcommand(1, 1);
    CLI::App* auditVerify =
        audit->add_subcommand("verify", "check the chain and name the first bad line");
    CLI::App* auditShow = audit->add_subcommand("show", "the trail's lines, oldest first");
    for (CLI::App* command : {auditVerify, auditShow}) {
        command->add_option("file", trail, "default: $XDG_DATA_HOME/velmora/audit.jsonl");
    }
    auditShow->add_option("--since", since, "from this date (2026-12-09) or time (…T10:00)");
    auditShow->add_flag("--json", options.json, "the lines as written, one JSON object each");

    CLI::App* verify =
        app.add_subcommand("verify", "is a journal sealed, signed by whom, altered where");
    verify->add_option("journal", journal, "the run's journal (.tsv)")->required();
    verify->add_option("--key", key, "accept only this public key (base64, or a file)");

    CLI::App* keyCommand =
        app.add_subcommand("key", "print your public signing key (made if none)");

    CLI::App* report = app.add_subcommand("report", "make the PDF report of a run's journal");
    report->add_option("journal", journal, "the run's journal (.tsv)")->required();
    report->add_option("--pdf", pdf, "the report's file")->required();

    for (CLI::App* command : {ports, identify, run, stop, audit, verify, keyCommand, report}) {
        command->footer("Exit codes: see velmora-cli --help.");
    }
    if (const std::string unknown = UnknownCommand(app, argc, argv); !unknown.empty()) {
        std::fprintf(stderr, "velmora-cli: unknown command '%s'; see velmora-cli --help\n",
                     unknown.c_str());
        return kExitUsage;
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) {
            return app.exit(error);
        }
        std::fprintf(stderr, "velmora-cli: %s (see velmora-cli --help)\n", error.what());
        return kExitUsage;
    }

    if (auditVerify->parsed()) {
        return AuditVerifyCommand(trail);
    }
    if (auditShow->parsed()) {
        return AuditShowCommand(trail, since, options.json);
    }
    if (verify->parsed()) {
        return VerifyCommand(journal, key);
    }
    if (keyCommand->parsed()) {
        return KeyCommand();
    }
    if (report->parsed()) {
        return CheckOutOption("--pdf", pdf) ? ReportCommand(argc, argv, journal, pdf) : kExitUsage;
    }
    if (ports->parsed()) {
        options.command = CliOptions::Command::Ports;
    } else if (identify->parsed()) {
        options.command = CliOptions::Command::Identify;
    } else if (run->parsed()) {
        options.command = CliOptions::Command::Run;
        options.speed = speed;
    } else {
        options.command = CliOptions::Command::Stop;
        if (stopSpeed->count() > 0) {
            options.speed = speed;
        }
    }
    if (options.command != CliOptions::Command::Ports &&
        (!CheckPort(options.port) || !CheckOut(options.out))) {
        return kExitUsage;
    }
    if (!options.notify.empty()) {
        QString error;
        if (!ParseWebhookUrl(QString::fromStdString(options.notify), &error).isValid()) {
            std::fprintf(stderr, "velmora-cli: --notify: %s\n", qPrintable(error));
            return kExitUsage;
        }
    }

    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velmora-cli"));
    if (options.command == CliOptions::Command::Ports) {
        std::fputs(FormatPortList(ListPorts(), options.json).c_str(), stdout);
        return kExitOk;
    }
    CInterruptWatch interrupts;
    CCliSession session(options);
    QObject::connect(&interrupts, &CInterruptWatch::Interrupted, &session, &CCliSession::Interrupt);
    QObject::connect(&interrupts, &CInterruptWatch::Abandoned, &session, &CCliSession::Abandon);
    QTimer::singleShot(0, &session, &CCliSession::Begin);
    return QCoreApplication::exec();
}
