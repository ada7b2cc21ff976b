// velmora-sim: a simulated shaker on a pseudo-terminal, for trying the program without an
// instrument. Prints the port path to open and runs until interrupted.
#include <signal.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>

#include "resources/version.h"
#include "sim/simulated_shaker.h"

namespace {

void PrintUsage(std::FILE* to) {
    std::fprintf(to,
                 "usage: velmora-sim [--id TEXT] [--minutes] [--unit-ms N]\n"
                 "       velmora-sim --help | --version\n"
                 "  --id TEXT     device ID the shaker reports (default KW41-VTX-SIM)\n"
                 "  --minutes     the remaining time counts down once a minute\n"
                 "  --unit-ms N   the remaining time counts down every N ms, 1 to 86400000\n"
                 "                (one day; default 1000)\n"
                 "Prints the port path on one line and runs until SIGINT or SIGTERM.\n");
}

// A day per unit is already far beyond any use; the bound keeps the model's time arithmetic
// (units as nanoseconds, counted over a 16-bit run length) well inside its range.
constexpr long long kLongestUnitMs = 86'400'000;

// A whole decimal number within [lowest, highest]; otherwise says so on one line.
bool ParseBounded(const std::string& option, const char* text, long long lowest, long long highest,
                  long long& value) {
    const char* end = text + std::strlen(text);
    const auto [ptr, ec] = std::from_chars(text, end, value);
    if (ec == std::errc() && ptr == end && value >= lowest && value <= highest) {
        return true;
    }
    std::fprintf(stderr, "velmora-sim: %s takes a whole number from %lld to %lld, not '%s'\n",
                 option.c_str(), lowest, highest, text);
    return false;
}

// False (after saying why) when the command line can't be used.
bool ParseOptions(int argc, char** argv, SimOptions& options, bool& helpOnly, bool& versionOnly) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            helpOnly = true;
            return true;
        }
        if (arg == "--version") {
            versionOnly = true;
            return true;
        }
        if (arg == "--minutes") {
            options.timeUnit = std::chrono::minutes(1);
        } else if (arg == "--id" && i + 1 < argc) {
            options.deviceId = argv[++i];
        } else if (arg == "--unit-ms" && i + 1 < argc) {
            long long ms = 0;
            if (!ParseBounded(arg, argv[++i], 1, kLongestUnitMs, ms)) {
                return false;
            }
            options.timeUnit = std::chrono::milliseconds(ms);
        } else {
            std::fprintf(stderr, "velmora-sim: unknown or incomplete option %s (see --help)\n",
                         arg.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    SimOptions options;
    options.noise = 2;
    // It may run for days; nobody reads the byte stamps of a shaker on the command line.
    options.recordByteStamps = false;
    bool helpOnly = false;
    bool versionOnly = false;
    // One line says what is wrong; --help shows the rest.
    if (!ParseOptions(argc, argv, options, helpOnly, versionOnly)) {
        return 2;
    }
    if (versionOnly) {
        std::printf("velmora-sim %s\n", kVelmoraVersion);
        return 0;
    }
    if (helpOnly) {
        PrintUsage(stdout);
        return 0;
    }

    // Blocked before the responder thread starts, so only sigwait below ever sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    CSimulatedShaker shaker(options);
    if (!shaker.Start()) {
        std::fprintf(stderr, "velmora-sim: no pseudo-terminal available\n");
        return 1;
    }
    std::printf("%s\n", shaker.SlavePath().c_str());
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    shaker.Stop();
    return 0;
}
