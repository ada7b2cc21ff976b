// CPU and peak memory of velmora-cli following a whole run against the simulated shaker, as
// getrusage reports them for the child. Real pacing (50 ms a byte), one-second time units;
// against the least the same traffic costs (its start and export included).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_floor.h"
#include "sim/simulated_shaker.h"

extern char** environ;

namespace {

std::string CliPath() {
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / ".." / "cli" /
            "velmora-cli")
        .lexically_normal()
        .string();
}

void BM_CliRun(benchmark::State& state) {
    const int seconds = static_cast<int>(state.range(0));
    CSimulatedShaker shaker;
    if (!shaker.Start()) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    char dataHome[] = "/tmp/velmora-bench-cli-XXXXXX";
    if (mkdtemp(dataHome) == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string cli = CliPath();
    const std::string port = shaker.SlavePath();
    const std::string time = std::to_string(seconds);
    const std::string env = std::string("XDG_DATA_HOME=") + dataHome;
    const std::string out = std::string(dataHome) + "/run.xls";
    // The least the same traffic costs, in this process run (bench_floor.h).
    const double floor = bench_floor::FloorMsPerCycle();
    for (auto _ : state) {
        std::vector<std::string> args = {cli,   "run",    "--port", port,    "--speed",
                                         "300", "--time", time,     "--out", out};
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        std::vector<char*> envp = {const_cast<char*>(env.c_str())};
        for (char** e = environ; *e != nullptr; ++e) {
            envp.push_back(*e);
        }
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        pid_t pid = 0;
        const auto started = std::chrono::steady_clock::now();
        if (posix_spawn(&pid, cli.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) {
            posix_spawn_file_actions_destroy(&actions);
            state.SkipWithError("velmora-cli could not be started");
            return;
        }
        posix_spawn_file_actions_destroy(&actions);
        int status = 0;
        struct rusage usage {};
        wait4(pid, &status, 0, &usage);
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const double cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 +
                           usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
        state.counters["wall_s"] = wall;
        state.counters["cpu_s"] = cpu;
        state.counters["cpu_pct_of_core"] = 100.0 * cpu / wall;
        state.counters["peak_rss_MB"] = usage.ru_maxrss / 1024.0;
        state.counters["floor_ms/s"] = floor;
        state.counters["cli_ms/s"] = 1000.0 * cpu / wall;
        state.counters["cli/floor"] = 1000.0 * cpu / wall / floor;
        state.counters["exit_code"] = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::filesystem::remove_all(dataHome);
}

}  // namespace

BENCHMARK(BM_CliRun)->Arg(60)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
