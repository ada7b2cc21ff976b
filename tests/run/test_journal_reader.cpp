#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>

#include "run/journal_reader.h"
#include "run/journal_seal.h"
#include "run/run_history.h"

namespace {

std::string Journal(const std::string& start, const std::string& device, int samples, bool end) {
    std::string text = "# start\t" + start + "\n# port\t/dev/ttyUSB0\n# device ID\t" + device +
                       "\n# device type\t1\n# speed setpoint (1/min)\t300\n# time setpoint\t60\n"
                       "# program version\t1.2\n# started by\tana@bench\n# simulation\n"
                       "#sample\tspeed\treading\tremaining\tlocal time\n";
    for (int i = 1; i <= samples; ++i) {
        text += std::to_string(i) + "\t300\t299\t" + std::to_string(60 - i) + "\t" + start + "\n";
        if (i == 2) {
            text += "# link lost\n";
        }
    }
    if (!end) {
        return text;
    }
    text += "# end\ttime 0\t" + start + "\n";
    return text + JournalSealLines(text, nullptr, "");
}

}  // namespace

TEST(JournalReader, ReadsHeaderSamplesNotesEndAndSealButNotTheSealAsNotes) {
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/run-2026-12-09T10-00-00.000.tsv";
    std::ofstream(path) << Journal("2026-12-09T10:00:00.000+01:00", "KS 4000i", 5, true) << "";
    std::string error;
    const auto run = ReadJournal(path, &error);
    ASSERT_TRUE(run) << error;
    EXPECT_EQ(run->deviceId, "KS 4000i");
    EXPECT_EQ(run->speedSetpoint, 300);
    EXPECT_EQ(run->startedBy, "ana@bench");
    EXPECT_TRUE(run->simulated);
    ASSERT_EQ(run->samples.size(), 5u);
    EXPECT_EQ(run->samples[4].remaining, 55);
    EXPECT_EQ(run->samples[4].reading, 299);
    EXPECT_EQ(run->notes, std::vector<std::string>{"link lost"});
    EXPECT_EQ(run->endReason, "time 0");
    EXPECT_EQ(run->check.state, JournalCheck::State::Sealed);
    ASSERT_TRUE(run->start);

    // A journal of version 1.1 (no reading column) with a line torn by a power cut.
    const std::string old = dir.path().toStdString() + "/old.tsv";
    std::ofstream(old) << "# start\t2025-01-01T00:00:00.000+01:00\n#sample\tspeed\tremaining\t"
                          "local time\n1\t300\t59\t2025-01-01T00:00:01.000+01:00\n2\t30";
    const auto oldRun = ReadJournal(old, &error);
    ASSERT_TRUE(oldRun) << error;
    ASSERT_EQ(oldRun->samples.size(), 1u);
    EXPECT_EQ(oldRun->samples[0].remaining, 59);
    EXPECT_EQ(oldRun->check.state, JournalCheck::State::Unfinished);

    std::ofstream(dir.path().toStdString() + "/notes.txt") << "hello\n";
    EXPECT_FALSE(ReadJournal(dir.path().toStdString() + "/notes.txt", &error));
}

TEST(RunHistory, ListsNewestFirstAndFiltersByDateAndDevice) {
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    const char* runs[][2] = {{"2026-12-01T09:00:00.000+01:00", "A"},
                             {"2026-12-03T09:00:00.000+01:00", "B"},
                             {"2026-12-02T09:00:00.000+01:00", "A"}};
    int n = 0;
    for (const auto& [start, device] : runs) {
        ++n;
        std::ofstream(folder + "/run-2026-12-0" + std::to_string(n) + "T00-00-00.000.tsv")
            << Journal(start, device, 3, n != 2);
    }
    std::ofstream(folder + "/run-junk.tsv") << "not a journal\n";
    const std::vector<RunSummary> all = ListRuns(folder);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].deviceId, "B");
    EXPECT_EQ(all[0].seal, JournalCheck::State::Unfinished);
    EXPECT_EQ(all[1].startText, "2026-12-02T09:00:00.000+01:00");
    EXPECT_EQ(all[2].seal, JournalCheck::State::Sealed);

    EXPECT_EQ(FilterRuns(all, std::nullopt, std::nullopt, "A").size(), 2u);
    EXPECT_EQ(FilterRuns(all, all[1].start, std::nullopt, "").size(), 2u);
    EXPECT_EQ(FilterRuns(all, std::nullopt, all[1].start, "A").size(), 1u);
}
