#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <time.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <vector>

#include "run/run_journal.h"

namespace fs = std::filesystem;
using namespace std::chrono;

namespace {

std::string ReadFile(const fs::path& path) {
    std::ostringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
}

// 2026-12-08 09:41:16.123 UTC.
const system_clock::time_point kWinterStart =
    sys_days(year(2026) / 12 / 8) + hours(9) + minutes(41) + seconds(16) + milliseconds(123);

JournalHeader Header(system_clock::time_point start) {
    return {start, "/dev/ttyUSB0", "KS 4000i\tcontrol", 1, 300, 60, "1.2", "ana@bench-3", false};
}

std::vector<std::string> Journals(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class RunJournalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Central European time: the offsets are known, and winter and summer differ.
        setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
        tzset();
        char pattern[] = "/tmp/velmora-journal-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        // The signing key is made beside the journal folder: inside the test's own folder.
        root = pattern;
        dir = root / "runs";
        fs::create_directory(dir);
    }
    void TearDown() override { fs::remove_all(root); }
    fs::path root;
    fs::path dir;
};

}  // namespace

TEST(RunJournalFolder, DataHomeWhenAbsoluteElseHome) {
    setenv("HOME", "/home/op", 1);
    setenv("XDG_DATA_HOME", "/data", 1);
    EXPECT_EQ(CRunJournal::DefaultFolder(), "/data/velmora/runs");
    setenv("XDG_DATA_HOME", "data", 1);
    EXPECT_EQ(CRunJournal::DefaultFolder(), "/home/op/.local/share/velmora/runs");
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(CRunJournal::DefaultFolder(), "/home/op/.local/share/velmora/runs");
}

TEST_F(RunJournalTest, ShortRunIsWrittenLineByLine) {
    const fs::path folder = dir / "velmora" / "runs";
    CRunJournal journal(folder.string());
    ASSERT_TRUE(journal.Begin(Header(kWinterStart))) << journal.LastError();
    EXPECT_EQ(journal.Path(), (folder / "run-2026-12-08T10-41-16.123.tsv").string());
    EXPECT_TRUE(journal.IsOpen());
    EXPECT_TRUE(journal.Append(1, 150, 151, 60, kWinterStart + milliseconds(1005)));
    // The sample after the change to summer time carries its own offset.
    EXPECT_TRUE(journal.Append(2, 295, 296, 59, sys_days(year(2027) / 7 / 1) + milliseconds(7)));
    EXPECT_TRUE(journal.Note("link lost"));
    EXPECT_TRUE(journal.Append(3, 305, 306, 58, kWinterStart + hours(1)));
    EXPECT_TRUE(journal.End(RunEnd::Stopped));
    EXPECT_FALSE(journal.IsOpen());
    EXPECT_EQ(journal.LastError(), "");

    const std::string content = ReadFile(journal.Path());
    const std::string expected =
        "# start\t2026-12-08T10:41:16.123+01:00\n"
        "# port\t/dev/ttyUSB0\n"
        "# device ID\tKS 4000i control\n"
        "# device type\t1\n"
        "# speed setpoint (1/min)\t300\n"
        "# time setpoint\t60\n"
        "# program version\t1.2\n"
        "# started by\tana@bench-3\n"
        "#sample\tspeed\treading\tremaining\tlocal time\n"
        "1\t150\t151\t60\t2026-12-08T10:41:17.128+01:00\n"
        "2\t295\t296\t59\t2027-07-01T02:00:00.007+02:00\n"
        "# link lost\n"
        "3\t305\t306\t58\t2026-12-08T11:41:16.123+01:00\n"
        "# end\tStop\t";
    ASSERT_EQ(content.substr(0, expected.size()), expected);
    EXPECT_TRUE(
        std::regex_match(content.substr(expected.size()),
                         std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d\n)"
                                    R"(# line digests\t[^\n]+\n# signing key\ted25519 [^\n]+\n)"
                                    R"(# sha256 [0-9a-f]{64}\n# signature ed25519 [^\n]+\n)")))
        << content;

    // A second run in the same millisecond gets a name of its own.
    CRunJournal second(folder.string());
    ASSERT_TRUE(second.Begin(Header(kWinterStart)));
    EXPECT_EQ(second.Path(), (folder / "run-2026-12-08T10-41-16.123-2.tsv").string());
}

