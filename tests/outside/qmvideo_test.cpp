// qmvideo.dll over the titles of the sample discs as tessmar cuts them out:
// every frame against FFmpeg's own sequential decode of the title's bytes
// (coded frames, or for the displayed frames its frames' fields paired in
// order), the frame counts of film and of the playing times, the letterbox
// bars, and damaged inputs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <set>

#include "dvd/ifo_reader.h"
#include "outside/qmvideo/qmvideo.h"
#include "outside/qmvideo/video_index.h"
#include "tests/outside/qmvideo_test_util.h"
#include "tests/support/sample_dvds.h"
#include "tests/support/temp_dir.h"
#include "tests/tessmar/tessmar_test_util.h"

namespace {

using kv_test::FrameCrc;
using kv_test::ReadFile;
using kv_test::SampleTitle;
using kv_test::WriteFile;

// First coded frame of every GOP of a video index.
std::vector<int> GopStarts(const std::string& qmvi) {
  std::vector<int> starts;
  int frame = 0;
  for (const auto& f : kv_test::ReadGops(qmvi).fields) {
    starts.push_back(frame);
    int flags = static_cast<int>(f.size()) - 5;
    if (!f.empty() && f.back() == "9") --flags;
    frame += flags;
  }
  return starts;
}

class QmVideoSample : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { folder_ = new kv_test::TempDir("qmvideo-test"); }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }
  void SetUp() override {
    if (!std::filesystem::is_directory(kv_test::SampleDvdRoot()))
      GTEST_SKIP() << "no sample discs at " << kv_test::SampleDvdRoot();
  }
  void TearDown() override { closeVideo(); }
  static std::string Title(const SampleTitle& t) {
    std::string qmvi = kv_test::PrepareSampleTitle(folder_->Path(), t);
    EXPECT_FALSE(qmvi.empty()) << kv_test::TitleName(t);
    return qmvi;
  }
  static kv_test::TempDir* folder_;
};
kv_test::TempDir* QmVideoSample::folder_ = nullptr;

// Asks for `order` and compares each frame with FFmpeg's; stops after a few
// differences.
void ExpectFrames(const QmVideoRecord* r, const std::vector<uint32_t>& theirs,
                  const std::vector<int>& order, const char* what) {
  int wrong = 0;
  for (int n : order) {
    const unsigned char* frame = getRGBFrame(n);
    if (!frame) {
      ADD_FAILURE() << what << ": no frame " << n;
    } else if (FrameCrc(frame, r->width, r->height) != theirs[n]) {
      ADD_FAILURE() << what << ": frame " << n << " differs";
    } else {
      continue;
    }
    if (++wrong >= 5) return;
  }
}

void CompareWithFfmpeg(const std::string& qmvi, bool film) {
  const std::string mpg = kv_test::WriteTitleBytes(qmvi);
  int width = 0, height = 0;
  ASSERT_TRUE(kv_test::FfprobePictureSize(mpg, &width, &height));
  const std::vector<uint32_t> theirs = kv_test::FfmpegFrameCrcs(mpg, !film, width, height);
  ASSERT_FALSE(theirs.empty());

  const QmVideoRecord* r = openMPEG2Source(qmvi.c_str(), film ? 1 : 0);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->width, width);
  EXPECT_EQ(r->height, height);
  ASSERT_EQ(r->frames, static_cast<int32_t>(theirs.size()));
  const int n = r->frames;

  // Random access first, on a fresh decoder: first and last frames, the
  // frames either side of every GOP boundary (in displayed frames, around
  // the proportional place of the coded boundary), and random frames.
  std::set<int> picks = {0, n - 1};
  for (int start : GopStarts(qmvi)) {
    const int at = static_cast<int>(static_cast<int64_t>(start) * n / r->codedFrames);
    for (int d = -2; d <= 1; ++d)
      if (at + d >= 0 && at + d < n) picks.insert(at + d);
  }
  std::mt19937 random(1234);
  for (int i = 0; i < 16; ++i) picks.insert(static_cast<int>(random() % n));
  std::vector<int> order(picks.begin(), picks.end());
  std::shuffle(order.begin(), order.end(), random);
  ExpectFrames(r, theirs, order, "random");

  // Sliding backwards over the first GOPs, then every frame in order.
  std::vector<int> back;
  for (int i = std::min(n - 1, 40); i >= 0; --i) back.push_back(i);
  ExpectFrames(r, theirs, back, "backwards");
  std::vector<int> all(n);
  for (int i = 0; i < n; ++i) all[i] = i;
  ExpectFrames(r, theirs, all, "in order");
  closeVideo();
}

