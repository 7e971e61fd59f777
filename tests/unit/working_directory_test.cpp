#include "model/working_directory.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "test_support.h"

namespace tsr {
namespace {


TEST(WorkingDirectory, CandidateNames) {
    EXPECT_EQ(WorkingDirectory::CandidateName(0), "TSR10.TMP");
    EXPECT_EQ(WorkingDirectory::CandidateName(1), "TSR1N10.TMP");
    EXPECT_EQ(WorkingDirectory::CandidateName(100), "TSR100N10.TMP");
}

TEST(WorkingDirectory, CreatesAPrivateDirectoryWithTheOutputDirectory) {
    test::ScratchDir tmp;
    WorkingDirectory wd;
    ASSERT_EQ(wd.CreateWorkingDirectory(tmp.path()), 0);
    EXPECT_EQ(wd.path(), tmp / "TSR10.TMP");
    EXPECT_EQ(wd.outputDirectory(), tmp / "TSR10.TMP/WEB");
    struct stat st;
    ASSERT_EQ(stat(wd.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(test::Exists(wd.outputDirectory()));
    test::RunCommand("touch '" + wd.path() + "/res.png'");
    wd.DeleteWorkingDirectory();
    EXPECT_FALSE(test::Exists(tmp / "TSR10.TMP"));
}

TEST(WorkingDirectory, ASecondInstanceLeavesTheFirstOnesDirectoryAlone) {
    test::ScratchDir tmp;
    WorkingDirectory first, second;
    ASSERT_EQ(first.CreateWorkingDirectory(tmp.path()), 0);
    ASSERT_TRUE(WriteFile(first.path() + "/keep.txt", "mine"));
    ASSERT_EQ(second.CreateWorkingDirectory(tmp.path()), 0);
    EXPECT_EQ(second.path(), tmp / "TSR1N10.TMP");
    EXPECT_EQ(test::ReadAll(first.path() + "/keep.txt"), "mine");
    // Once the first instance is gone its name is free again.
    first.DeleteWorkingDirectory();
    WorkingDirectory third;
    ASSERT_EQ(third.CreateWorkingDirectory(tmp.path()), 0);
    EXPECT_EQ(third.path(), tmp / "TSR10.TMP");
}

TEST(WorkingDirectory, AStaleDirectoryIsEmptiedAndReused) {
    test::ScratchDir tmp;
    const std::string stale = tmp / "TSR10.TMP";
    ASSERT_EQ(mkdir(stale.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((stale + "/sub").c_str(), 0500), 0);
    ASSERT_TRUE(WriteFile(stale + "/old.txt", "old"));
    // A link inside points outside: emptying removes the link, not what it points to.
    ASSERT_TRUE(WriteFile(tmp / "outside.txt", "outside"));
    ASSERT_EQ(symlink((tmp / "outside.txt").c_str(), (stale + "/link").c_str()), 0);
    WorkingDirectory wd;
    ASSERT_EQ(wd.CreateWorkingDirectory(tmp.path()), 0);
    EXPECT_EQ(wd.path(), stale);
    EXPECT_EQ(ListDirectory(stale), std::vector<std::string>{"WEB"});
    EXPECT_EQ(test::ReadAll(tmp / "outside.txt"), "outside");
}

TEST(WorkingDirectory, ASymbolicLinkCandidateIsNeverFollowed) {
    test::ScratchDir tmp;
    const std::string target = tmp / "victim";
    ASSERT_EQ(mkdir(target.c_str(), 0755), 0);
    ASSERT_TRUE(WriteFile(target + "/precious.txt", "data"));
    ASSERT_EQ(symlink(target.c_str(), (tmp / "TSR10.TMP").c_str()), 0);
    // A plain file in the way of the second candidate is replaced.
    ASSERT_TRUE(WriteFile(tmp / "TSR1N10.TMP", "file"));
    WorkingDirectory wd;
    ASSERT_EQ(wd.CreateWorkingDirectory(tmp.path()), 0);
    EXPECT_EQ(wd.path(), tmp / "TSR1N10.TMP");
    EXPECT_EQ(ListDirectory(target), std::vector<std::string>{"precious.txt"});
    struct stat st;
    ASSERT_EQ(lstat((tmp / "TSR10.TMP").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    wd.DeleteWorkingDirectory();
    EXPECT_EQ(test::ReadAll(target + "/precious.txt"), "data");
}

TEST(WorkingDirectory, FailureCodes) {
    WorkingDirectory wd;
    EXPECT_EQ(wd.CreateWorkingDirectory("/nonexistent/tessora"), kWdNoTempDirectory);
    test::ScratchDir tmp;
    for (int i = 0; i <= 100; ++i)
        ASSERT_EQ(symlink("/nonexistent", (tmp / WorkingDirectory::CandidateName(i)).c_str()), 0);
    EXPECT_EQ(wd.CreateWorkingDirectory(tmp.path()), kWdNoCandidate);
    EXPECT_FALSE(wd.exists());
}

}  // namespace
}  // namespace tsr

namespace tsr {
namespace {

TEST(RemoveTreeTest, RemovesAnyDepthWithFewDescriptors) {
    test::ScratchDir scratch;
    const std::string top = scratch / "deep";
    ASSERT_EQ(mkdir(top.c_str(), 0700), 0);
    int fd = open(top.c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < 3000; ++i) {
        ASSERT_EQ(mkdirat(fd, "d", 0700), 0);
        int next = openat(fd, "d", O_RDONLY | O_DIRECTORY);
        if (i % 500 == 0) close(openat(next, "file", O_CREAT | O_WRONLY, 0600));
        if (i == 1500) symlinkat("/etc", next, "link");  // removed, never followed
        close(fd);
        fd = next;
    }
    close(fd);
    // With only a few descriptors left to the process, the removal still goes all the way.
    rlimit old{};
    getrlimit(RLIMIT_NOFILE, &old);
    rlimit few = old;
    few.rlim_cur = 64;
    setrlimit(RLIMIT_NOFILE, &few);
    const bool removed = RemoveTree(top);
    setrlimit(RLIMIT_NOFILE, &old);
    EXPECT_TRUE(removed);
    EXPECT_FALSE(test::Exists(top));
    EXPECT_TRUE(test::Exists("/etc/passwd"));
}

}  // namespace
}  // namespace tsr
