#include "platform/file_system.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

using platform::SearchKind;
using Names = std::vector<std::string>;

mode_t ModeOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

TEST(FileAttributes, HiddenIsTheLeadingDotAndReadOnlyTheOwnerWriteBit) {
  kv_test::TempDir dir;
  kv_test::WriteFile(dir.File("plain.txt"), "x");
  kv_test::WriteFile(dir.File(".hidden"), "x");
  kv_test::MakeFolders(dir.File(".kvn"));

  auto plain = platform::GetFileAttributes(dir.File("plain.txt"));
  ASSERT_TRUE(plain);
  EXPECT_FALSE(plain->hidden);
  EXPECT_FALSE(plain->read_only);
  EXPECT_FALSE(plain->directory);
  EXPECT_TRUE(platform::GetFileAttributes(dir.File(".hidden"))->hidden);

  auto folder = platform::GetFileAttributes(dir.File(".kvn") + "/");
  ASSERT_TRUE(folder);
  EXPECT_TRUE(folder->directory);
  EXPECT_TRUE(folder->hidden);

  EXPECT_FALSE(platform::GetFileAttributes(dir.File("missing")));
  // "." and ".." are names of folders, not hidden entries.
  EXPECT_FALSE(platform::GetFileAttributes(dir.File("."))->hidden);
}

TEST(FileAttributes, ReadOnlyIsSetAndClearedThroughTheModeBits) {
  kv_test::TempDir dir;
  const std::string file = dir.File(".avisynth.dll");
  kv_test::WriteFile(file, "x");
  ::chmod(file.c_str(), 0664);

  ASSERT_TRUE(platform::SetReadOnly(file, true));
  EXPECT_TRUE(platform::GetFileAttributes(file)->read_only);
  EXPECT_EQ(ModeOf(file) & 0222, 0u);

  ASSERT_TRUE(platform::ClearFileAttributes(file));
  auto cleared = platform::GetFileAttributes(file);
  EXPECT_FALSE(cleared->read_only);
  EXPECT_TRUE(cleared->hidden);  // belongs to the name
  EXPECT_NE(ModeOf(file) & S_IWUSR, 0u);

  EXPECT_FALSE(platform::SetReadOnly(dir.File("missing"), true));
  EXPECT_FALSE(platform::ClearFileAttributes(dir.File("missing")));
}

TEST(FileExistence, FilesAndFoldersAreToldApartThroughLinks) {
  kv_test::TempDir dir;
  kv_test::WriteFile(dir.File("f"), "x");
  kv_test::MakeFolders(dir.File("d"));
  ASSERT_EQ(::symlink(dir.File("f").c_str(), dir.File("link-f").c_str()), 0);
  ASSERT_EQ(::symlink(dir.File("d").c_str(), dir.File("link-d").c_str()), 0);
  ASSERT_EQ(::symlink(dir.File("gone").c_str(), dir.File("dangling").c_str()), 0);

  EXPECT_TRUE(platform::FileExists(dir.File("f")));
  EXPECT_FALSE(platform::FileExists(dir.File("d")));
  EXPECT_TRUE(platform::DirectoryExists(dir.File("d")));
  EXPECT_FALSE(platform::DirectoryExists(dir.File("f")));
  EXPECT_TRUE(platform::FileExists(dir.File("link-f")));
  EXPECT_TRUE(platform::DirectoryExists(dir.File("link-d")));
  EXPECT_FALSE(platform::FileExists(dir.File("dangling")));
  EXPECT_FALSE(platform::FileExists(""));
}