TEST_F(QmVideoSample, CodedFramesEqualFfmpegsDecode) {
  for (const SampleTitle& t : kv_test::AllSampleTitles()) {
    SCOPED_TRACE(kv_test::TitleName(t));
    std::string qmvi = Title(t);
    if (!qmvi.empty()) CompareWithFfmpeg(qmvi, true);
  }
}

TEST_F(QmVideoSample, DisplayedFramesEqualFfmpegsFieldsPairedInOrder) {
  for (const SampleTitle& t : kv_test::AllSampleTitles()) {
    SCOPED_TRACE(kv_test::TitleName(t));
    std::string qmvi = Title(t);
    if (!qmvi.empty()) CompareWithFfmpeg(qmvi, false);
  }
}

TEST_F(QmVideoSample, ShortGopsAtSceneChangesDecode) {
  // The flashes of pal_sync made the encoder cut GOPs of a few frames, whose
  // large I-pictures span more packets than the GOPs between them.
  const std::string qmvi = Title({"pal_sync", 1, 1});
  for (bool film : {false, true}) CompareWithFfmpeg(qmvi, film);
}

TEST_F(QmVideoSample, FilmFlagFrameCounts) {
  // The 3:2 cadence (top field first, repeat first field) 11, 00, 01, 10
  // gives 3 + 2 + 3 + 2 fields: 5 displayed frames for every 4 coded ones,
  // and so does the cadence 01, 10, 11, 00 that starts on a bottom field.
  const std::set<std::string> pulldown_discs = {"ntsc_film", "ntsc_mixed", "ntsc_film_bff"};
  for (const std::string& disc : pulldown_discs) {
    SCOPED_TRACE(disc);
    const std::string qmvi = Title({disc.c_str(), 1, 1});
    const int coded = std::stoi(kv_test::SampleFact(disc, "frames"));
    const int pulldown = std::stoi(kv_test::SampleFact(disc, "pulldown_frames"));
    ASSERT_EQ(pulldown % 4, 0);
    const QmVideoRecord* r = openMPEG2Source(qmvi.c_str(), 1);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->frames, coded);
    r = openMPEG2Source(qmvi.c_str(), 0);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->frames, pulldown / 4 * 5 + (coded - pulldown));
    EXPECT_EQ(r->codedFrames, coded);
  }
  // Without repeated fields both modes deliver the same frames.
  for (const SampleTitle& t : kv_test::AllSampleTitles()) {
    if (pulldown_discs.count(t.disc)) continue;
    SCOPED_TRACE(kv_test::TitleName(t));
    const std::string qmvi = Title(t);
    const QmVideoRecord* r = openMPEG2Source(qmvi.c_str(), 1);
    ASSERT_NE(r, nullptr);
    const int coded = r->frames;
    r = openMPEG2Source(qmvi.c_str(), 0);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->frames, coded);
  }
}

