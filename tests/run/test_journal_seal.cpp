#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <QTemporaryDir>
#include <chrono>
#include <fstream>
#include <sstream>
#include <vector>

#include "run/journal_seal.h"
#include "run/local_user.h"
#include "run/run_journal.h"
#include "run/signing_key.h"

using namespace std::chrono;

namespace {

std::string ReadFile(const std::string& path) {
    std::ostringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::string Join(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    return text;
}

// The 1-based line of `text` that starts with `start`.
int LineOf(const std::vector<std::string>& lines, const std::string& start) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind(start, 0) == 0) {
            return static_cast<int>(i + 1);
        }
    }
    return 0;
}

class JournalSeal : public ::testing::Test {
  protected:
    // A run of `samples` samples journaled in the test's folder, ended or not.
    std::string Run(int samples, bool end) {
        CRunJournal journal(folder());
        const auto start = system_clock::now();
        EXPECT_TRUE(journal.Begin(
            {start, "/dev/ttyUSB0", "KS 4000i control", 1, 300, 600, "1.2", "ana@bench", false}));
        for (int i = 1; i <= samples; ++i) {
            EXPECT_TRUE(journal.Append(i, 300, 299, 600 - i, start + seconds(i)));
        }
        if (end) {
            EXPECT_TRUE(journal.End(RunEnd::TimeUp)) << journal.LastError();
        }
        return journal.Path();
    }
    std::string folder() const { return dir.path().toStdString() + "/runs"; }
    std::string keyPath() const { return dir.path().toStdString() + "/signing-key"; }

    QTemporaryDir dir;
};

}  // namespace

TEST_F(JournalSeal, AFinishedRunIsSignedWithAKeyMadeOnFirstUseAndOnlyThatKeyIsAccepted) {
    const JournalCheck check = CheckJournalFile(Run(30, true));
    EXPECT_EQ(check.state, JournalCheck::State::Sealed) << check.reason;
    EXPECT_TRUE(check.signedRun);
    EXPECT_EQ(check.signer, LocalUserAtHost());
    EXPECT_FALSE(check.sealedAfterCrash);

    struct stat key {};
    ASSERT_EQ(stat(keyPath().c_str(), &key), 0);
    EXPECT_EQ(key.st_mode & 0777, 0600u);
    const auto signingKey = CSigningKey::Load(keyPath(), nullptr);
    ASSERT_TRUE(signingKey);
    EXPECT_EQ(check.publicKey, signingKey->PublicKeyBase64());

    // The same key signs the next run; a check against another key refuses it.
    const std::string second = Run(3, true);
    EXPECT_EQ(CheckJournalFile(second, check.publicKey).state, JournalCheck::State::Sealed);
    QTemporaryDir other;
    const auto otherKey = CSigningKey::LoadOrCreate(other.path().toStdString() + "/k", nullptr);
    ASSERT_TRUE(otherKey);
    const JournalCheck refused = CheckJournalFile(second, otherKey->PublicKeyBase64());
    EXPECT_EQ(refused.state, JournalCheck::State::Altered);
    EXPECT_FALSE(refused.keyMatches);
}

TEST_F(JournalSeal, AnEditedRemovedOrSwappedLineIsNamedSignedOrNot) {
    const std::vector<std::string> signedLines = Lines(ReadFile(Run(20, true)));
    // Unsigned, and long enough for more than one line of digests.
    std::string body = "# start\t2026-12-09T10:00:00.000+01:00\n#sample\tspeed\n";
    for (int i = 1; i <= 1500; ++i) {
        body += std::to_string(i) + "\t300\n";
    }
    body += "# end\ttime 0\t2026-12-09T10:25:00.000+01:00\n";
    const std::vector<std::string> unsignedLines =
        Lines(body + JournalSealLines(body, nullptr, ""));
    ASSERT_EQ(CheckJournalText(Join(unsignedLines)).state, JournalCheck::State::Sealed);
    EXPECT_FALSE(CheckJournalText(Join(unsignedLines)).signedRun);

    for (const auto& [lines, sample] : {std::pair{signedLines, std::string("12\t")},
                                        std::pair{unsignedLines, std::string("1300\t")}}) {
        const int at = LineOf(lines, sample);
        ASSERT_GT(at, 0);
        std::vector<std::string> edited = lines;
        edited[at - 1][edited[at - 1].size() - 1] ^= 1;  // one digit of the last column
        std::vector<std::string> removed = lines;
        removed.erase(removed.begin() + at - 1);
        std::vector<std::string> swapped = lines;
        std::swap(swapped[at - 1], swapped[at]);
        for (const auto& altered : {edited, removed, swapped}) {
            const JournalCheck check = CheckJournalText(Join(altered));
            EXPECT_EQ(check.state, JournalCheck::State::Altered);
            EXPECT_EQ(check.alteredLine, at) << check.reason;
        }
    }

    // A line added after the seal, and a signature that isn't the key's.
    std::vector<std::string> added = signedLines;
    added.push_back("21\t300\t299\t579\t2026-12-09T10:00:21.000+01:00");
    EXPECT_EQ(CheckJournalText(Join(added)).alteredLine, static_cast<int>(added.size()));
    std::vector<std::string> forged = signedLines;
    forged.back()[forged.back().size() - 3] ^= 1;
    EXPECT_EQ(CheckJournalText(Join(forged)).state, JournalCheck::State::Altered);
}

TEST_F(JournalSeal, ARunThatNeverEndedIsUnfinishedUntilTheNextStartSealsIt) {
    const std::string path = Run(5, false);
    EXPECT_EQ(CheckJournalFile(path).state, JournalCheck::State::Unfinished);
    ASSERT_TRUE(CRunJournal::TakeUnfinished(folder()).has_value());
    const JournalCheck check = CheckJournalFile(path);
    EXPECT_EQ(check.state, JournalCheck::State::Sealed) << check.reason;
    EXPECT_TRUE(check.sealedAfterCrash);
    EXPECT_TRUE(check.signedRun);
    // Sealed is finished: it is not reported again.
    EXPECT_FALSE(CRunJournal::TakeUnfinished(folder()).has_value());
}