TEST(FileSize, IsSixtyFourBit) {
  kv_test::TempDir dir;
  const std::string file = dir.File("VTS_01_1.VOB");
  const int fd = ::open(file.c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  const int64_t five_gib = int64_t{5} << 30;
  ASSERT_EQ(::ftruncate(fd, five_gib), 0);  // sparse
  ::close(fd);
  EXPECT_EQ(platform::FileSize(file), five_gib);

  kv_test::WriteFile(dir.File("empty"), "");
  EXPECT_EQ(platform::FileSize(dir.File("empty")), 0);
  EXPECT_FALSE(platform::FileSize(dir.File("missing")));
  EXPECT_FALSE(platform::FileSize(dir.Path()));
}

TEST(CopyFileNoOverwrite, CopiesContentsAndModeBits) {
  kv_test::TempDir dir;
  std::string content;
  for (int i = 0; i < 300000; ++i) content += static_cast<char>(i * 7 + i / 256);
  kv_test::WriteFile(dir.File("src/devil.dll"), content);
  ::chmod(dir.File("src/devil.dll").c_str(), 0555);
  kv_test::MakeFolders(dir.File("system"));

  ASSERT_TRUE(
      platform::CopyFileNoOverwrite(dir.File("src/devil.dll"), dir.File("system/devil.dll")));
  EXPECT_EQ(kv_test::ReadFile(dir.File("system/devil.dll")), content);
  EXPECT_EQ(ModeOf(dir.File("system/devil.dll")), 0555u);
  EXPECT_TRUE(platform::GetFileAttributes(dir.File("system/devil.dll"))->read_only);
  // Nothing else was left in the target folder.
  EXPECT_EQ(platform::FindFiles(dir.File("system"), "*", SearchKind::Both), Names{"devil.dll"});
}

TEST(CopyFileNoOverwrite, FailsWhenTheTargetExistsAndLeavesItAlone) {
  kv_test::TempDir dir;
  kv_test::WriteFile(dir.File("new.dll"), "new");
  kv_test::WriteFile(dir.File("system/avisynth.dll"), "old");

  EXPECT_FALSE(platform::CopyFileNoOverwrite(dir.File("new.dll"), dir.File("system/avisynth.dll")));
  EXPECT_EQ(kv_test::ReadFile(dir.File("system/avisynth.dll")), "old");
  // A dangling link counts as an existing target too.
  ASSERT_EQ(::symlink("nowhere", dir.File("system/link.dll").c_str()), 0);
  EXPECT_FALSE(platform::CopyFileNoOverwrite(dir.File("new.dll"), dir.File("system/link.dll")));
  EXPECT_EQ(platform::FindFiles(dir.File("system"), "*", SearchKind::Both),
            (Names{"avisynth.dll", "link.dll"}));
}

TEST(CopyFileNoOverwrite, FailsWithoutSourceOrTargetFolderAndLeavesNothing) {
  kv_test::TempDir dir;
  kv_test::MakeFolders(dir.File("system"));
  EXPECT_FALSE(platform::CopyFileNoOverwrite(dir.File("missing.dll"), dir.File("system/a.dll")));
  EXPECT_FALSE(platform::CopyFileNoOverwrite(dir.File("system"), dir.File("system/b.dll")));
  EXPECT_TRUE(platform::FindFiles(dir.File("system"), "*", SearchKind::Both).empty());

  kv_test::WriteFile(dir.File("a.dll"), "a");
  EXPECT_FALSE(platform::CopyFileNoOverwrite(dir.File("a.dll"), dir.File("nofolder/a.dll")));
}

TEST(CopyFileReplacing, ReplacesTheTargetButNeverFollowsALink) {
  kv_test::TempDir dir;
  kv_test::WriteFile(dir.File("a.idx"), "new");
  kv_test::WriteFile(dir.File("job/a.idx"), "old");
  kv_test::WriteFile(dir.File("outside"), "kept");
  ASSERT_TRUE(platform::CopyFileReplacing(dir.File("a.idx"), dir.File("job/a.idx")));
  EXPECT_EQ(kv_test::ReadFile(dir.File("job/a.idx")), "new");
  // A link as the source fails; one as the target is replaced, not written through.
  ASSERT_EQ(::symlink(dir.File("outside").c_str(), dir.File("job/in.lnk").c_str()), 0);
  ASSERT_EQ(::symlink(dir.File("outside").c_str(), dir.File("job/out.lnk").c_str()), 0);
  EXPECT_FALSE(platform::CopyFileReplacing(dir.File("job/in.lnk"), dir.File("job/b.idx")));
  ASSERT_TRUE(platform::CopyFileReplacing(dir.File("a.idx"), dir.File("job/out.lnk")));
  EXPECT_EQ(kv_test::ReadFile(dir.File("outside")), "kept");
  EXPECT_EQ(kv_test::ReadFile(dir.File("job/out.lnk")), "new");
  EXPECT_FALSE(platform::CopyFileReplacing(dir.File("missing"), dir.File("job/c.idx")));
  EXPECT_EQ(platform::FindFiles(dir.File("job"), "*", SearchKind::Both),
            (Names{"a.idx", "in.lnk", "out.lnk"}));
}

TEST(RenameFile, RenamesFilesAndFoldersButNeverReplaces) {
  kv_test::TempDir dir;
  kv_test::WriteFile(dir.File("avisynth.dll"), "system");
  kv_test::WriteFile(dir.File("avisynth.dll.bak"), "backup");
  kv_test::WriteFile(dir.File("job/a.txt"), "a");
  kv_test::MakeFolders(dir.File("other"));

  EXPECT_FALSE(platform::RenameFile(dir.File("avisynth.dll"), dir.File("avisynth.dll.bak")));
  EXPECT_EQ(kv_test::ReadFile(dir.File("avisynth.dll")), "system");
  EXPECT_EQ(kv_test::ReadFile(dir.File("avisynth.dll.bak")), "backup");
  EXPECT_FALSE(platform::RenameFile(dir.File("job"), dir.File("other")));
  EXPECT_FALSE(platform::RenameFile(dir.File("avisynth.dll"), dir.File("other")));

  ASSERT_TRUE(platform::DeleteFile(dir.File("avisynth.dll.bak")));
  EXPECT_TRUE(platform::RenameFile(dir.File("avisynth.dll"), dir.File("avisynth.dll.bak")));
  EXPECT_FALSE(platform::FileExists(dir.File("avisynth.dll")));
  EXPECT_EQ(kv_test::ReadFile(dir.File("avisynth.dll.bak")), "system");

  EXPECT_TRUE(platform::RenameFile(dir.File("job"), dir.File("job2")));
  EXPECT_EQ(kv_test::ReadFile(dir.File("job2/a.txt")), "a");
  EXPECT_FALSE(platform::RenameFile(dir.File("missing"), dir.File("x")));
}

TEST(ReplaceFileContents, ReplacesTheWholeFileAndLeavesNoTemporaryBehind) {
  kv_test::TempDir dir;
  const std::string path = dir.File("job/.kvnj/a.kvnj");
  kv_test::WriteFile(path, "a much longer old content\r\n.\r\n");
  ASSERT_TRUE(platform::ReplaceFileContents(path, "new\r\n"));
  EXPECT_EQ(kv_test::ReadFile(path), "new\r\n");
  EXPECT_EQ(ModeOf(path), 0644u);
  EXPECT_EQ(platform::FindFiles(dir.File("job/.kvnj"), "*", SearchKind::Both), Names{"a.kvnj"});
  // A missing file is created; a missing folder is a failure.
  EXPECT_TRUE(platform::ReplaceFileContents(dir.File("job/fresh.txt"), "x"));
  EXPECT_EQ(kv_test::ReadFile(dir.File("job/fresh.txt")), "x");
  EXPECT_FALSE(platform::ReplaceFileContents(dir.File("nowhere/file.txt"), "x"));
}

TEST(ReplaceFileContents, AFullDiskKeepsTheOldContent) {
  kv_test::TempDir dir;
  const std::string path = dir.File("status.txt");
  const std::string old_content = "old content that must survive\r\n";
  kv_test::WriteFile(path, old_content);
  // The child may write only 4 KB per file: the new content does not fit,
  // as on a full disk.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    _exit(platform::ReplaceFileContents(path, std::string(100000, 'x')) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the failed write was reported as success";
  EXPECT_EQ(kv_test::ReadFile(path), old_content);
  EXPECT_EQ(platform::FindFiles(dir.Path(), "*", SearchKind::Both), Names{"status.txt"});
}

TEST(DeleteAndFolders, DeleteFileTakesFilesOnlyAndFoldersGoWhenEmpty) {
  kv_test::TempDir dir;
  kv_test::WriteFile(dir.File("d/f"), "x");
  EXPECT_FALSE(platform::DeleteFile(dir.File("d")));
  EXPECT_FALSE(platform::RemoveDirectory(dir.File("d")));
  EXPECT_TRUE(platform::DeleteFile(dir.File("d/f")));
  EXPECT_FALSE(platform::DeleteFile(dir.File("d/f")));
  EXPECT_TRUE(platform::RemoveDirectory(dir.File("d")));
  EXPECT_FALSE(platform::DirectoryExists(dir.File("d")));

  EXPECT_TRUE(platform::CreateDirectory(dir.File("n")));
  EXPECT_FALSE(platform::CreateDirectory(dir.File("n")));    // exists
  EXPECT_FALSE(platform::CreateDirectory(dir.File("a/b")));  // one level only
  EXPECT_TRUE(platform::DirectoryExists(dir.File("n")));
}

TEST(WildcardMatch, FollowsTheWindowsSearch) {
  using platform::WildcardMatch;
  EXPECT_TRUE(WildcardMatch("VTS_??_0.IFO", "VTS_01_0.IFO"));
  EXPECT_TRUE(WildcardMatch("VTS_??_0.IFO", "vts_12_0.ifo"));
  EXPECT_FALSE(WildcardMatch("VTS_??_0.IFO", "VTS_1_0.IFO"));
  EXPECT_FALSE(WildcardMatch("VTS_??_0.IFO", "VTS_123_0.IFO"));
  EXPECT_FALSE(WildcardMatch("VTS_??_0.IFO", "VTS_01_0.IFO.BAK"));
  EXPECT_TRUE(WildcardMatch("VTS_??_*.VOB", "VTS_01_1.VOB"));
  EXPECT_TRUE(WildcardMatch("VTS_??_*.VOB", "VTS_01_.VOB"));
  EXPECT_FALSE(WildcardMatch("VTS_??_*.VOB", "VTS_01_1.VOB.part"));
  EXPECT_TRUE(WildcardMatch("*.VOB", "a.b.vob"));
  EXPECT_TRUE(WildcardMatch("*", ".hidden"));
  EXPECT_TRUE(WildcardMatch("a*b*c", "aXbYbZc"));
  EXPECT_FALSE(WildcardMatch("a*b*c", "aXbYbZ"));
  // "*.*" is every name, with or without a dot.
  EXPECT_TRUE(WildcardMatch("*.*", "README"));
  EXPECT_TRUE(WildcardMatch("*.*", ".kvn"));
  EXPECT_TRUE(WildcardMatch("VIDEO_TS.*", "VIDEO_TS"));
  EXPECT_TRUE(WildcardMatch("VIDEO_TS.*", "video_ts.bup"));
  // A trailing "." asks for names without an extension.
  EXPECT_TRUE(WildcardMatch("*.", "README"));
  EXPECT_FALSE(WildcardMatch("*.", "A.TXT"));
  // Case is ignored beyond ASCII too; "?" is one character, not one byte.
  EXPECT_TRUE(WildcardMatch("ÄRGER.TXT", "ärger.txt"));
  EXPECT_TRUE(WildcardMatch("?.txt", "é.txt"));
  EXPECT_FALSE(WildcardMatch("?", ""));
  EXPECT_FALSE(WildcardMatch("abc", "abd"));
}

TEST(FindFiles, ListsMatchingEntriesOfTheKindAskedSorted) {
  kv_test::TempDir dir;
  for (const char* name : {"VTS_02_0.IFO", "vts_01_0.ifo", "VTS_1_0.IFO", "VTS_01_1.VOB",
                           "VIDEO_TS.IFO", ".VTS_09_0.IFO"})
    kv_test::WriteFile(dir.File(name), "x");
  kv_test::MakeFolders(dir.File("VTS_03_0.IFO"));
  ::chmod(dir.File("VTS_02_0.IFO").c_str(), 0444);

  EXPECT_EQ(platform::FindFiles(dir.Path(), "VTS_??_0.IFO"),
            (Names{"vts_01_0.ifo", "VTS_02_0.IFO"}));
  EXPECT_EQ(platform::FindFiles(dir.Path(), "VTS_??_0.IFO", SearchKind::Directories),
            Names{"VTS_03_0.IFO"});
  EXPECT_EQ(platform::FindFiles(dir.Path(), "VTS_??_0.IFO", SearchKind::Both),
            (Names{"vts_01_0.ifo", "VTS_02_0.IFO", "VTS_03_0.IFO"}));
  EXPECT_EQ(platform::FindFiles(dir.Path(), "*.*"),
            (Names{".VTS_09_0.IFO", "VIDEO_TS.IFO", "vts_01_0.ifo", "VTS_01_1.VOB", "VTS_02_0.IFO",
                   "VTS_1_0.IFO"}));
  EXPECT_EQ(platform::FindFiles(dir.Path(), "*.*", SearchKind::Directories), Names{"VTS_03_0.IFO"});
  EXPECT_TRUE(platform::FindFiles(dir.File("missing"), "*").empty());
}

TEST(FindFiles, FollowsLinksToTellFilesFromFolders) {
  kv_test::TempDir dir;
  kv_test::WriteFile(dir.File("real/VTS_01_1.VOB"), "x");
  ASSERT_EQ(::symlink(dir.File("real").c_str(), dir.File("VIDEO_TS").c_str()), 0);
  ASSERT_EQ(::symlink(dir.File("real/VTS_01_1.VOB").c_str(), dir.File("link.VOB").c_str()), 0);
  EXPECT_EQ(platform::FindFiles(dir.Path(), "*", SearchKind::Directories),
            (Names{"real", "VIDEO_TS"}));
  EXPECT_EQ(platform::FindFiles(dir.Path(), "*"), Names{"link.VOB"});
}

TEST(Paths, JoinPathPutsExactlyOneSeparator) {
  EXPECT_EQ(platform::JoinPath("/a", "b"), "/a/b");
  EXPECT_EQ(platform::JoinPath("/a/", "b"), "/a/b");
  EXPECT_EQ(platform::JoinPath("/a//", "/b"), "/a/b");
  EXPECT_EQ(platform::JoinPath("/", "b"), "/b");
  EXPECT_EQ(platform::JoinPath("rel", "b/c"), "rel/b/c");
  EXPECT_EQ(platform::JoinPath("", "b"), "b");
}

TEST(Paths, CurrentFolderFollowsSetCurrentFolder) {
  kv_test::TempDir dir;
  const std::string before = platform::CurrentFolder();
  ASSERT_FALSE(before.empty());
  char resolved[4096];
  ASSERT_NE(::realpath(dir.Path().c_str(), resolved), nullptr);
  ASSERT_TRUE(platform::SetCurrentFolder(dir.Path()));
  EXPECT_EQ(platform::CurrentFolder(), resolved);
  kv_test::WriteFile("here.txt", "x");
  EXPECT_TRUE(platform::FileExists(dir.File("here.txt")));
  EXPECT_FALSE(platform::SetCurrentFolder(dir.File("missing")));
  EXPECT_EQ(platform::CurrentFolder(), resolved);
  ASSERT_TRUE(platform::SetCurrentFolder(before));
}

}  // namespace