TEST_F(QmVideoSample, DisplayedFramesLastThePlayingTime) {
  for (const SampleTitle& t : kv_test::AllSampleTitles()) {
    SCOPED_TRACE(kv_test::TitleName(t));
    const std::unique_ptr<dvd::IfoFile> ifo =
        dvd::IfoFile::Open(kv_test::SampleVideoTs(t.disc), t.vts);
    ASSERT_NE(ifo, nullptr);
    const std::optional<dvd::PgcSummary> time = ifo->Summary(t.pgc - 1);
    ASSERT_TRUE(time.has_value());
    const double rate = time->RateCode() == 1 ? 25.0 : 30000.0 / 1001.0;
    const double seconds =
        time->hours * 3600 + time->minutes * 60 + time->seconds + time->Frames() / rate;
    const QmVideoRecord* r = openMPEG2Source(Title(t).c_str(), 0);
    ASSERT_NE(r, nullptr);
    EXPECT_NEAR(r->frames, seconds * rate, 1.0);
  }
}

// The fields a player shows, paired in order, for flag sequences the
// samples do not hold: field orders that change, contradictions, a field
// left over at the end.
TEST(DisplayedFrames, FieldsPairInOrderFromTheFirst) {
  using qmvideo::FieldPair;
  const uint8_t t = qmvideo::kTopFieldFirst, r = qmvideo::kRepeatFirstField;
  const struct {
    std::vector<uint8_t> flags;
    std::vector<std::pair<int, int>> shown;  // top, bottom
  } cases[] = {
      {{}, {}},
      {{t, t, t}, {{0, 0}, {1, 1}, {2, 2}}},
      {{0, 0, 0}, {{0, 0}, {1, 1}, {2, 2}}},
      {{t | r, 0, r, t}, {{0, 0}, {0, 1}, {1, 2}, {2, 2}, {3, 3}}},  // T B T, B T, B T B, T B
      {{r, t, t | r, 0}, {{0, 0}, {1, 0}, {2, 1}, {2, 2}, {3, 3}}},  // B T B, T B, T B T, B T
      {{t, 0, 0, t}, {{0, 0}, {1, 1}, {2, 2}, {3, 3}}},              // the order changes
      {{t | r, t}, {{0, 0}, {1, 1}}},  // T B T, T B: the repeated T is dropped
      {{t | r}, {{0, 0}}},             // the repeated field has no partner
  };
  for (const auto& c : cases) {
    std::vector<std::pair<int, int>> shown;
    for (const FieldPair& p : qmvideo::DisplayedFrames(c.flags)) shown.push_back({p.top, p.bottom});
    EXPECT_EQ(shown, c.shown) << ::testing::PrintToString(c.flags);
  }
}

// Mean brightness of a row: the mean of the three bytes of its pixels.
double RowBrightness(const unsigned char* f, int width, int y) {
  int64_t sum = 0;
  for (int i = 0; i < width * 3; ++i) sum += f[static_cast<size_t>(y) * width * 3 + i];
  return sum / (3.0 * width);
}

TEST_F(QmVideoSample, LetterboxBarsWhereTheGeneratorPutThem) {
  const int top = std::stoi(kv_test::SampleFact("pal_letterbox", "bars_top"));
  const int bottom = std::stoi(kv_test::SampleFact("pal_letterbox", "bars_bottom"));
  for (int pgc : {1, 2}) {
    for (unsigned char film : {0, 1}) {
      SCOPED_TRACE("pgc " + std::to_string(pgc) + " film " + std::to_string(film));
      const std::string qmvi = Title({"pal_letterbox", 1, pgc});
      const QmVideoRecord* r = openMPEG2Source(qmvi.c_str(), film);
      ASSERT_NE(r, nullptr);
      ASSERT_EQ(r->width, 720);
      ASSERT_EQ(r->height, 576);
      for (int i = 0; i < 10; ++i) {
        const int n = i * (r->frames - 1) / 9;
        const unsigned char* f = getRGBFrame(n);
        ASSERT_NE(f, nullptr) << n;
        for (int y = 0; y < top; ++y) ASSERT_LE(RowBrightness(f, 720, y), 20.0) << n << " " << y;
        for (int y = 576 - bottom; y < 576; ++y)
          ASSERT_LE(RowBrightness(f, 720, y), 20.0) << n << " " << y;
        EXPECT_GT(RowBrightness(f, 720, top), 20.0) << n;
        EXPECT_GT(RowBrightness(f, 720, 575 - bottom), 20.0) << n;
        // Away from the picture's edge the bars are black to the byte.
        for (int y : {0, top / 2, 575, 575 - bottom / 2})
          for (int x = 0; x < 720 * 3; ++x) ASSERT_LE(f[y * 720 * 3 + x], 4) << n << " " << y;
      }
    }
  }
}

