#include "dvd/ifo_reader.h"

#include <gtest/gtest.h>

#include "tests/dvd/ifo_image.h"
#include "tests/support/temp_dir.h"

namespace {

using kv_test::IfoImage;
using kv_test::PgcImage;

std::unique_ptr<dvd::IfoFile> FromImage(const std::vector<uint8_t>& bytes) {
  return dvd::IfoFile::OpenBytes(bytes);
}

PgcImage Chain(std::vector<uint8_t> block_modes) {
  PgcImage pgc;
  pgc.block_modes = std::move(block_modes);
  return pgc;
}

// --- opening ---------------------------------------------------------------

TEST(IfoOpen, ReadsTitleSetFileByNumberFromFolder) {
  kv_test::TempDir dir;
  IfoImage image;
  image.pgcs = {Chain({0}), Chain({0, 0})};
  kv_test::WriteFile(dir.File("VTS_03_0.IFO"), image.BuildString());

  auto ifo = dvd::IfoFile::Open(dir.Path(), 3);
  ASSERT_NE(ifo, nullptr);
  EXPECT_EQ(ifo->PgcCount(), 2);
  EXPECT_EQ(dvd::IfoFile::Open(dir.Path(), 1), nullptr);
}

TEST(IfoOpen, FindsLowerCaseNameOnCaseSensitiveDisk) {
  kv_test::TempDir dir;
  IfoImage image;
  image.pgcs = {Chain({0})};
  kv_test::WriteFile(dir.File("vts_12_0.ifo"), image.BuildString());
  auto ifo = dvd::IfoFile::Open(dir.Path(), 12);
  ASSERT_NE(ifo, nullptr);
  EXPECT_EQ(ifo->PgcCount(), 1);
}

TEST(IfoOpen, RefusesVideoManagerFile) {
  IfoImage image;
  image.identifier = "DVDVIDEO-VMG";
  EXPECT_EQ(FromImage(image.Build()), nullptr);
}

TEST(IfoOpen, RefusesFileShorterThanOneSector) {
  std::vector<uint8_t> bytes = IfoImage().Build();
  bytes.resize(2047);
  EXPECT_EQ(FromImage(bytes), nullptr);
  EXPECT_EQ(FromImage({}), nullptr);

  kv_test::TempDir dir;
  kv_test::WriteFile(dir.File("VTS_01_0.IFO"), "");
  EXPECT_EQ(dvd::IfoFile::Open(dir.Path(), 1), nullptr);
}

// --- program chain table -----------------------------------------------------

TEST(IfoPgcTable, IndexEqualToCountGivesNone) {
  IfoImage image;
  image.pgcs = {Chain({0}), Chain({0})};
  auto ifo = FromImage(image.Build());
  ASSERT_NE(ifo, nullptr);
  EXPECT_TRUE(ifo->Pgc(1).has_value());
  EXPECT_FALSE(ifo->Pgc(2).has_value());
  EXPECT_FALSE(ifo->Summary(2).has_value());
  EXPECT_FALSE(ifo->Pgc(-1).has_value());
}

TEST(IfoPgcTable, AbsentOrUnreadableTableGivesNoChains) {
  IfoImage absent;
  absent.pgcs = {Chain({0})};
  absent.pgci_sector = 0;
  auto ifo = FromImage(absent.Build());
  ASSERT_NE(ifo, nullptr);
  EXPECT_EQ(ifo->PgcCount(), 0);
  EXPECT_FALSE(ifo->Pgc(0).has_value());

  IfoImage image;
  image.pgcs = {Chain({0})};
  std::vector<uint8_t> beyond = image.Build();
  kv_test::PutBe32(beyond, 0xCC, 5000);  // sector past the end of the file
  ifo = FromImage(beyond);
  ASSERT_NE(ifo, nullptr);
  EXPECT_EQ(ifo->PgcCount(), 0);

  std::vector<uint8_t> too_long = image.Build();
  kv_test::PutBe32(too_long, kv_test::kImagePgciOffset + 4, 0xFFFFFFFF);  // end address
  ifo = FromImage(too_long);
  ASSERT_NE(ifo, nullptr);
  EXPECT_EQ(ifo->PgcCount(), 0);
  EXPECT_FALSE(ifo->Summary(0).has_value());
}

TEST(IfoPgcTable, TableLargerThanOneSectorIsReadWhole) {
  IfoImage image;
  for (int i = 0; i < 20; ++i) {
    PgcImage pgc = Chain({0});
    pgc.time = {0x00, 0x00, static_cast<uint8_t>((i / 10) << 4 | (i % 10)), 0x40};
    image.pgcs.push_back(pgc);
  }
  std::vector<uint8_t> bytes = image.Build();
  ASSERT_GT(kv_test::GetBe32(bytes, kv_test::kImagePgciOffset + 4) + 1, 2048u);
  auto ifo = FromImage(bytes);
  ASSERT_NE(ifo, nullptr);
  ASSERT_EQ(ifo->PgcCount(), 20);
  auto last = ifo->Summary(19);
  ASSERT_TRUE(last.has_value());
  EXPECT_EQ(last->seconds, 19);
}

TEST(IfoPgcTable, ChainOrCellTableOutsideTheTableGivesNone) {
  IfoImage image;
  image.pgcs = {Chain({0}), Chain({1, 3})};
  std::vector<uint8_t> bytes = image.Build();
  uint32_t table_size = kv_test::GetBe32(bytes, kv_test::kImagePgciOffset + 4) + 1;
  uint32_t second = kv_test::GetBe32(bytes, kv_test::kImagePgciOffset + 20);

  std::vector<uint8_t> chain_outside = bytes;
  kv_test::PutBe32(chain_outside, kv_test::kImagePgciOffset + 12, table_size - 10);
  auto ifo = FromImage(chain_outside);
  ASSERT_NE(ifo, nullptr);
  EXPECT_FALSE(ifo->Pgc(0).has_value());
  EXPECT_FALSE(ifo->Summary(0).has_value());
  EXPECT_TRUE(ifo->Summary(1).has_value());

  std::vector<uint8_t> cells_outside = bytes;
  kv_test::PutBe16(cells_outside, kv_test::kImagePgciOffset + second + 0xE8, 0xFFF0);
  ifo = FromImage(cells_outside);
  ASSERT_NE(ifo, nullptr);
  EXPECT_TRUE(ifo->Pgc(1).has_value());
  EXPECT_FALSE(ifo->CellBlockModes(1).has_value());
  EXPECT_FALSE(ifo->Summary(1).has_value());
}

// --- summaries ---------------------------------------------------------------

TEST(IfoSummary, ConvertsBcdPlayingTimeAndKeepsRateCode) {
  IfoImage image;
  PgcImage pal = Chain({0});
  pal.time = {0x01, 0x59, 0x30, 0x65};
  PgcImage ntsc = Chain({0});
  ntsc.time = {0x00, 0x07, 0x08, 0xC0 | 0x29};
  image.pgcs = {pal, ntsc};
  auto ifo = FromImage(image.Build());
  ASSERT_NE(ifo, nullptr);

  auto first = ifo->Summary(0);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->hours, 1);
  EXPECT_EQ(first->minutes, 59);
  EXPECT_EQ(first->seconds, 30);
  EXPECT_EQ(first->frames_and_rate, 0x59);
  EXPECT_EQ(first->Frames(), 25);
  EXPECT_EQ(first->RateCode(), 1);