TEST_F(RunJournalTest, UnwritableJournalFailsWithAReasonAndTheRunGoesOn) {
    // Root passes any permission bits; a folder below a plain file fails for everyone.
    std::ofstream(dir / "plain") << "x";
    CRunJournal blocked((dir / "plain" / "runs").string());
    EXPECT_FALSE(blocked.Begin(Header(kWinterStart)));
    EXPECT_EQ(blocked.LastError(), "The run journal can't be written: Not a directory (" +
                                       (dir / "plain" / "runs").string() + ")");
    EXPECT_FALSE(blocked.IsOpen());
    EXPECT_EQ(blocked.Path(), "");
    EXPECT_FALSE(blocked.Append(1, 150, 151, 60, kWinterStart));
    EXPECT_FALSE(blocked.End(RunEnd::TimeUp));

    // A file size limit makes a sample's write fail part way, as a full disk does.
    CRunJournal journal(dir.string());
    ASSERT_TRUE(journal.Begin(Header(kWinterStart)));
    ASSERT_TRUE(journal.Append(1, 150, 151, 60, kWinterStart));
    const auto size = fs::file_size(journal.Path());
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = size + 10;
    const auto previousHandler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool appended = journal.Append(2, 295, 296, 59, kWinterStart);
    const std::string error = journal.LastError();
    // The part of the line that was written is taken back: no torn line is left.
    const auto sizeAfterFailure = fs::file_size(journal.Path());
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(appended);
    EXPECT_EQ(error, "The run journal can't be written: File too large (" + journal.Path() + ")");
    EXPECT_EQ(sizeAfterFailure, size);
    // Once there is room again, the next sample and the end are written.
    EXPECT_TRUE(journal.Append(3, 305, 306, 58, kWinterStart));
    EXPECT_TRUE(journal.End(RunEnd::TimeUp));
    const std::string content = ReadFile(journal.Path());
    EXPECT_EQ(content.find("\n2\t"), std::string::npos);
    EXPECT_NE(content.find("\n3\t305\t306\t58\t"), std::string::npos);

    // The next run starts afresh.
    EXPECT_TRUE(journal.Begin(Header(kWinterStart + seconds(1))));
    EXPECT_EQ(journal.LastError(), "");
}

TEST_F(RunJournalTest, BeginKeepsTheNewestJournals) {
    // 498 journals of distinct times, and four copies of an older time: "-10" and "-11" are
    // newer than "-2", which is newer than the plain name. Other files are left alone.
    for (int i = 1; i <= 498; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "run-2020-01-01T%02d-%02d-00.000.tsv", i / 60, i % 60);
        std::ofstream(dir / name) << "#\n";
    }
    for (const char* copy : {"", "-2", "-10", "-11"}) {
        std::ofstream(dir / (std::string("run-2019-12-31T12-00-00.000") + copy + ".tsv")) << "#\n";
    }
    std::ofstream(dir / "notes.txt") << "keep";
    std::ofstream(dir / "run-2019-01-01.tsv") << "keep";
    ASSERT_EQ(Journals(dir).size(), 504u);

    CRunJournal journal(dir.string());
    ASSERT_TRUE(journal.Begin(Header(kWinterStart)));
    const std::vector<std::string> names = Journals(dir);
    EXPECT_EQ(names.size(), 502u);
    EXPECT_EQ(names[0], "notes.txt");
    EXPECT_EQ(names[1], "run-2019-01-01.tsv");
    EXPECT_EQ(names[2], "run-2019-12-31T12-00-00.000-11.tsv");
    EXPECT_EQ(names[3], "run-2020-01-01T00-01-00.000.tsv");
    EXPECT_EQ(names.back(), "run-2026-12-08T10-41-16.123.tsv");
}

TEST_F(RunJournalTest, AnUnfinishedRunIsTakenOnce) {
    // West of Greenwich, in summer time.
    setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
    tzset();
    const system_clock::time_point crashed = kWinterStart - hours(24 * 200);
    {
        CRunJournal journal(dir.string());
        ASSERT_TRUE(journal.Begin(Header(crashed)));
        ASSERT_TRUE(journal.Append(1, 150, 151, 60, crashed + seconds(1)));
    }  // no End: the program died
    CRunJournal finished(dir.string());
    ASSERT_TRUE(finished.Begin(Header(kWinterStart - hours(1))));
    ASSERT_TRUE(finished.End(RunEnd::InstrumentStopped));
    // A run still going on, in this or another program, is not unfinished.
    CRunJournal running(dir.string());
    ASSERT_TRUE(running.Begin(Header(kWinterStart)));

    const auto unfinished = CRunJournal::TakeUnfinished(dir.string());
    ASSERT_TRUE(unfinished.has_value());
    EXPECT_EQ(unfinished->path, (dir / "run-2026-05-22T05-41-16.123.tsv").string());
    EXPECT_EQ(unfinished->start, crashed);
    EXPECT_TRUE(std::regex_search(ReadFile(unfinished->path),
                                  std::regex("\n1\t150\t151\t60\t[^\n]*\n# reported unfinished\t"
                                             "2[^\n]*\n# sealed after an unexpected end\n")));
    EXPECT_FALSE(CRunJournal::TakeUnfinished(dir.string()).has_value());
    EXPECT_TRUE(running.Append(1, 150, 151, 60, kWinterStart));
}

// A journal's name that is a second name of a file elsewhere gets no mark appended to it.
TEST_F(RunJournalTest, AHardLinkInTheFolderIsNoJournal) {
    const fs::path outside = dir / "outside.tsv";
    std::ofstream(outside) << "# start\t2026-01-01T00:00:00.000+00:00\n1\t150\t151\t60\tx\n";
    fs::create_directory(dir / "runs");
    fs::create_hard_link(outside, dir / "runs" / "run-2026-01-01T00-00-00.000.tsv");
    EXPECT_FALSE(CRunJournal::TakeUnfinished((dir / "runs").string()).has_value());
    EXPECT_EQ(ReadFile(outside.string()).find("reported"), std::string::npos);
}
