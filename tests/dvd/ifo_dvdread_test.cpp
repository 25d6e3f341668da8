// Our reader against libdvdread, an independent reader, over every title set
// of the sample discs.
#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>

#include "dvd/disc_checksum.h"
#include "dvd/ifo_reader.h"
#include "platform/file_system.h"
#include "tests/support/sample_dvds.h"
#include "tests/support/temp_dir.h"

namespace {

const char* const kReadableDiscs[] = {
    "pal_letterbox",   "ntsc_multi", "ntsc_film",    "ntsc_mixed",        "bad_truncated_vob",
    "bad_missing_vob", "pal_angles", "pal_restarts", "pal_sound_offsets", "pal_wide_subtitles"};

int Bcd(uint8_t value) {
  return (value >> 4) * 10 + (value & 0x0F);
}

std::vector<int> TitleSets(const std::string& video_ts) {
  std::vector<int> numbers;
  for (const std::string& name : platform::FindFiles(video_ts, "VTS_??_0.IFO")) {
    int n = 0;
    if (std::sscanf(name.c_str(), "%*4c%d", &n) == 1) numbers.push_back(n);
  }
  return numbers;
}

class SampleDiscs : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::is_directory(kv_test::SampleDvdRoot()))
      GTEST_SKIP() << "no sample discs at " << kv_test::SampleDvdRoot();
  }
};

void CompareTitleSet(const std::string& disc, int title_set, dvd_reader_t* reader) {
  SCOPED_TRACE(disc + " title set " + std::to_string(title_set));
  ifo_handle_t* theirs = ifoOpen(reader, title_set);
  ASSERT_NE(theirs, nullptr);
  auto ours = dvd::IfoFile::Open(kv_test::SampleVideoTs(disc), title_set);
  ASSERT_NE(ours, nullptr);

  const vtsi_mat_t* mat = theirs->vtsi_mat;
  dvd::VtsAudioAttr audio = ours->AudioAttributes();
  ASSERT_EQ(audio.count, std::min<int>(mat->nr_of_vts_audio_streams, 8));
  for (int k = 0; k < audio.count; ++k) {
    EXPECT_EQ(audio.streams[k].channels, mat->vts_audio_attr[k].channels + 1) << k;
    EXPECT_EQ(audio.streams[k].language, mat->vts_audio_attr[k].lang_code) << k;
    EXPECT_EQ(audio.streams[k].code_extension, mat->vts_audio_attr[k].code_extension) << k;
  }
  dvd::VtsSubpictureAttr sub = ours->SubpictureAttributes();
  ASSERT_EQ(sub.count, std::min<int>(mat->nr_of_vts_subp_streams, 32));
  for (int k = 0; k < sub.count; ++k)
    EXPECT_EQ(sub.streams[k].language, mat->vts_subp_attr[k].lang_code) << k;

  const pgcit_t* pgcit = theirs->vts_pgcit;
  ASSERT_NE(pgcit, nullptr);
  ASSERT_EQ(ours->PgcCount(), pgcit->nr_of_pgci_srp);
  for (int i = 0; i < pgcit->nr_of_pgci_srp; ++i) {
    SCOPED_TRACE("program chain " + std::to_string(i));
    const pgc_t* pgc = pgcit->pgci_srp[i].pgc;
    auto summary = ours->Summary(i);
    auto modes = ours->CellBlockModes(i);
    auto bytes = ours->Pgc(i);
    ASSERT_TRUE(summary && modes && bytes);
    EXPECT_EQ(summary->hours, Bcd(pgc->playback_time.hour));
    EXPECT_EQ(summary->minutes, Bcd(pgc->playback_time.minute));
    EXPECT_EQ(summary->seconds, Bcd(pgc->playback_time.second));
    EXPECT_EQ(summary->Frames(), Bcd(pgc->playback_time.frame_u & 0x3F));
    EXPECT_EQ(summary->RateCode(), pgc->playback_time.frame_u >> 6);
    ASSERT_EQ(modes->size(), pgc->nr_of_cells);
    for (size_t c = 0; c < modes->size(); ++c)
      EXPECT_EQ((*modes)[c], pgc->cell_playback[c].block_mode) << "cell " << c;
    for (int k = 0; k < 8; ++k) {
      dvd::AudioStreamControl control = dvd::PgcAudioControl(*bytes, k);
      EXPECT_EQ(control.available, (pgc->audio_control[k] & 0x8000) != 0) << k;
      EXPECT_EQ(control.stream, (pgc->audio_control[k] >> 8) & 0x7F) << k;
    }
    for (int k = 0; k < 32; ++k) {
      dvd::SubpictureStreamControl control = dvd::PgcSubpictureControl(*bytes, k);
      uint32_t entry = pgc->subp_control[k];
      EXPECT_EQ(control.available, (entry & 0x80000000u) != 0) << k;
      EXPECT_EQ(control.stream_4_3, static_cast<int>((entry >> 24) & 0x7F)) << k;
      EXPECT_EQ(control.stream_wide, static_cast<int>((entry >> 16) & 0xFF)) << k;
    }
  }
  ifoClose(theirs);
}