  auto second = ifo->Summary(1);
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(second->minutes, 7);
  EXPECT_EQ(second->seconds, 8);
  EXPECT_EQ(second->Frames(), 29);
  EXPECT_EQ(second->RateCode(), 3);
}

TEST(IfoSummary, AnglesAreTheSizeOfTheLastAngleBlock) {
  IfoImage image;
  image.pgcs = {
      Chain({0, 0, 0}),              // no block
      Chain({1, 3, 0, 0}),           // 2 angles, then ordinary cells
      Chain({0, 1, 2, 3}),           // 3 angles
      Chain({1, 2, 2, 3, 0, 1, 3}),  // the last block decides
      Chain({}),                     // no cells at all
  };
  auto ifo = FromImage(image.Build());
  ASSERT_NE(ifo, nullptr);
  const int expected[] = {0, 2, 3, 2, 0};
  for (int i = 0; i < 5; ++i) {
    auto summary = ifo->Summary(i);
    ASSERT_TRUE(summary.has_value()) << i;
    EXPECT_EQ(summary->angles, expected[i]) << i;
  }
  EXPECT_EQ(ifo->CellBlockModes(1), (std::vector<uint8_t>{1, 3, 0, 0}));
}

// --- stream attributes and stream control --------------------------------------

TEST(IfoStreams, ReadsAudioAndSubpictureAttributes) {
  IfoImage image;
  image.audio_count = 3;
  image.audio[0] = {6, "en", 1};
  image.audio[1] = {2, "fr", 3};
  image.audio[2] = {8, "", 0};
  image.subpicture_count = 2;
  image.subpicture_languages = {"de", "es"};
  auto ifo = FromImage(image.Build());
  ASSERT_NE(ifo, nullptr);

  dvd::VtsAudioAttr audio = ifo->AudioAttributes();
  EXPECT_EQ(audio.count, 3);
  EXPECT_EQ(audio.streams[0].channels, 6);
  EXPECT_EQ(audio.streams[0].language, 0x656E);
  EXPECT_EQ(audio.streams[1].channels, 2);
  EXPECT_EQ(audio.streams[1].language, 0x6672);
  EXPECT_EQ(audio.streams[1].code_extension, 3);
  EXPECT_EQ(audio.streams[2].channels, 8);
  EXPECT_EQ(audio.streams[2].language, 0);

  dvd::VtsSubpictureAttr sub = ifo->SubpictureAttributes();
  ASSERT_EQ(sub.count, 2);
  ASSERT_EQ(sub.streams.size(), 2u);
  EXPECT_EQ(sub.streams[0].language, 0x6465);
  EXPECT_EQ(sub.streams[1].language, 0x6573);
}