TEST_F(QmVideoSample, TvScaleKeepsVideoLevels) {
  const std::string qmvi = Title({"pal_letterbox", 1, 1});
  std::string text = ReadFile(qmvi);
  const size_t at = text.find("YUVRGB_Scale=1");
  ASSERT_NE(at, std::string::npos);
  text[at + 13] = '0';
  const std::string tv = qmvi.substr(0, qmvi.size() - 5) + "_tv.qmvi";
  WriteFile(tv, text);  // beside the original, so it names the same map
  ASSERT_NE(openMPEG2Source(tv.c_str(), 1), nullptr);
  const unsigned char* f = getRGBFrame(10);
  ASSERT_NE(f, nullptr);
  // Black (luma 16) stays 16 instead of becoming 0.
  for (int x = 0; x < 720 * 3; ++x) {
    ASSERT_GE(f[10 * 720 * 3 + x], 12) << x;
    ASSERT_LE(f[10 * 720 * 3 + x], 20) << x;
  }
}

TEST_F(QmVideoSample, OneVideoAtATime) {
  const std::string pal = Title({"pal_letterbox", 1, 1});
  const std::string film = Title({"ntsc_film", 1, 1});
  EXPECT_EQ(getRGBFrame(0), nullptr);  // nothing open
  const QmVideoRecord* r = openMPEG2Source(pal.c_str(), 1);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->frames, 300);  // 12 s at 25 frames per second
  ASSERT_NE(getRGBFrame(299), nullptr);
  EXPECT_EQ(getRGBFrame(300), nullptr);
  EXPECT_EQ(getRGBFrame(-1), nullptr);
  EXPECT_EQ(getRGBFrame(INT32_MAX), nullptr);
  EXPECT_EQ(getRGBFrame(INT32_MIN), nullptr);

  // A second open without closing replaces the first.
  r = openMPEG2Source(film.c_str(), 1);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->width, 720);
  EXPECT_EQ(r->height, 480);
  EXPECT_EQ(r->frames, 240);
  const std::vector<uint32_t> theirs =
      kv_test::FfmpegFrameCrcs(kv_test::WriteTitleBytes(film), false, 720, 480);
  ASSERT_GT(theirs.size(), 200u);
  const unsigned char* f = getRGBFrame(200);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(FrameCrc(f, 720, 480), theirs[200]);
  EXPECT_EQ(getRGBFrame(240), nullptr);

  closeVideo();
  EXPECT_EQ(getRGBFrame(0), nullptr);
  closeVideo();  // closing twice is harmless
  // A failed open leaves nothing open.
  ASSERT_NE(openMPEG2Source(pal.c_str(), 1), nullptr);
  EXPECT_EQ(openMPEG2Source((pal + ".missing").c_str(), 1), nullptr);
  EXPECT_EQ(getRGBFrame(0), nullptr);
  EXPECT_EQ(openMPEG2Source(nullptr, 1), nullptr);
}

