// The run journal on the temporary folder's disk: what one sample costs the poller (a line
// written and made durable), what a run's first and last lines cost with a full folder of
// 500 journals, and the look for an unfinished run among 500 at a program's start.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "run/journal_seal.h"
#include "run/run_history.h"
#include "run/run_journal.h"
#include "run/signing_key.h"

namespace {

std::string MakeJournalFolder() {
    char pattern[] = "/tmp/velmora-bench-journal-XXXXXX";
    const char* dir = mkdtemp(pattern);
    if (dir == nullptr) {
        return "";
    }
    // The signing key is made beside the journal folder: inside the bench's own folder.
    const std::string folder = std::string(dir) + "/runs";
    std::filesystem::create_directory(folder);
    return folder;
}

JournalHeader HeaderAt(std::chrono::system_clock::time_point start) {
    return {start, "/dev/ttyUSB0", "KS 4000i control", 1, 300, 72000, "1.2", "", false};
}

// A folder of kKeptRuns finished journals of 3600 samples each, as a year of hourly runs
// leaves it.
std::string FullFolder() {
    const std::string folder = MakeJournalFolder();
    std::string content =
        "# start\t2025-01-01T00:00:00.000+01:00\n# port\t/dev/ttyUSB0\n"
        "# device ID\tKS 4000i control\n# device type\t1\n# speed setpoint (1/min)\t300\n"
        "# time setpoint\t3600\n# program version\t1.2\n#sample\tspeed\tremaining\tlocal time\n";
    for (int i = 1; i <= 3600; ++i) {
        content += std::to_string(i) + "\t300\t" + std::to_string(3600 - i) +
                   "\t2025-01-01T00:00:00.000+01:00\n";
    }
    content += "# end\ttime 0\t2025-01-01T01:00:00.000+01:00\n";
    for (int run = 0; run < CRunJournal::kKeptRuns; ++run) {
        char name[64];
        std::snprintf(name, sizeof name, "/run-2025-01-%02dT%02d-00-00.000.tsv", 1 + run / 24,
                      run % 24);
        std::ofstream(folder + name, std::ios::binary) << content;
    }
    return folder;
}

void BM_JournalAppendSample(benchmark::State& state) {
    const std::string folder = MakeJournalFolder();
    CRunJournal journal(folder);
    if (!journal.Begin(HeaderAt(std::chrono::system_clock::now()))) {
        state.SkipWithError(journal.LastError().c_str());
        return;
    }
    int sample = 0;
    for (auto _ : state) {
        ++sample;
        if (!journal.Append(sample, 295 + sample % 11, 296 + sample % 11, 72000 - sample,
                            std::chrono::system_clock::now())) {
            state.SkipWithError(journal.LastError().c_str());
            break;
        }
    }
    journal.End(RunEnd::Stopped);
    state.counters["file_bytes_per_sample"] =
        static_cast<double>(std::filesystem::file_size(journal.Path())) / std::max(sample, 1);
    std::filesystem::remove_all(std::filesystem::path(folder).parent_path());
}
BENCHMARK(BM_JournalAppendSample)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Begin includes keeping the newest 500: the folder is listed and the oldest removed.
void BM_JournalBeginEndFullFolder(benchmark::State& state) {
    const std::string folder = FullFolder();
    auto start = std::chrono::system_clock::now();
    for (auto _ : state) {
        start += std::chrono::seconds(1);
        CRunJournal journal(folder);
        if (!journal.Begin(HeaderAt(start)) || !journal.End(RunEnd::Stopped)) {
            state.SkipWithError(journal.LastError().c_str());
            break;
        }
    }
    std::filesystem::remove_all(std::filesystem::path(folder).parent_path());
}
BENCHMARK(BM_JournalBeginEndFullFolder)->Unit(benchmark::kMillisecond)->UseRealTime();

// The worst case: 500 finished journals, every tail read.
void BM_JournalTakeUnfinishedNoneOf500(benchmark::State& state) {
    const std::string folder = FullFolder();
    for (auto _ : state) {
        benchmark::DoNotOptimize(CRunJournal::TakeUnfinished(folder));
    }
    std::filesystem::remove_all(std::filesystem::path(folder).parent_path());
}
BENCHMARK(BM_JournalTakeUnfinishedNoneOf500)->Unit(benchmark::kMillisecond)->UseRealTime();

// A 20-hour run at one sample a second, as written, for the seal's costs.
std::string LongJournalBody() {
    std::string body =
        "# start\t2025-01-01T00:00:00.000+01:00\n# port\t/dev/ttyUSB0\n"
        "# device ID\tKS 4000i control\n# device type\t1\n# speed setpoint (1/min)\t300\n"
        "# time setpoint\t72000\n# program version\t1.2\n# started by\tana@bench-3\n"
        "#sample\tspeed\treading\tremaining\tlocal time\n";
    for (int i = 1; i <= 72000; ++i) {
        body += std::to_string(i) + "\t" + std::to_string(295 + i % 11) + "\t" +
                std::to_string(296 + i % 11) + "\t" + std::to_string(72000 - i) +
                "\t2025-01-01T00:00:00.000+01:00\n";
    }
    return body + "# end\ttime 0\t2025-01-01T20:00:00.000+01:00\n";
}

// Sealing a run's journal at its end: the line digests, the SHA-256 and the signature.
void BM_SealJournal72000Samples(benchmark::State& state) {
    const std::string folder = MakeJournalFolder();
    const auto key = CSigningKey::LoadOrCreate(folder + "/../signing-key", nullptr);
    const std::string body = LongJournalBody();
    for (auto _ : state) {
        benchmark::DoNotOptimize(JournalSealLines(body, key.get(), "ana@bench-3"));
    }
    state.counters["journal_MB"] = static_cast<double>(body.size()) / 1e6;
    std::filesystem::remove_all(std::filesystem::path(folder).parent_path());
}
BENCHMARK(BM_SealJournal72000Samples)->Unit(benchmark::kMillisecond)->UseRealTime();

// `velmora-cli verify` of a 72,000-sample journal: read, hashed, signature checked. Goal: at
// most 100 ms. The altered case also finds the line from the digests.
void BM_VerifyJournal72000Samples(benchmark::State& state) {
    const std::string folder = MakeJournalFolder();
    const auto key = CSigningKey::LoadOrCreate(folder + "/../signing-key", nullptr);
    std::string text = LongJournalBody();
    text += JournalSealLines(text, key.get(), "ana@bench-3");
    if (state.range(0) != 0) {
        text[text.find("\n60000\t") + 8] ^= 1;
    }
    const std::string path = folder + "/run.tsv";
    std::ofstream(path, std::ios::binary) << text;
    const auto expected =
        state.range(0) != 0 ? JournalCheck::State::Altered : JournalCheck::State::Sealed;
    for (auto _ : state) {
        const JournalCheck check = CheckJournalFile(path);
        if (check.state != expected) {
            state.SkipWithError(check.reason.c_str());
            break;
        }
    }
    std::filesystem::remove_all(std::filesystem::path(folder).parent_path());
}
BENCHMARK(BM_VerifyJournal72000Samples)
    ->ArgName("altered")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// "Runs…" opening a full folder: 500 sealed, signed journals of N samples each, every one read,
// parsed and its seal checked. Goal: at most 300 ms.
void BM_ListRuns500(benchmark::State& state) {
    const std::string folder = MakeJournalFolder();
    const auto key = CSigningKey::LoadOrCreate(folder + "/../signing-key", nullptr);
    const int samples = static_cast<int>(state.range(0));
    std::string body =
        "# start\t2025-01-01T00:00:00.000+01:00\n# port\t/dev/ttyUSB0\n"
        "# device ID\tKS 4000i control\n# device type\t1\n# speed setpoint (1/min)\t300\n"
        "# time setpoint\t3600\n# program version\t1.2\n# started by\tana@bench-3\n"
        "#sample\tspeed\treading\tremaining\tlocal time\n";
    for (int i = 1; i <= samples; ++i) {
        body += std::to_string(i) + "\t300\t299\t" + std::to_string(samples - i) +
                "\t2025-01-01T00:00:00.000+01:00\n";
    }
    body += "# end\ttime 0\t2025-01-01T01:00:00.000+01:00\n";
    body += JournalSealLines(body, key.get(), "ana@bench-3");
    for (int run = 0; run < CRunJournal::kKeptRuns; ++run) {
        char name[64];
        std::snprintf(name, sizeof name, "/run-2025-01-%02dT%02d-00-00.000.tsv", 1 + run / 24,
                      run % 24);
        std::ofstream(folder + name, std::ios::binary) << body;
    }
    for (auto _ : state) {
        const auto runs = ListRuns(folder);
        if (runs.size() != static_cast<std::size_t>(CRunJournal::kKeptRuns) ||
            runs.front().seal != JournalCheck::State::Sealed) {
            state.SkipWithError("not every journal was listed as sealed");
            break;
        }
    }
    state.counters["folder_MB"] = static_cast<double>(body.size()) * CRunJournal::kKeptRuns / 1e6;
    std::filesystem::remove_all(std::filesystem::path(folder).parent_path());
}
BENCHMARK(BM_ListRuns500)
    ->ArgName("samples")
    ->Arg(600)
    ->Arg(3600)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