TEST_F(SampleDiscs, ReaderAgreesWithLibdvdreadOnEveryTitleSet) {
  int compared = 0;
  for (const char* disc : kReadableDiscs) {
    std::string video_ts = kv_test::SampleVideoTs(disc);
    ASSERT_TRUE(std::filesystem::is_directory(video_ts)) << video_ts;
    dvd_reader_t* reader = DVDOpen((kv_test::SampleDvdRoot() + "/" + disc).c_str());
    ASSERT_NE(reader, nullptr) << disc;
    for (int title_set : TitleSets(video_ts)) {
      CompareTitleSet(disc, title_set, reader);
      ++compared;
    }
    DVDClose(reader);
  }
  EXPECT_GE(compared, 7);  // ntsc_multi alone has two
}

TEST_F(SampleDiscs, EmptyIfoIsRefusedButStillChecksummed) {
  std::string video_ts = kv_test::SampleVideoTs("bad_empty_ifo");
  int empty = 0;
  for (int title_set : TitleSets(video_ts)) {
    char name[32];
    std::snprintf(name, sizeof name, "VTS_%.2d_0.IFO", title_set);
    if (platform::FileSize(platform::JoinPath(video_ts, name)).value_or(-1) != 0) continue;
    EXPECT_EQ(dvd::IfoFile::Open(video_ts, title_set), nullptr) << name;
    ++empty;
  }
  EXPECT_GE(empty, 1);
  EXPECT_TRUE(dvd::ComputeDiscChecksum(video_ts).has_value());
}

// A copy elsewhere with the same IFO files and VOBs of the same sizes (here
// sparse, never read) is the same disc; a disc that lost a VOB or has a VOB
// cut short is not.
TEST_F(SampleDiscs, ChecksumRecognisesMovedCopyAndDamagedDiscs) {
  std::map<std::string, dvd::DiscChecksum> sums;
  for (const char* disc : kReadableDiscs) {
    std::string video_ts = kv_test::SampleVideoTs(disc);
    auto original = dvd::ComputeDiscChecksum(video_ts);
    ASSERT_TRUE(original.has_value()) << disc;
    sums[disc] = *original;

    kv_test::TempDir copy;
    std::string target = copy.File("moved/VIDEO_TS");
    kv_test::MakeFolders(target);
    for (const auto& entry : std::filesystem::directory_iterator(video_ts)) {
      std::string to = target + "/" + entry.path().filename().string();
      if (entry.path().extension() == ".VOB") {
        kv_test::WriteFile(to, "");
        std::filesystem::resize_file(to, entry.file_size());
      } else {
        std::filesystem::copy_file(entry.path(), to);
      }
    }
    EXPECT_EQ(dvd::ComputeDiscChecksum(target), original) << disc;
  }
  EXPECT_NE(sums["pal_letterbox"], sums["bad_missing_vob"]);
  EXPECT_NE(sums["ntsc_film"], sums["bad_truncated_vob"]);
  EXPECT_NE(sums["pal_letterbox"], sums["ntsc_multi"]);
}

}  // namespace