TEST_F(QmVideoSample, TitleStartingWithAnOpenGop) {
  // The letterboxed title's index without its first GOP: its new first GOP
  // is open, its two leading B-frames refer to a picture before the title.
  const std::string qmvi = Title({"pal_letterbox", 1, 1});
  std::string text = ReadFile(qmvi);
  const size_t first = text.find("\r\n7 0 ") + 2;
  const size_t second = text.find("\r\n7 0 ", first) + 2;
  const std::string skipped = text.substr(first, second - first);
  const int dropped = static_cast<int>(std::count(skipped.begin(), skipped.end(), ' ')) - 4;
  text.erase(first, second - first);
  ASSERT_NE(text.find("\r\n7 0 0 0 ", first - 2), first - 2) << "expected an open GOP";
  const std::string cut = qmvi.substr(0, qmvi.size() - 5) + "_cut.qmvi";
  WriteFile(cut, text);
  const std::vector<uint32_t> theirs =
      kv_test::FfmpegFrameCrcs(kv_test::WriteTitleBytes(qmvi), false, 720, 576);
  ASSERT_EQ(theirs.size(), 300u);
  const QmVideoRecord* r = openMPEG2Source(cut.c_str(), 1);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->frames, 300 - dropped);
  // The leading B-frames show the GOP's I-frame; the rest are themselves.
  for (int n : {0, 1, 2, 5, 20, r->frames - 1}) {
    const unsigned char* f = getRGBFrame(n);
    ASSERT_NE(f, nullptr) << n;
    EXPECT_EQ(FrameCrc(f, 720, 576), theirs[dropped + std::max(n, 2)]) << n;
  }
}

// Damaged copies of the film title's index, map and VOB in a folder of
// their own.
class QmVideoDamage : public QmVideoSample {
 protected:
  void SetUp() override {
    QmVideoSample::SetUp();
    if (IsSkipped()) return;
    const std::string qmvi = Title({"ntsc_film", 1, 1});
    const std::string base = qmvi.substr(0, qmvi.size() - 5);
    index_ = ReadFile(qmvi);
    map_ = ReadFile(base + ".vfm");
    vob_ = kv_test::SampleVobs("ntsc_film")[0];
    // The copies name a VOB copy of their own.
    const size_t at = map_.find(vob_);
    ASSERT_NE(at, std::string::npos);
    map_.replace(at, vob_.size(), dir_.File("VTS_01_1.VOB"));
    vob_bytes_ = ReadFile(vob_);
    WriteFile(dir_.File("VTS_01_1.VOB"), vob_bytes_);
    gops_ = kv_test::ReadGops(qmvi).fields;
    ASSERT_GT(gops_.size(), 5u);
    starts_ = GopStarts(qmvi);
    theirs_ = kv_test::FfmpegFrameCrcs(kv_test::WriteTitleBytes(qmvi), false, 720, 480);
    ASSERT_EQ(theirs_.size(), 240u);
  }
  // Writes the pair as t.qmvi / t.vfm and opens it with film flag 1.
  const QmVideoRecord* Open(const std::string& index, const std::string& map,
                            int length_error = 0) {
    const std::string name = "t" + std::to_string(++serial_);
    std::string text = index;
    const size_t line = text.find('\n', text.find('\n') + 1);
    const size_t end = text.find('\r', line);
    const std::string map_name = name + ".vfm";
    text.replace(line + 1, end - line - 1,
                 std::to_string(map_name.size() + length_error) + " " + map_name);
    WriteFile(dir_.File(name + ".qmvi"), text);
    WriteFile(dir_.File(map_name), map);
    return openMPEG2Source(dir_.File(name + ".qmvi").c_str(), 1);
  }
  static std::string Replace(std::string s, const std::string& from, const std::string& to) {
    const size_t at = s.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) s.replace(at, from.size(), to);
    return s;
  }
  kv_test::TempDir dir_{"qmvideo-damage"};
  std::string index_, map_, vob_, vob_bytes_;
  std::vector<uint32_t> theirs_;
  std::vector<std::vector<std::string>> gops_;
  std::vector<int> starts_;
  int serial_ = 0;
};

TEST_F(QmVideoDamage, TheUndamagedCopyOpens) {
  const QmVideoRecord* r = Open(index_, map_);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->frames, 240);
  const unsigned char* f = getRGBFrame(239);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(FrameCrc(f, 720, 480), theirs_[239]);
}

