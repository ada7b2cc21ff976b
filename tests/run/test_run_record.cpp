#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <bit>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "run/record_export.h"

namespace fs = std::filesystem;

namespace {

const std::string kThreeSamples =
    "Time(S)\tSpeed(1/min)\tTime(S)\r\n1\t150\t60\r\n2\t295\t59\r\n3\t305\t58\r\n";

// Speeds 150, 295, 305 over and over; remaining time counting down from `firstRemaining`.
CRunRecord RecordOf(std::uint32_t samples, std::uint32_t firstRemaining = 60) {
    const std::uint32_t speeds[] = {150, 295, 305};
    CRunRecord record;
    record.ResetSpeedExtent();
    for (std::uint32_t i = 0; i < samples; ++i) {
        record.AppendSpeed(speeds[i % 3]);
        record.AppendRemainingTime(firstRemaining - i);
    }
    return record;
}

std::string ReadFile(const fs::path& path) {
    std::ostringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
}

class ExportFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/velmora-export-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }
    // Temporaries left behind would show up as extra entries.
    long Entries() const {
        return std::distance(fs::directory_iterator(dir), fs::directory_iterator());
    }
    fs::path dir;
};

}  // namespace

TEST(RunRecord, SpeedExtentWidensFromItsStartValues) {
    CRunRecord record;
    EXPECT_EQ(record.SpeedMaximum(), 0.0f);  // before the first run
    record.ResetSpeedExtent();
    record.AppendSpeed(0);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(record.SpeedMaximum()), 0x00800000u);
    record.AppendSpeed(305);
    record.AppendSpeed(295);
    EXPECT_EQ(record.SpeedMinimum(), 0.0f);
    EXPECT_EQ(record.SpeedMaximum(), 305.0f);
}

TEST(RecordExport, ContentPerTypeAndLineCount) {
    EXPECT_EQ(FormatRecordExport(RecordOf(3), DeviceKV41), kThreeSamples);
    EXPECT_EQ(FormatRecordExport(RecordOf(3), DeviceUnlisted),
              "Time(S)\tSpeed(1/min)\tTime(S)\r\n1\t150\r\n2\t295\r\n3\t305\r\n");
    EXPECT_EQ(FormatRecordExport(CRunRecord(), DeviceKW27), "Time(S)\tSpeed(1/min)\tTime(S)\r\n");

    const std::string many = FormatRecordExport(RecordOf(1000, 65535), DeviceKW41);
    EXPECT_EQ(std::count(many.begin(), many.end(), '\n'), 1001);
    EXPECT_EQ(many.find("\n\n"), std::string::npos);
    EXPECT_TRUE(many.ends_with("\r\n999\t305\t64537\r\n1000\t150\t64536\r\n"));
}

TEST_F(ExportFileTest, ReplacesThroughALinkKeepingPermissionsAndLeavingNoTemporaries) {
    const fs::path real = dir / "real.xls";
    ASSERT_EQ(ExportRecord(real.string(), RecordOf(1), DeviceKV41), 1);
    ASSERT_EQ(chmod(real.c_str(), 0640), 0);
    fs::create_symlink(real, dir / "link.xls");

    ASSERT_EQ(ExportRecord((dir / "link.xls").string(), RecordOf(3), DeviceKV41), 1);
    EXPECT_EQ(ReadFile(real), kThreeSamples);
    EXPECT_TRUE(fs::is_symlink(dir / "link.xls"));
    EXPECT_EQ(fs::status(real).permissions() & fs::perms::mask,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(Entries(), 2);
}

TEST_F(ExportFileTest, FailuresReportZeroAndTouchNothing) {
    EXPECT_EQ(ExportRecord((dir / "missing" / "run.xls").string(), RecordOf(1), DeviceKV41), 0);
    fs::create_directory(dir / "folder.xls");
    EXPECT_EQ(ExportRecord((dir / "folder.xls").string(), RecordOf(1), DeviceKV41), 0);
    // Tests run as root, which could otherwise rename a file over the device node.
    EXPECT_EQ(ExportRecord("/dev/full", RecordOf(1), DeviceKV41), 0);
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
    EXPECT_TRUE(fs::is_directory(dir / "folder.xls"));

    // A file size limit makes the write fail part way, as a full disk does.
    const fs::path target = dir / "run.xls";
    std::ofstream(target, std::ios::binary) << kThreeSamples;
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 100;
    const auto previousHandler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int result = ExportRecord(target.string(), RecordOf(500), DeviceKV41);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadFile(target), kThreeSamples);
    EXPECT_EQ(Entries(), 2);

    // The rename would need only the directory; the operator's read-only mark holds even
    // for root.
    ASSERT_EQ(chmod(target.c_str(), 0444), 0);
    EXPECT_EQ(ExportRecord(target.string(), RecordOf(1), DeviceKV41), 0);
    EXPECT_EQ(ReadFile(target), kThreeSamples);
    EXPECT_EQ(Entries(), 2);
}

// Written in pieces, the file is byte for byte the content formatted whole.
TEST_F(ExportFileTest, ALongRecordIsWrittenExactlyAsFormatted) {
    const CRunRecord record = RecordOf(30000, 65535);
    const fs::path target = dir / "long.xls";
    ASSERT_EQ(ExportRecord(target.string(), record, DeviceKW41), 1);
    EXPECT_EQ(ReadFile(target), FormatRecordExport(record, DeviceKW41));
}
