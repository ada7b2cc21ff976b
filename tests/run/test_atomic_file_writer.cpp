// Output files: a link is followed only where the kernel itself would follow it, and what
// stands in the way of writing a file is told before anything is written.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "run/atomic_file_writer.h"

namespace fs = std::filesystem;

namespace {

constexpr uid_t kNobody = 65534;

std::string ReadFile(const fs::path& path) {
    std::ostringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
}

class ScratchFolder {
  public:
    ScratchFolder() {
        char pattern[] = "/tmp/velmora-out-XXXXXX";
        m_path = mkdtemp(pattern) != nullptr ? pattern : "";
    }
    ~ScratchFolder() {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    const fs::path& Path() const { return m_path; }

  private:
    fs::path m_path;
};

// Another user's link in a folder like /tmp would otherwise let that user choose which of the
// operator's files a run replaces.
TEST(OutputFile, AnotherUsersLinkInAStickySharedFolderIsNotFollowed) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to give a link to another user";
    }
    ScratchFolder shared;
    ScratchFolder own;
    ASSERT_FALSE(shared.Path().empty() || own.Path().empty());
    ASSERT_EQ(chmod(shared.Path().c_str(), 01777), 0);
    const fs::path precious = own.Path() / "results.csv";
    std::ofstream(precious) << "mine";
    const fs::path link = shared.Path() / "out.csv";
    fs::create_symlink(precious, link);
    ASSERT_EQ(lchown(link.c_str(), kNobody, kNobody), 0);

    EXPECT_EQ(WriteTargetProblem(link.string()),
              link.string() +
                  " is a symbolic link of another user in a folder anyone may write "
                  "to (" +
                  shared.Path().string() + "); it is not followed");
    EXPECT_EQ(ReplaceFileAtomically(link.string(), "theirs"), 0);
    EXPECT_EQ(ReadFile(precious), "mine");
    EXPECT_TRUE(fs::is_symlink(link));

    // Where the kernel follows it, so does the export: the user's own link, or any link in a
    // folder that is not shared.
    ASSERT_EQ(lchown(link.c_str(), 0, 0), 0);
    EXPECT_EQ(WriteTargetProblem(link.string()), std::nullopt);
    ASSERT_EQ(ReplaceFileAtomically(link.string(), "own link"), 1);
    EXPECT_EQ(ReadFile(precious), "own link");
    ASSERT_EQ(lchown(link.c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(chmod(shared.Path().c_str(), 0755), 0);
    ASSERT_EQ(ReplaceFileAtomically(link.string(), "private folder"), 1);
    EXPECT_EQ(ReadFile(precious), "private folder");
}

TEST(OutputFile, WhatStandsInTheWayIsToldBeforeAnythingIsWritten) {
    ScratchFolder folder;
    ASSERT_FALSE(folder.Path().empty());
    const fs::path pipe = folder.Path() / "pipe.csv";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
    const fs::path readOnly = folder.Path() / "kept.csv";
    std::ofstream(readOnly) << "kept";
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::group_read);

    EXPECT_EQ(WriteTargetProblem(pipe.string()),
              pipe.string() + " is a FIFO (named pipe), not a regular file");
    EXPECT_EQ(WriteTargetProblem((folder.Path() / "none" / "run.csv").string()),
              "the folder " + (folder.Path() / "none").string() + " does not exist");
    EXPECT_EQ(WriteTargetProblem(readOnly.string()),
              readOnly.string() + " is read-only for this user");
    EXPECT_NE(WriteTargetProblem((folder.Path() / std::string(300, 'x')).string()), std::nullopt);
    EXPECT_EQ(WriteTargetProblem((folder.Path() / "new.csv").string()), std::nullopt);

    // Looking left nothing behind.
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder.Path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 2u);
    EXPECT_EQ(ReadFile(readOnly), "kept");
}

}  // namespace