TEST_F(QmVideoDamage, BrokenIndexGivesNoRecord) {
  const size_t last = index_.rfind(" 9\r\n");
  ASSERT_NE(last, std::string::npos);
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"empty", ""},
      {"cut before the closing 9", index_.substr(0, last)},
      {"cut in the header", index_.substr(0, index_.find("Picture_Size"))},
      {"newer version", Replace(index_, "qmVideoIndex06", "qmVideoIndex07")},
      {"other head", Replace(index_, "qmVideoIndex06", "DGIndexProjectFile06")},
      {"no picture size", Replace(index_, "Picture_Size=720x480", "Picture_Sighs=720x480")},
      {"zero width", Replace(index_, "Picture_Size=720x480", "Picture_Size=0x480")},
      {"huge picture", Replace(index_, "Picture_Size=720x480", "Picture_Size=99999x480")},
      {"no rate", Replace(index_, "Frame_Rate=29970", "Frame_Rate=")},
      {"bad flag", Replace(index_, " 13 10 11", " 13 zz 11")},
      {"flag out of range", Replace(index_, " 13 10 11", " 13 40 11")},
      {"negative position", Replace(index_, "7 0 " + gops_[0][2] + " ", "7 0 -2048 ")},
      {"other file", Replace(index_, "7 0 " + gops_[0][2] + " ", "7 1 2048 ")},
      {"position past the map", Replace(index_, "7 0 " + gops_[0][2] + " ", "7 0 99999999999 ")},
      {"positions backwards", Replace(index_, "7 0 " + gops_[1][2] + " ", "7 0 1 ")},
  };
  for (const auto& [what, text] : cases) {
    SCOPED_TRACE(what);
    EXPECT_EQ(Open(text, map_), nullptr);
    EXPECT_EQ(getRGBFrame(0), nullptr);
  }
  // The map name must be as long as its line says.
  EXPECT_EQ(Open(index_, map_, 1), nullptr);
  EXPECT_EQ(Open(index_, map_, -1), nullptr);
  EXPECT_EQ(openMPEG2Source(dir_.File("none.qmvi").c_str(), 1), nullptr);
}

TEST_F(QmVideoDamage, BrokenMapGivesNoRecord) {
  std::string truncated_vob = vob_bytes_.substr(0, vob_bytes_.size() / 2);
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"empty", ""},
      {"no end mark", map_.substr(0, map_.rfind('.'))},
      {"other head", Replace(map_, "VirtualFileMap10", "VirtualFileMap11")},
      {"no files", Replace(map_, "VirtualFileMap10\r\n1\r\n", "VirtualFileMap10\r\n0\r\n")},
      {"file index past the list", Replace(map_, "\r\n\r\n0 ", "\r\n\r\n3 ")},
      {"bad offset", Replace(map_, "\r\n\r\n0 ", "\r\n\r\n0 -")},
      {"missing VOB", Replace(map_, dir_.File("VTS_01_1.VOB"), dir_.File("VTS_01_9.VOB"))},
      {"folder for a VOB", Replace(map_, dir_.File("VTS_01_1.VOB"), dir_.Path())},
  };
  for (const auto& [what, text] : cases) {
    SCOPED_TRACE(what);
    EXPECT_EQ(Open(index_, text), nullptr);
  }
  // A VOB that shrank after the map was written.
  WriteFile(dir_.File("VTS_01_1.VOB"), truncated_vob);
  EXPECT_EQ(Open(index_, map_), nullptr);
  // The map file itself missing.
  WriteFile(dir_.File("VTS_01_1.VOB"), vob_bytes_);
  ASSERT_NE(Open(index_, map_), nullptr);
  closeVideo();
  ASSERT_EQ(unlink(dir_.File("t" + std::to_string(serial_) + ".vfm").c_str()), 0);
  EXPECT_EQ(openMPEG2Source(dir_.File("t" + std::to_string(serial_) + ".qmvi").c_str(), 1),
            nullptr);
}

