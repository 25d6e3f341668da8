#include "queue/folder_tree.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

TEST(RemoveFolderTree, RemovesHiddenAndReadOnlyEntriesAtEveryDepth) {
  kv_test::TempDir dir;
  const std::string job = dir.File("Holiday");
  kv_test::WriteFile(job + "/movie01.rmvb", "x");
  kv_test::WriteFile(job + "/.kvnj/.kvnj", "x");
  kv_test::WriteFile(job + "/.kvnj/sub/deep/file", "x");
  ASSERT_EQ(chmod((job + "/.kvnj/.kvnj").c_str(), 0444), 0);
  ASSERT_EQ(chmod((job + "/.kvnj/sub").c_str(), 0555), 0);
  EXPECT_TRUE(queue::RemoveFolderTree(job));
  EXPECT_FALSE(fs::exists(job));
}

TEST(RemoveFolderTree, RemovesLinksWithoutFollowingThem) {
  kv_test::TempDir dir;
  kv_test::WriteFile(dir.File("outside/keep.txt"), "keep");
  kv_test::MakeFolders(dir.File("job"));
  ASSERT_EQ(symlink(dir.File("outside").c_str(), dir.File("job/link").c_str()), 0);
  ASSERT_EQ(symlink(dir.File("outside/keep.txt").c_str(), dir.File("job/file-link").c_str()), 0);
  EXPECT_TRUE(queue::RemoveFolderTree(dir.File("job")));
  EXPECT_FALSE(fs::exists(dir.File("job")));
  EXPECT_EQ(kv_test::ReadFile(dir.File("outside/keep.txt")), "keep");
}

TEST(RemoveFolderTree, AMissingFolderRemovesNothingAndReportsNoFailure) {
  kv_test::TempDir dir;
  EXPECT_TRUE(queue::RemoveFolderTree(dir.File("absent")));
  EXPECT_TRUE(fs::exists(dir.Path()));
}

}  // namespace
