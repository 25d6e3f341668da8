#include "dvd/disc_checksum.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cctype>
#include <filesystem>

#include "tests/support/temp_dir.h"

namespace {

std::span<const uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

struct DiscFile {
  std::string name;
  std::string content;
};

// A small disc: navigation files with distinct contents, VOBs of distinct sizes.
std::vector<DiscFile> SampleDisc() {
  return {
      {"VIDEO_TS.IFO", "manager"},
      {"VIDEO_TS.BUP", "backup"},
      {"VIDEO_TS.VOB", std::string(5, 'v')},
      {"VTS_01_0.IFO", "title set 1"},
      {"VTS_01_0.BUP", "title set 1"},
      {"VTS_01_1.VOB", std::string(100, 'a')},
      {"VTS_01_2.VOB", std::string(50, 'b')},
      {"VTS_02_0.IFO", "title set 2"},
      {"VTS_02_1.VOB", std::string(70, 'c')},
  };
}

void WriteDisc(const std::string& folder, const std::vector<DiscFile>& files) {
  kv_test::MakeFolders(folder);
  for (const DiscFile& file : files) kv_test::WriteFile(folder + "/" + file.name, file.content);
}

TEST(DiscChecksumUpdate, ChainsLikeARunningCrc32) {
  EXPECT_EQ(dvd::AddToChecksum(dvd::kDiscChecksumStart, Bytes("abc")), 0x359A672Fu);
  EXPECT_EQ(dvd::AddToChecksum(0, Bytes("abc")), 0x352441C2u);
  EXPECT_EQ(
      dvd::AddToChecksum(dvd::AddToChecksum(dvd::kDiscChecksumStart, Bytes("ab")), Bytes("c")),
      0x359A672Fu);
}

// The stored values in analysis logs depend on the exact byte sequence.
TEST(DiscChecksumFolder, CoversFilesInTheDocumentedOrder) {
  kv_test::TempDir dir;
  WriteDisc(dir.Path(), {{"VIDEO_TS.IFO", "M"},
                         {"VTS_02_0.IFO", "T2"},
                         {"VTS_01_0.IFO", "T1"},
                         {"VTS_01_1.VOB", "xyz"},
                         {"VTS_02_3.VOB", std::string(300, 'z')}});
  auto Add = [](uLong crc, const std::string& bytes) {
    return crc32(crc, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size());
  };
  uLong expected = 0xFFFFFFFF;
  expected = Add(expected, "M");
  expected = Add(expected, std::string("\x01", 1) + "T1");
  expected = Add(expected, std::string("\x02", 1) + "T2");
  // No VIDEO_TS.VOB: nothing added for it.
  expected = Add(expected, std::string("\x01\x01\x03\0\0\0\0\0\0\0", 10));
  expected = Add(expected, std::string("\x02\x03\x2C\x01\0\0\0\0\0\0", 10));

  auto checksum = dvd::ComputeDiscChecksum(dir.Path());
  ASSERT_TRUE(checksum.has_value());
  EXPECT_EQ(*checksum, expected);
}

TEST(DiscChecksumFolder, SameDiscElsewhereGivesSameValue) {
  kv_test::TempDir dir;
  WriteDisc(dir.File("one/VIDEO_TS"), SampleDisc());
  WriteDisc(dir.File("moved/deeper/VIDEO_TS"), SampleDisc());
  std::vector<DiscFile> lower = SampleDisc();
  for (DiscFile& file : lower)
    for (char& c : file.name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  WriteDisc(dir.File("lower/VIDEO_TS"), lower);

  auto one = dvd::ComputeDiscChecksum(dir.File("one/VIDEO_TS"));
  ASSERT_TRUE(one.has_value());
  EXPECT_EQ(dvd::ComputeDiscChecksum(dir.File("moved/deeper/VIDEO_TS")), one);
  EXPECT_EQ(dvd::ComputeDiscChecksum(dir.File("one/VIDEO_TS//")), one);
  EXPECT_EQ(dvd::ComputeDiscChecksum(dir.File("lower/VIDEO_TS")), one);
}

TEST(DiscChecksumFolder, ChangesWithIfoBytesVobSizesAndNames) {
  kv_test::TempDir dir;
  WriteDisc(dir.File("base"), SampleDisc());
  auto base = dvd::ComputeDiscChecksum(dir.File("base"));
  ASSERT_TRUE(base.has_value());

  auto Variant = [&](const std::string& name, const std::string& file, const std::string& content) {
    std::vector<DiscFile> files = SampleDisc();
    bool replaced = false;
    for (DiscFile& f : files)
      if (f.name == file) f.content = content, replaced = true;
    if (!replaced) files.push_back({file, content});
    WriteDisc(dir.File(name), files);
    return dvd::ComputeDiscChecksum(dir.File(name));
  };
  EXPECT_NE(Variant("ifo_byte", "VTS_02_0.IFO", "title set 3"), base);
  EXPECT_NE(Variant("vmg_byte", "VIDEO_TS.IFO", "managex"), base);
  EXPECT_NE(Variant("vob_size", "VTS_01_2.VOB", std::string(51, 'b')), base);
  EXPECT_NE(Variant("menu_vob_size", "VIDEO_TS.VOB", std::string(6, 'v')), base);
  EXPECT_NE(Variant("new_vob", "VTS_02_2.VOB", ""), base);
  // VOB contents are never read and other files are not looked at.
  EXPECT_EQ(Variant("vob_content", "VTS_01_1.VOB", std::string(100, 'q')), base);
  EXPECT_EQ(Variant("backup", "VTS_01_0.BUP", "changed"), base);
  EXPECT_EQ(Variant("odd_name", "VTS_AB_0.IFO", "not a title set"), base);
}

TEST(DiscChecksumFolder, FailsOnOversizedIfo) {
  kv_test::TempDir dir;
  WriteDisc(dir.Path(), SampleDisc());
  std::filesystem::resize_file(dir.File("VTS_02_0.IFO"), dvd::kMaxChecksumFileSize + 1);
  EXPECT_FALSE(dvd::ComputeDiscChecksum(dir.Path()).has_value());
  std::filesystem::resize_file(dir.File("VTS_02_0.IFO"), dvd::kMaxChecksumFileSize);
  EXPECT_TRUE(dvd::ComputeDiscChecksum(dir.Path()).has_value());
}

TEST(DiscChecksumFolder, FailsOnUnreadableIfo) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  kv_test::TempDir dir;
  WriteDisc(dir.Path(), SampleDisc());
  chmod(dir.File("VIDEO_TS.IFO").c_str(), 0);
  EXPECT_FALSE(dvd::ComputeDiscChecksum(dir.Path()).has_value());
  chmod(dir.File("VIDEO_TS.IFO").c_str(), 0644);
}

// Works as root too: a name whose target is gone cannot be opened or sized.
TEST(DiscChecksumFolder, FailsOnIfoOrVobThatCannotBeRead) {
  kv_test::TempDir dir;
  WriteDisc(dir.File("ifo"), SampleDisc());
  ASSERT_TRUE(dvd::ComputeDiscChecksum(dir.File("ifo")).has_value());
  std::filesystem::create_symlink(dir.File("gone"), dir.File("ifo/VTS_03_0.IFO"));
  EXPECT_FALSE(dvd::ComputeDiscChecksum(dir.File("ifo")).has_value());

  WriteDisc(dir.File("vob"), SampleDisc());
  std::filesystem::create_symlink(dir.File("gone"), dir.File("vob/VTS_02_2.VOB"));
  EXPECT_FALSE(dvd::ComputeDiscChecksum(dir.File("vob")).has_value());

  WriteDisc(dir.File("menu"), SampleDisc());
  std::filesystem::remove(dir.File("menu/VIDEO_TS.VOB"));
  std::filesystem::create_symlink(dir.File("gone"), dir.File("menu/VIDEO_TS.VOB"));
  EXPECT_FALSE(dvd::ComputeDiscChecksum(dir.File("menu")).has_value());
}

// The searches look at files only: a folder that happens to carry a title set
// name is neither read nor counted.
TEST(DiscChecksumFolder, FoldersWithFileNamesAreIgnored) {
  kv_test::TempDir dir;
  WriteDisc(dir.File("plain"), SampleDisc());
  WriteDisc(dir.File("folders"), SampleDisc());
  kv_test::MakeFolders(dir.File("folders/VTS_03_0.IFO"));
  kv_test::MakeFolders(dir.File("folders/VTS_03_1.VOB"));
  auto plain = dvd::ComputeDiscChecksum(dir.File("plain"));
  ASSERT_TRUE(plain.has_value());
  EXPECT_EQ(dvd::ComputeDiscChecksum(dir.File("folders")), plain);
}

}  // namespace