TEST_F(QmVideoDamage, GarbageDataGivesNoRecordOrNoFrames) {
  std::mt19937 random(99);
  std::string noise(vob_bytes_.size(), '\0');
  for (char& c : noise) c = static_cast<char>(random());
  WriteFile(dir_.File("VTS_01_1.VOB"), noise);
  const QmVideoRecord* r = Open(index_, map_);
  if (r) {
    for (int n : {0, 1, 100, 239}) EXPECT_EQ(getRGBFrame(n), nullptr) << n;
  }
}

TEST_F(QmVideoDamage, DamageInTheMiddleLeavesTheFramesBeforeIt) {
  // Noise over 64 KiB from the fourth GOP on; the GOPs before it decode as
  // before, the rest give frames or nulls but never a crash.
  const int64_t from = std::stoll(gops_[3][2]);
  std::string damaged = vob_bytes_;
  std::mt19937 random(7);
  for (int64_t i = from; i < from + 65536 && i < static_cast<int64_t>(damaged.size()); ++i)
    damaged[static_cast<size_t>(i)] = static_cast<char>(random());
  WriteFile(dir_.File("VTS_01_1.VOB"), damaged);
  const QmVideoRecord* r = Open(index_, map_);
  ASSERT_NE(r, nullptr);
  const int before = starts_[2];  // the frames of GOPs 0 and 1
  for (int n = r->frames - 1; n >= 0; --n) {
    const unsigned char* f = getRGBFrame(n);
    if (n < before) {
      ASSERT_NE(f, nullptr) << n;
      EXPECT_EQ(FrameCrc(f, 720, 480), theirs_[n]) << n;
    }
  }
}

TEST_F(QmVideoDamage, AMissingIPictureGivesNoOtherFrameInstead) {
  // The pack that holds the fourth GOP's I-picture header, and the three
  // after it, zeroed: that GOP cannot be decoded, and the open GOP after it
  // loses its leading B-frames. The title's map runs through the VOB from
  // offset 0, so title positions are VOB offsets.
  ASSERT_NE(map_.find("\r\n\r\n0 0 "), std::string::npos);
  const int64_t from = std::stoll(gops_[3][2]);
  std::string damaged = vob_bytes_;
  std::fill(damaged.begin() + from, damaged.begin() + from + 4 * 2048, '\0');
  WriteFile(dir_.File("VTS_01_1.VOB"), damaged);
  const QmVideoRecord* r = Open(index_, map_);
  ASSERT_NE(r, nullptr);
  std::vector<int> order;
  for (int n = 0; n < r->frames; ++n) order.push_back(n);
  std::mt19937 random(3);
  std::shuffle(order.begin(), order.end(), random);
  for (int pass = 0; pass < 2; ++pass) {
    for (int n : order) {
      const unsigned char* f = getRGBFrame(n);
      // The B-frames decoded last before the zeroed packs (shown just
      // before the GOP's last P-frame) lose the tails of their data and
      // come back concealed; every other frame is itself or nothing.
      const bool tail = n == starts_[3] - 3 || n == starts_[3] - 2;
      if (n >= starts_[3] && n < starts_[4]) {
        EXPECT_EQ(f, nullptr) << n;
      }
      if (n < starts_[3] - 3 || n >= starts_[5]) {
        ASSERT_NE(f, nullptr) << n;
      }
      if (f && !tail) {
        EXPECT_EQ(FrameCrc(f, 720, 480), theirs_[n]) << n;
      } else if (f) {
        const uint32_t crc = FrameCrc(f, 720, 480);
        for (int m = 0; m < r->frames; ++m) {
          if (m != n) {
            EXPECT_NE(crc, theirs_[m]) << n << " shows frame " << m;
          }
        }
      }
    }
    std::sort(order.begin(), order.end());  // then in order
  }
}

}  // namespace