TEST(IfoStreams, CountsAboveTheMaximumsAreLimited) {
  IfoImage image;
  image.audio_count = 12;
  image.subpicture_count = 200;
  auto ifo = FromImage(image.Build());
  ASSERT_NE(ifo, nullptr);
  EXPECT_EQ(ifo->AudioAttributes().count, 8);
  dvd::VtsSubpictureAttr sub = ifo->SubpictureAttributes();
  EXPECT_EQ(sub.count, 32);
  EXPECT_EQ(sub.streams.size(), 32u);
}

TEST(IfoStreams, ReadsStreamControlOfAChain) {
  IfoImage image;
  PgcImage pgc = Chain({0});
  pgc.audio_control[0] = {0x80, 0x00};
  pgc.audio_control[1] = {0x83, 0x00};
  pgc.audio_control[2] = {0x02, 0x00};  // not available
  pgc.subpicture_control[0] = {0x80, 0x00, 0x00, 0x00};
  pgc.subpicture_control[31] = {0x81, 0x05, 0x06, 0x07};
  image.pgcs = {pgc};
  auto ifo = FromImage(image.Build());
  ASSERT_NE(ifo, nullptr);
  auto bytes = ifo->Pgc(0);
  ASSERT_TRUE(bytes.has_value());

  EXPECT_TRUE(dvd::PgcAudioControl(*bytes, 0).available);
  EXPECT_EQ(dvd::PgcAudioControl(*bytes, 1).stream, 3);
  EXPECT_FALSE(dvd::PgcAudioControl(*bytes, 2).available);
  EXPECT_EQ(dvd::PgcAudioControl(*bytes, 2).stream, 2);
  EXPECT_FALSE(dvd::PgcAudioControl(*bytes, 7).available);

  dvd::SubpictureStreamControl last = dvd::PgcSubpictureControl(*bytes, 31);
  EXPECT_TRUE(last.available);
  EXPECT_EQ(last.stream_4_3, 1);
  EXPECT_EQ(last.stream_wide, 5);
  EXPECT_FALSE(dvd::PgcSubpictureControl(*bytes, 1).available);
}

}  // namespace
