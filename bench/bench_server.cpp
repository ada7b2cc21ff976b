// velmora-server seen from a client on the same machine: how long a property read and the
// first intermediate response of a run take, and what the server costs in CPU idle and during
// a run. The server runs as a child process on the simulated shaker, without TLS.
#include <benchmark/benchmark.h>
#include <grpcpp/grpcpp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "ShakingController.grpc.pb.h"
#include "bench/bench_floor.h"
#include "sim/simulated_shaker.h"

namespace sc = sila2::org::velmora::instruments::shakingcontroller::v1;
namespace fw = sila2::org::silastandard;

namespace {

// One server for all the benchmarks, on a shaker of this process.
class CBenchServer {
  public:
    static CBenchServer& Get() {
        static CBenchServer server;
        return server;
    }
    bool Ok() const { return m_pid > 0 && m_port > 0; }
    sc::ShakingController::Stub& Stub() { return *m_stub; }
    pid_t Pid() const { return m_pid; }

    ~CBenchServer() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }

  private:
    CBenchServer() {
        if (!m_shaker.Start())
            return;
        char folder[] = "/tmp/velmora-bench-XXXXXX";
        if (!mkdtemp(folder))
            return;
        int pipeFds[2];
        if (pipe(pipeFds) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            setenv("XDG_DATA_HOME", folder, 1);
            setenv("XDG_STATE_HOME", folder, 1);
            dup2(pipeFds[1], STDERR_FILENO);
            close(pipeFds[0]);
            const std::string port = m_shaker.SlavePath();
            execl(VELMORA_SERVER_EXE, "velmora-server", "--port", port.c_str(), "--listen",
                  "127.0.0.1:0", "--insecure", "--no-discovery", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(pipeFds[1]);
        FILE* log = fdopen(pipeFds[0], "r");
        char line[512];
        const std::regex listening("listening on 127\\.0\\.0\\.1:(\\d+)");
        while (log && std::fgets(line, sizeof line, log)) {
            std::cmatch match;
            if (std::regex_search(line, match, listening)) {
                m_port = std::stoi(match[1]);
                break;
            }
        }
        // The rest of the server's lines are left to the pipe; a reader drains them.
        std::thread([log] {
            char rest[512];
            while (log && std::fgets(rest, sizeof rest, log)) {
            }
        }).detach();
        m_stub = sc::ShakingController::NewStub(grpc::CreateChannel(
            "127.0.0.1:" + std::to_string(m_port), grpc::InsecureChannelCredentials()));
        // It listens while it connects to the instrument (18 paced requests): the benchmarks
        // start once it has, so none of them times a refusal.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (m_port > 0 && !Connected() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    bool Connected() {
        grpc::ClientContext context;
        sc::Get_DeviceId_Responses response;
        return m_stub->Get_DeviceId(&context, {}, &response).ok();
    }

    CSimulatedShaker m_shaker;
    pid_t m_pid = -1;
    int m_port = 0;
    std::unique_ptr<sc::ShakingController::Stub> m_stub;
};

// CPU time of a process so far, from its threads' run times (nanoseconds; the clock ticks of
// /proc/<pid>/stat are too coarse for a thousandth of a core).
std::chrono::duration<double> CpuTime(pid_t pid) {
    double ns = 0;
    std::error_code error;
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        ns += bench_floor::TaskRunNs(task.path());
    }
    return std::chrono::duration<double>(ns / 1e9);
}

std::string StartRun(int time) {
    grpc::ClientContext context;
    sc::StartShaking_Parameters request;
    request.mutable_speed()->set_value(300);
    request.mutable_time()->set_value(time);
    fw::CommandConfirmation confirmation;
    CBenchServer::Get().Stub().StartShaking(&context, request, &confirmation);
    return confirmation.commandexecutionuuid().value();
}

void StopRun() {
    grpc::ClientContext context;
    sc::StopShaking_Responses response;
    CBenchServer::Get().Stub().StopShaking(&context, {}, &response);
}

// CPU share of one core the server takes over `window`.
double CpuShare(std::chrono::seconds window) {
    const pid_t pid = CBenchServer::Get().Pid();
    const auto before = CpuTime(pid);
    std::this_thread::sleep_for(window);
    return (CpuTime(pid) - before) / std::chrono::duration<double>(window) * 100.0;
}

}  // namespace

static void BM_ServerPropertyRead(benchmark::State& state) {
    auto& server = CBenchServer::Get();
    if (!server.Ok()) {
        state.SkipWithError("no server");
        return;
    }
    for (auto _ : state) {
        grpc::ClientContext context;
        sc::Get_DeviceId_Responses response;
        benchmark::DoNotOptimize(server.Stub().Get_DeviceId(&context, {}, &response));
    }
}
BENCHMARK(BM_ServerPropertyRead)->Unit(benchmark::kMicrosecond);

// From StartShaking's call to the run's first sample on the Intermediate stream: the
// confirmation (SetSpeed and SetTime, 50 ms a byte), then the poller's first status exchange.
static void BM_ServerFirstIntermediate(benchmark::State& state) {
    auto& server = CBenchServer::Get();
    if (!server.Ok()) {
        state.SkipWithError("no server");
        return;
    }
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const std::string uuid = StartRun(1000);
        grpc::ClientContext context;
        fw::CommandExecutionUUID id;
        id.set_value(uuid);
        auto reader = server.Stub().StartShaking_Intermediate(&context, id);
        sc::StartShaking_IntermediateResponses response;
        const bool got = reader->Read(&response);
        const auto elapsed = std::chrono::steady_clock::now() - start;
        context.TryCancel();
        reader->Finish();
        StopRun();
        if (!got) {
            state.SkipWithError("no intermediate response");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
    }
}
BENCHMARK(BM_ServerFirstIntermediate)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// The server's CPU, in % of one core, idle and during a run with one client following it on
// the Intermediate stream; against the least the same traffic costs, in this process run.
static void BM_ServerCpu(benchmark::State& state) {
    auto& server = CBenchServer::Get();
    if (!server.Ok()) {
        state.SkipWithError("no server");
        return;
    }
    constexpr std::chrono::seconds kWindow{10};
    const double floor = bench_floor::FloorMsPerCycle();
    for (auto _ : state) {
        state.counters["idle_pct"] = CpuShare(kWindow);
        const std::string uuid = StartRun(1000);
        grpc::ClientContext context;
        fw::CommandExecutionUUID id;
        id.set_value(uuid);
        auto reader = server.Stub().StartShaking_Intermediate(&context, id);
        int received = 0;
        std::thread subscriber([&] {
            sc::StartShaking_IntermediateResponses response;
            while (reader->Read(&response)) {
                ++received;
            }
        });
        std::this_thread::sleep_for(std::chrono::seconds(2));
        const double run = CpuShare(kWindow);
        context.TryCancel();
        subscriber.join();
        reader->Finish();
        StopRun();
        state.counters["run_pct"] = run;
        state.counters["floor_ms/s"] = floor;
        // % of a core is tens of ms a second.
        state.counters["run_ms/s"] = run * 10.0;
        state.counters["server/floor"] = run * 10.0 / floor;
        state.counters["intermediates"] = received;
    }
}
BENCHMARK(BM_ServerCpu)->Iterations(1)->Unit(benchmark::kSecond);
