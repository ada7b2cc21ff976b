#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QJsonObject>
#include <QTemporaryDir>
#include <fstream>
#include <sstream>
#include <vector>

#include "run/audit_trail.h"
#include "run/journal_keeper.h"

namespace {

std::vector<std::string> Lines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

void Write(const std::string& path, const std::vector<std::string>& lines) {
    std::ofstream out(path, std::ios::trunc);
    for (const std::string& line : lines) {
        out << line << "\n";
    }
}

}  // namespace

TEST(AuditTrail, AnEditedOrReorderedLineBreaksTheChainFromThere) {
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/audit.jsonl";
    CAuditTrail trail(path);
    trail.SetProgram("velmora-cli");
    trail.SetUser("ana@bench");
    for (int i = 1; i <= 10; ++i) {
        ASSERT_TRUE(trail.Append("start", {{"speed", 100 + i}})) << trail.LastError();
    }
    const AuditVerdict whole = VerifyAuditTrail(path);
    EXPECT_TRUE(whole.intact) << whole.reason;
    EXPECT_EQ(whole.lines, 10);
    const std::vector<std::string> lines = Lines(path);
    EXPECT_NE(lines[0].find("\"prev\":\"" + std::string(64, '0') + "\""), std::string::npos);
    EXPECT_NE(lines[0].find("\"user\":\"ana@bench\""), std::string::npos);

    std::vector<std::string> edited = lines;
    // The field itself: "105" may also turn up in a hash or a time stamp.
    edited[4].replace(edited[4].find("\"speed\":105"), 11, "\"speed\":150");
    Write(path, edited);
    EXPECT_EQ(VerifyAuditTrail(path).firstBadLine, 5);

    std::vector<std::string> swapped = lines;
    std::swap(swapped[6], swapped[7]);
    Write(path, swapped);
    EXPECT_FALSE(VerifyAuditTrail(path).intact);
    EXPECT_EQ(VerifyAuditTrail(path).firstBadLine, 6);

    std::vector<std::string> torn = lines;
    torn[9].resize(20);
    Write(path, torn);
    EXPECT_EQ(VerifyAuditTrail(path).firstBadLine, 10);
}

// The window's engine writes on its journal keeper's thread while command-line runs append
// from their own processes: every line lands whole and the chain holds.
TEST(AuditTrail, ConcurrentAppendsFromAnEngineAndOtherProcessesKeepTheChainWhole) {
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString() + "/runs";
    const std::string path = dir.path().toStdString() + "/audit.jsonl";
    constexpr int kEach = 40;
    std::vector<pid_t> children;
    for (int child = 0; child < 3; ++child) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            CAuditTrail trail(path);
            trail.SetProgram("velmora-cli");
            bool ok = true;
            for (int i = 0; i < kEach; ++i) {
                ok = trail.Append("sample", {{"child", child}, {"i", i}}) && ok;
            }
            _exit(ok ? 0 : 1);
        }
        children.push_back(pid);
    }
    {
        CJournalKeeper keeper([](const std::string& note) { ADD_FAILURE() << note; });
        keeper.SetFolder(folder);
        for (int i = 0; i < kEach; ++i) {
            keeper.Audit("link lost", {{"i", i}}, "ana@bench");
        }
        keeper.WaitUntilWritten();
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const AuditVerdict verdict = VerifyAuditTrail(path);
    EXPECT_TRUE(verdict.intact) << verdict.reason;
    EXPECT_EQ(verdict.lines, 4 * kEach);
}
