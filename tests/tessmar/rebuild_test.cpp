// The title rebuild over the sample discs (checked with ffprobe/ffmpeg and
// libdvdread) and over small title sets built here (angles, failure rows).
#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "tessmar/formats/virtual_file_map.h"
#include "tessmar/include/tessmar.h"
#include "tests/support/sample_dvds.h"
#include "tests/support/temp_dir.h"
#include "tests/tessmar/tessmar_test_util.h"

namespace {

using kv_test::CrLfLines;
using kv_test::Quote;
using kv_test::ReadFile;
using kv_test::RunCommand;
using kv_test::SampleVobs;
using kv_test::WriteFile;

std::string IfoOf(const std::string& disc, int vts) {
  char name[32];
  std::snprintf(name, sizeof name, "/VTS_%02d_0.IFO", vts);
  return kv_test::SampleVideoTs(disc) + name;
}

int Bcd(uint8_t v) {
  return (v >> 4) * 10 + (v & 0x0F);
}

// ---------------------------------------------------------------- sample discs

class SampleRebuild : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::is_directory(kv_test::SampleDvdRoot()))
      GTEST_SKIP() << "no sample discs at " << kv_test::SampleDvdRoot();
  }
  std::string Index(const std::string& disc, int vts) {
    std::string base = dir_.File(disc + "_vts" + std::to_string(vts));
    TessmarStatus status{};
    EXPECT_EQ(kv_test::IndexAndWait(SampleVobs(disc, vts), base, true, true, &status), 0);
    EXPECT_EQ(status.finished, 1);
    return base;
  }
  // The bytes that a video ".vfm" names, written to a file.
  std::string TitleBytes(const std::string& title) {
    std::string path = title + ".title.mpg";
    WriteFile(path, kv_test::ConcatRanges(title + ".vfm", 0, 1, 2, 3));
    return path;
  }
  kv_test::TempDir dir_{"tessmar-rebuild"};
};

struct Pgc {
  const char* disc;
  int vts;
  int pgc;
  double fps;
};
const Pgc kPgcs[] = {{"pal_letterbox", 1, 1, 25.0},
                     {"pal_letterbox", 1, 2, 25.0},
                     {"ntsc_multi", 1, 1, 30000.0 / 1001.0},
                     {"ntsc_multi", 2, 1, 30000.0 / 1001.0},
                     {"ntsc_film", 1, 1, 0},
                     {"ntsc_mixed", 1, 1, 0},
                     {"pal_bff_interlaced", 1, 1, 25.0},
                     {"pal_fields_bff", 1, 1, 25.0},
                     {"ntsc_fields_tff", 1, 1, 30000.0 / 1001.0}};

// Playing time of a program chain as libdvdread reads it, in seconds.
double PgcSeconds(const std::string& disc, int vts, int pgc) {
  dvd_reader_t* reader = DVDOpen((kv_test::SampleDvdRoot() + "/" + disc).c_str());
  if (!reader) return NAN;
  ifo_handle_t* ifo = ifoOpen(reader, vts);
  double seconds = NAN;
  if (ifo && ifo->vts_pgcit && pgc <= ifo->vts_pgcit->nr_of_pgci_srp) {
    const dvd_time_t& t = ifo->vts_pgcit->pgci_srp[pgc - 1].pgc->playback_time;
    double rate = (t.frame_u >> 6) == 1 ? 25.0 : 30000.0 / 1001.0;
    seconds =
        Bcd(t.hour) * 3600 + Bcd(t.minute) * 60 + Bcd(t.second) + Bcd(t.frame_u & 0x3F) / rate;
  }
  if (ifo) ifoClose(ifo);
  DVDClose(reader);
  return seconds;
}

TEST_F(SampleRebuild, TitleBytesDecodeToTheFramesOfTheVideoIndex) {
  for (const Pgc& p : kPgcs) {
    SCOPED_TRACE(std::string(p.disc) + " vts " + std::to_string(p.vts) + " pgc " +
                 std::to_string(p.pgc));
    std::string vts = Index(p.disc, p.vts);
    std::string title = dir_.File(std::string(p.disc) + "_t" + std::to_string(p.pgc));
    ASSERT_EQ(
        qmRebuild(vts.c_str(), IfoOf(p.disc, p.vts).c_str(), title.c_str(), 1, 1, 1, p.pgc, 0), 1);
    kv_test::GopSummary gops = kv_test::ReadGops(title + ".qmvi");
    EXPECT_TRUE(gops.last_has_9);
    int64_t decoded = kv_test::FfprobeFrameCount(TitleBytes(title));
    EXPECT_EQ(gops.frames, decoded);
    if (p.fps > 0) {
      EXPECT_NEAR(static_cast<double>(gops.frames), PgcSeconds(p.disc, p.vts, p.pgc) * p.fps, 1.0);
    }
    // The GOP positions point at packs of the title bytes (ffprobe's key
    // frames sit one pack header after them).
    kv_test::CommandResult keys = RunCommand(
        "ffprobe -v error -select_streams v:0 -show_entries packet=pos,flags -of csv=p=0 " +
        Quote(title + ".title.mpg"));
    std::vector<int64_t> theirs, ours;
    std::istringstream in(keys.out);
    std::string line;
    while (std::getline(in, line))
      if (line.find(",K") != std::string::npos) theirs.push_back(std::stoll(line) - 14);
    for (const auto& f : gops.fields) {
      EXPECT_EQ(f[1], "0");
      ours.push_back(std::stoll(f[2]));
    }
    EXPECT_EQ(ours, theirs);
  }
}

TEST_F(SampleRebuild, VideoIndexAndMapLayout) {
  std::string vts = Index("ntsc_multi", 1);
  std::string title = dir_.File("vts01_pgc01_a0");
  ASSERT_EQ(qmRebuild(vts.c_str(), IfoOf("ntsc_multi", 1).c_str(), title.c_str(), 1, 0, 0, 1, 0),
            1);
  int bare = 0;
  std::vector<std::string> q = CrLfLines(ReadFile(title + ".qmvi"), &bare);
  EXPECT_EQ(bare, 0);
  std::vector<std::string> d = CrLfLines(ReadFile(vts + ".d2v"));
  ASSERT_GT(q.size(), 17u);
  EXPECT_EQ(q[0], "qmVideoIndex06");
  EXPECT_EQ(q[1], "1");
  EXPECT_EQ(q[2], "18 vts01_pgc01_a0.vfm");  // the map by bare name
  EXPECT_EQ(q[3], "");
  for (int i = 0; i < 9; ++i) EXPECT_EQ(q[4 + i], d[4 + i]);  // Stream_Type ... Frame_Rate
  EXPECT_EQ(q[13], "Location=0,0,0,0");
  EXPECT_EQ(q[14], "");
  EXPECT_EQ(q[15].rfind("7 0 ", 0), 0u);
  EXPECT_EQ(q[q.size() - 2], "");
  EXPECT_EQ(q.back(), d.back());  // FINISHED and the film share
  std::vector<std::string> v = CrLfLines(ReadFile(title + ".vfm"), &bare);
  EXPECT_EQ(bare, 0);
  EXPECT_EQ(v[0], "VirtualFileMap10");
  EXPECT_EQ(v[1], "1");
  EXPECT_EQ(v[2], SampleVobs("ntsc_multi")[0]);
  EXPECT_EQ(v[3], "");
  EXPECT_EQ(v.back(), ".");
}

TEST_F(SampleRebuild, CellStraddlingTwoVobFilesGivesTwoSegments) {
  std::string vts = Index("pal_letterbox", 1);
  std::string title = dir_.File("pal_t1");
  ASSERT_EQ(qmRebuild(vts.c_str(), IfoOf("pal_letterbox", 1).c_str(), title.c_str(), 1, 0, 0, 1, 0),
            1);
  std::vector<std::string> vobs = SampleVobs("pal_letterbox");
  int64_t size1 = static_cast<int64_t>(std::filesystem::file_size(vobs[0]));
  bool straddles = false;
  std::vector<std::string> lines = CrLfLines(ReadFile(title + ".vfm"));
  for (size_t i = 4; i + 1 < lines.size(); ++i) {
    int f1 = -1, f2 = -1;
    long long o1 = 0, n1 = 0, o2 = 0, n2 = 0;
    if (std::sscanf(lines[i].c_str(), "%d %llx %llx", &f1, &o1, &n1) == 3 &&
        std::sscanf(lines[i + 1].c_str(), "%d %llx %llx", &f2, &o2, &n2) == 3 && f1 == 0 &&
        f2 == 1 && o1 + n1 == size1 && o2 == 0)
      straddles = true;
  }
  EXPECT_TRUE(straddles) << ReadFile(title + ".vfm");
}

TEST_F(SampleRebuild, AudioMapsAreFfmpegsDemuxOfTheTitleBytes) {
  std::string vts = Index("ntsc_multi", 1);
  std::string title = dir_.File("multi_t1");
  ASSERT_EQ(qmRebuild(vts.c_str(), IfoOf("ntsc_multi", 1).c_str(), title.c_str(), 1, 1, 0, 1, 0),
            1);
  std::string bytes = TitleBytes(title);
  kv_test::TempDir tmp("tessmar-ff");
  // ffprobe's order: nav 0, video 1, AC-3 2, LPCM 3, MPEG audio 4.
  const std::pair<int, int> streams[] = {{0, 2}, {2, 4}};
  for (auto [n, index] : streams) {
    std::string out = tmp.File("a" + std::to_string(n));
    RunCommand("ffmpeg -v error -y -i " + Quote(bytes) + " -map 0:" + std::to_string(index) +
               " -c copy -f data " + Quote(out));
    std::string theirs = ReadFile(out);
    ASSERT_FALSE(theirs.empty());
    std::string map = title + "_at" + std::to_string(n) + ".vfm";
    EXPECT_TRUE(kv_test::ConcatRanges(map, 0, 1, 2, 3) == theirs) << map;
    EXPECT_EQ(CrLfLines(ReadFile(map))[0], "VirtualFileMap10");
    EXPECT_EQ(CrLfLines(ReadFile(map)).back(), ".");
  }
  // LPCM: FFmpeg's packets keep 3 bytes of the sub-stream header.
  std::string whole, samples;
  for (const std::string& packet : kv_test::FfmpegPackets(bytes, "0:3", &whole))
    samples += packet.substr(3);
  std::string ours = kv_test::ConcatRanges(title + "_at1.vfm", 0, 1, 2, 3);
  EXPECT_GT(ours.size(), 1000000u);
  EXPECT_EQ(ours.size(), samples.size());
  EXPECT_TRUE(ours == samples);
}

// The audio maps place each cell's sound by the time stamps it shares with
// the cell's picture, on the title's time: four parts whose time stamps
// start again at 0, 2.4, 5.6 and 7.6 s of the title; sound that starts
// 300 ms before or after the picture, or only with the packets of the
// second cell, at 6 s (a multiplexer sends sound ahead of the picture it
// goes with, so those packets start a little before); the units of an
// interleaved angle one after the other.
TEST_F(SampleRebuild, AudioMapsPlaceTheSoundOfEachCellByItsTime) {
  struct Range {
    double from_ms, to_ms;
  };
  const struct {
    const char* disc;
    int pgc, angle;
    size_t lines;               // at least
    std::vector<Range> starts;  // of the first time lines, in order
  } titles[] = {
      {"pal_restarts", 1, 0, 4, {{-10, 0}, {2390, 2400}, {5590, 5600}, {7590, 7600}}},
      {"pal_sound_offsets", 1, 0, 1, {{-310, -300}}},
      {"pal_sound_offsets", 2, 0, 1, {{290, 300}}},
      {"pal_sound_offsets", 3, 0, 1, {{5300, 6000}}},
      {"pal_angles", 1, 2, 8, {{-10, 0}}},  // lead-in, six units of angle 2, lead-out
  };
  for (const auto& t : titles) {
    SCOPED_TRACE(std::string(t.disc) + " " + std::to_string(t.pgc) + "/" + std::to_string(t.angle));
    const std::string vts = Index(t.disc, 1);
    const std::string title = dir_.File(std::string(t.disc) + std::to_string(t.pgc));
    ASSERT_EQ(
        qmRebuild(vts.c_str(), IfoOf(t.disc, 1).c_str(), title.c_str(), 0, 1, 0, t.pgc, t.angle),
        1);
    tessmar::formats::VirtualFileMap map;
    ASSERT_TRUE(tessmar::formats::ParseVirtualFileMap(ReadFile(title + "_at0.vfm"), &map));
    ASSERT_GE(map.anchors.size(), t.lines);
    EXPECT_EQ(map.anchors[0].start, 0);
    for (size_t i = 0; i < t.starts.size(); ++i) {
      EXPECT_GE(map.anchors[i].ticks / 90.0, t.starts[i].from_ms) << i;
      EXPECT_LE(map.anchors[i].ticks / 90.0, t.starts[i].to_ms) << i;
    }
    for (size_t i = 1; i < map.anchors.size(); ++i)
      EXPECT_GT(map.anchors[i].ticks, map.anchors[i - 1].ticks) << i;
  }
}

TEST_F(SampleRebuild, DamagedSamples) {
  // A VOB cut short of what the IFO says: the title is what the index holds.
  std::string vts = Index("bad_truncated_vob", 1);
  std::string title = dir_.File("truncated");
  ASSERT_EQ(
      qmRebuild(vts.c_str(), IfoOf("bad_truncated_vob", 1).c_str(), title.c_str(), 1, 1, 0, 1, 0),
      1);
  kv_test::GopSummary gops = kv_test::ReadGops(title + ".qmvi");
  EXPECT_GT(gops.frames, 0);
  EXPECT_LT(gops.frames, 240);
  EXPECT_LE(gops.frames, kv_test::FfprobeFrameCount(TitleBytes(title)));
  // An empty IFO is no title set information file.
  std::string film = Index("bad_empty_ifo", 1);
  EXPECT_EQ(qmRebuild(film.c_str(), IfoOf("bad_empty_ifo", 1).c_str(), dir_.File("e").c_str(), 1, 1,
                      1, 1, 0),
            0);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("e.vfm")));
}

// The PGC's colour table through the rule that maps the mean luma to 255.
std::string ExpectedPalette(const uint32_t* table) {
  double sum = 0;
  for (int i = 0; i < 16; ++i) sum += (table[i] >> 16) & 0xFF;
  std::string text;
  for (int i = 0; i < 16; ++i) {
    int y = static_cast<int>(((table[i] >> 16) & 0xFF) * (4080.0 / sum));
    if (y >= 255) y = 255;
    int cr = static_cast<int>((table[i] >> 8) & 0xFF) - 128;
    int cb = static_cast<int>(table[i] & 0xFF) - 128;
    auto c = [](double v) {
      int x = static_cast<int>(v);
      return x <= 0 ? 0 : (x >= 255 ? 255 : x);
    };
    char rgb[8];
    std::snprintf(rgb, sizeof rgb, "%.2x%.2x%.2x", c(y + 1.402 * cr),
                  c(y - 0.34414 * cb - 0.71414 * cr), c(y + 1.772 * cb));
    text += (i ? ", " : "") + std::string(rgb);
  }
  return text;
}

std::vector<double> SubtitleTimes(const std::string& idx) {
  kv_test::CommandResult r =
      RunCommand("ffprobe -v error -show_entries packet=pts_time -of csv=p=0 " + Quote(idx));
  std::vector<double> times;
  std::istringstream in(r.out);
  std::string line;
  while (std::getline(in, line))
    if (!line.empty()) times.push_back(std::stod(line));
  return times;
}

TEST_F(SampleRebuild, VobSubIndexIsReadByFfmpegAtTheGivenTimes) {
  std::string vts = Index("ntsc_multi", 1);
  std::string title = dir_.File("multi_sub");
  ASSERT_EQ(qmRebuild(vts.c_str(), IfoOf("ntsc_multi", 1).c_str(), title.c_str(), 0, 0, 1, 1, 0),
            1);
  std::filesystem::copy_file(vts + "_st0.sub", title + "_st0.sub");  // placed beside the index
  std::vector<double> times = SubtitleTimes(title + "_st0.idx");
  // The times spumux was given, in seconds from the start of the title; the
  // index carries stream time, which starts with the first video frame.
  std::vector<double> given;
  std::istringstream facts(ReadFile(kv_test::SampleDvdRoot() + "/ntsc_multi.subtitles.txt"));
  std::string line;
  while (std::getline(facts, line)) {
    int i, h, m;
    double s;
    if (std::sscanf(line.c_str(), "%d %d:%d:%lf", &i, &h, &m, &s) == 4)
      given.push_back(h * 3600 + m * 60 + s);
  }
  ASSERT_EQ(given.size(), 3u);
  ASSERT_EQ(times.size(), given.size());
  double video_start = 0;
  for (const std::string& s : kv_test::FfprobeStreams(SampleVobs("ntsc_multi")[0], "id,start_time"))
    if (s.rfind("0x1e0,", 0) == 0) video_start = std::stod(s.substr(6));
  for (size_t i = 0; i < given.size(); ++i)
    EXPECT_NEAR(times[i] - video_start, given[i], 1001.0 / 30000.0) << i;

  std::vector<std::string> lines = CrLfLines(ReadFile(title + "_st0.idx"));
  ASSERT_GE(lines.size(), 18u);
  EXPECT_EQ(lines[0], "# VobSub index file, v7 (do not modify this line!)");
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], "size: 720x480");
  EXPECT_EQ(lines[3], "org: 0, 0");
  EXPECT_EQ(lines[4], "scale: 100%, 100%");
  EXPECT_EQ(lines[10], "forced subs: OFF");
  EXPECT_EQ(lines[12], "langidx: 0");
  EXPECT_EQ(lines[13], "id: xx, index: 0");
  EXPECT_EQ(lines[14], "");
  dvd_reader_t* reader = DVDOpen((kv_test::SampleDvdRoot() + "/ntsc_multi").c_str());
  ASSERT_NE(reader, nullptr);
  ifo_handle_t* ifo = ifoOpen(reader, 1);
  ASSERT_NE(ifo, nullptr);
  uint32_t table[16];
  std::memcpy(table, ifo->vts_pgcit->pgci_srp[0].pgc->palette, sizeof table);
  EXPECT_EQ(lines[11], "palette: " + ExpectedPalette(table));
  ifoClose(ifo);
  DVDClose(reader);
}

TEST_F(SampleRebuild, StcDiscontinuityRestartsTimeAtTheCellsPlayingTime) {
  std::string vts = Index("ntsc_multi", 1);
  // The same IFO with the flag on the second cell of the title.
  std::string ifo_bytes = ReadFile(IfoOf("ntsc_multi", 1));
  const uint8_t* b = reinterpret_cast<const uint8_t*>(ifo_bytes.data());
  auto be32 = [&](size_t at) {
    return static_cast<size_t>(b[at]) << 24 | static_cast<size_t>(b[at + 1]) << 16 |
           static_cast<size_t>(b[at + 2]) << 8 | b[at + 3];
  };
  size_t pgcit = be32(0xCC) * 2048;
  size_t pgc = pgcit + be32(pgcit + 12);
  size_t playback = pgc + (static_cast<size_t>(b[pgc + 0xE8]) << 8 | b[pgc + 0xE9]);
  ASSERT_GE(b[pgc + 3], 2);
  const uint8_t* first = b + playback;
  double cell1 = Bcd(first[4]) * 3600 + Bcd(first[5]) * 60 + Bcd(first[6]);
  cell1 += static_cast<int>(Bcd(first[7] & 0x3F) * 90000 / 30) / 90000.0;
  ifo_bytes[playback + 24] = static_cast<char>(ifo_bytes[playback + 24] | 0x02);
  std::string ifo = dir_.File("stc.IFO");
  WriteFile(ifo, ifo_bytes);

  std::string plain = dir_.File("plain");
  std::string stc = dir_.File("stc");
  ASSERT_EQ(qmRebuild(vts.c_str(), IfoOf("ntsc_multi", 1).c_str(), plain.c_str(), 0, 0, 1, 1, 0),
            1);
  ASSERT_EQ(qmRebuild(vts.c_str(), ifo.c_str(), stc.c_str(), 0, 0, 1, 1, 0), 1);
  std::filesystem::copy_file(vts + "_st0.sub", plain + "_st0.sub");
  std::filesystem::copy_file(vts + "_st0.sub", stc + "_st0.sub");
  std::vector<double> raw = SubtitleTimes(plain + "_st0.idx");
  std::vector<double> shifted = SubtitleTimes(stc + "_st0.idx");
  ASSERT_EQ(raw.size(), 3u);  // one picture in each of the three cells
  ASSERT_EQ(shifted.size(), 3u);
  EXPECT_NEAR(shifted[0], raw[0], 0.002);  // first cell: raw PTS
  for (size_t i = 1; i < 3; ++i) EXPECT_NEAR(shifted[i], raw[i] + cell1, 0.002) << i;
}

// ------------------------------------------------------ title sets built here

struct CellSpec {
  int vob_id;
  int cell_id;
  int block_mode = 0;
  bool stc = false;
};

void Be16(std::string& s, size_t at, unsigned v) {
  s[at] = static_cast<char>(v >> 8);
  s[at + 1] = static_cast<char>(v);
}
void Be32(std::string& s, size_t at, unsigned v) {
  Be16(s, at, v >> 16);
  Be16(s, at + 2, v & 0xFFFF);
}

// A title set information file with one program chain of `cells`, 2 s each
// at 25 frames/s; video attributes `attr0`, `attr1`.
std::string BuildIfo(const std::vector<CellSpec>& cells, uint8_t attr0 = 0x10, uint8_t attr1 = 0,
                     const char* id = "DVDVIDEO-VTS") {
  std::string ifo(4096, '\0');
  std::memcpy(ifo.data(), id, std::strlen(id));
  Be32(ifo, 0xCC, 1);
  ifo[0x200] = static_cast<char>(attr0);
  ifo[0x201] = static_cast<char>(attr1);
  size_t table = 2048, pgc = table + 16;
  size_t playback = 0xEC, position = playback + 24 * cells.size();
  Be16(ifo, table, 1);
  Be32(ifo, table + 4, static_cast<unsigned>(16 + position + 4 * cells.size() - 1));
  Be32(ifo, table + 12, 16);
  ifo[pgc + 3] = static_cast<char>(cells.size());
  for (int i = 0; i < 16; ++i) {
    ifo[pgc + 0xA4 + 4 * i + 1] = static_cast<char>(0x10 + 8 * i);  // Y
    ifo[pgc + 0xA4 + 4 * i + 2] = static_cast<char>(0x80);
    ifo[pgc + 0xA4 + 4 * i + 3] = static_cast<char>(0x80);
  }
  Be16(ifo, pgc + 0xE8, static_cast<unsigned>(playback));
  Be16(ifo, pgc + 0xEA, static_cast<unsigned>(position));
  for (size_t c = 0; c < cells.size(); ++c) {
    ifo[pgc + playback + 24 * c] =
        static_cast<char>(cells[c].block_mode << 6 | (cells[c].stc ? 2 : 0));
    ifo[pgc + playback + 24 * c + 6] = 0x02;                     // 2 s
    ifo[pgc + playback + 24 * c + 7] = static_cast<char>(0x40);  // 0 frames, 25 frames/s
    Be16(ifo, pgc + position + 4 * c, static_cast<unsigned>(cells[c].vob_id));
    ifo[pgc + position + 4 * c + 3] = static_cast<char>(cells[c].cell_id);
  }
  return ifo;
}

class BuiltRebuild : public ::testing::Test {
 protected:
  // Index files of a title set with one VOB file and one cell of 4 sectors
  // per entry of `cells` (one GOP line, audio entry and sub-picture entry
  // each), as a finished index run writes them.
  void WriteSet(const std::vector<CellSpec>& cells) {
    vob_ = dir_.File("VTS_01_1.VOB");
    WriteFile(vob_, std::string(4 * 2048 * cells.size(), '\0'));
    std::string qmci = "qmCellIndex10\r\n1\r\n" + vob_ + "\r\n\r\n";
    std::string d2v =
        "DGIndexProjectFile06\r\n1\r\n" + std::to_string(vob_.size()) + " " + vob_ +
        "\r\n\r\nStream_Type=1\r\niDCT_Algorithm=4 (1:MMX 2:SSEMMX 3:FPU 4:REF "
        "5:SSE2MMX)\r\nYUVRGB_Scale=1 (0:TVScale 1:PCScale)\r\nLuminance_Filter=0,0 "
        "(Gamma, Offset)\r\nClipping=0,0,0,0 (ClipLeft, ClipRight, ClipTop, "
        "ClipBottom)\r\nAspect_Ratio=4:3\r\nPicture_Size=720x576\r\nField_Operation=0 "
        "(0:None 1:ForcedFILM 2:RawFrames)\r\nFrame_Rate=25000\r\nLocation=0,0,0,"
        "10\r\n\r\n";
    std::string qmai = "qmAudioIndex10\r\n1\r\n" + vob_ + "\r\n\r\n";
    std::string qmsi = "qmSubpictureIndex10\r\n\r\n";
    for (size_t c = 0; c < cells.size(); ++c) {
      char line[128];
      std::snprintf(line, sizeof line, "%d %d 0 %zx\r\n", cells[c].vob_id, cells[c].cell_id,
                    c * 4 * 2048);
      qmci += line;
      std::snprintf(line, sizeof line, "7 0 %zu %d %d 12 2 2%s\r\n", c * 4 * 2048 + 2048,
                    cells[c].vob_id, cells[c].cell_id, c + 1 == cells.size() ? " 9" : "");
      d2v += line;
      std::snprintf(line, sizeof line, "0 %d %d %zx 10\r\n", cells[c].vob_id, cells[c].cell_id,
                    c * 4 * 2048 + 4096);
      qmai += line;
      std::snprintf(line, sizeof line, "%d %d %x %zx\r\n", cells[c].vob_id, cells[c].cell_id,
                    900u * static_cast<unsigned>(c), c * 2048);
      qmsi += line;
    }
    WriteFile(vts_ + ".qmci", qmci + "\r\n.");
    WriteFile(vts_ + ".d2v", d2v + "\r\nFINISHED  0.00% FILM\r\n");
    WriteFile(vts_ + "_at0.qmai", qmai + "\r\n.");
    WriteFile(vts_ + "_st0.qmsi", qmsi + "\r\n.");
  }
  uint8_t Rebuild(const std::string& ifo_bytes, int video, int audio, int sub, int pgc, int angle) {
    WriteFile(ifo_, ifo_bytes);
    return qmRebuild(vts_.c_str(), ifo_.c_str(), title_.c_str(), video, audio, sub, pgc, angle);
  }
  // The cell ids of the ".qmvi" GOP lines, in order.
  std::vector<int> GopCells() {
    std::vector<int> ids;
    for (const auto& f : kv_test::ReadGops(title_ + ".qmvi").fields) ids.push_back(std::stoi(f[4]));
    return ids;
  }
  kv_test::TempDir dir_{"tessmar-built"};
  std::string vob_;
  std::string vts_ = dir_.File("vts01");
  std::string ifo_ = dir_.File("VTS_01_0.IFO");
  std::string title_ = dir_.File("title");
};

const std::vector<CellSpec> kAngleCells = {{1, 1, 0}, {1, 2, 1}, {1, 3, 2},
                                           {1, 4, 3},  // a 3-angle block of interleaved cells
                                           {1, 5, 1}, {1, 6, 2}, {1, 7, 3},  // and a second one
                                           {1, 8, 0}};

TEST_F(BuiltRebuild, AngleSelectionKeepsTheChosenCellOfEachBlock) {
  WriteSet(kAngleCells);
  ASSERT_EQ(Rebuild(BuildIfo(kAngleCells), 1, 1, 0, 1, 2), 1);
  EXPECT_EQ(GopCells(), (std::vector<int>{1, 3, 6, 8}));
  // Audio map: only the entries of the kept cells (offsets cell * 4 sectors + 4096).
  std::vector<std::string> audio = CrLfLines(ReadFile(title_ + "_at0.vfm"));
  std::vector<std::string> entries(audio.begin() + 4, audio.end() - 2);
  EXPECT_EQ(entries,
            (std::vector<std::string>{"0 1000 10", "0 5000 10", "0 b000 10", "0 f000 10"}));
  ASSERT_EQ(Rebuild(BuildIfo(kAngleCells), 1, 0, 0, 1, 0), 1);
  EXPECT_EQ(GopCells(), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));
  ASSERT_EQ(Rebuild(BuildIfo(kAngleCells), 1, 0, 0, 1, 4), 1);  // more than the block has
  EXPECT_EQ(GopCells(), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));
  ASSERT_EQ(Rebuild(BuildIfo(kAngleCells), 1, 0, 0, 1, 1), 1);
  EXPECT_EQ(GopCells(), (std::vector<int>{1, 2, 5, 8}));
}

TEST_F(BuiltRebuild, MapPositionsFollowThePlayingOrder) {
  // The cells played in reverse: the map lists them so, and each GOP sits
  // one sector into its cell in the virtual file.
  std::vector<CellSpec> cells = {{1, 1}, {1, 2}, {1, 3}};
  WriteSet(cells);
  std::vector<CellSpec> reversed = {{1, 3}, {1, 2}, {1, 1}, {1, 3}};
  ASSERT_EQ(Rebuild(BuildIfo(reversed), 1, 0, 0, 1, 0), 1);
  std::vector<std::string> vfm = CrLfLines(ReadFile(title_ + ".vfm"));
  std::vector<std::string> segments(vfm.begin() + 4, vfm.end() - 2);
  EXPECT_EQ(segments,
            (std::vector<std::string>{"0 4000 2000", "0 2000 2000", "0 0 2000", "0 4000 2000"}));
  auto gops = kv_test::ReadGops(title_ + ".qmvi");
  ASSERT_EQ(gops.lines, 4);
  EXPECT_EQ(gops.fields[0][2], "2048");
  EXPECT_EQ(gops.fields[1][2], std::to_string(8192 + 2048));
  EXPECT_EQ(gops.fields[3][2], std::to_string(3 * 8192 + 2048));
  EXPECT_EQ(gops.frames, 12);
}

TEST_F(BuiltRebuild, PaletteSizeAndTimeStamps) {
  std::vector<CellSpec> cells = {{1, 1}, {1, 2, 0, true}};
  WriteSet(cells);
  ASSERT_EQ(Rebuild(BuildIfo(cells, 0x10, 0x04), 0, 0, 1, 1, 0), 1);  // PAL, 704 wide
  std::vector<std::string> idx = CrLfLines(ReadFile(title_ + "_st0.idx"));
  ASSERT_EQ(idx.size(), 17u);
  EXPECT_EQ(idx[2], "size: 704x576");
  // Y = 0x10 + 8 i sums to 1216; factor 4080 / 1216.
  uint32_t table[16];
  for (int i = 0; i < 16; ++i) table[i] = static_cast<uint32_t>(0x10 + 8 * i) << 16 | 0x8080;
  EXPECT_EQ(idx[11], "palette: " + ExpectedPalette(table));
  EXPECT_EQ(idx[11].substr(9, 6), "353535");  // 16 * 4080 / 1216 = 53.68
  // Cell 1: PTS 0; cell 2 restarts at its playing time (2 s) plus PTS 900.
  EXPECT_EQ(idx[15], "timestamp: 00:00:00:000, filepos: 000000000");
  EXPECT_EQ(idx[16], "timestamp: 00:00:02:010, filepos: 000000800");
  ASSERT_EQ(Rebuild(BuildIfo(cells, 0x00, 0x0C), 0, 0, 1, 1, 0), 1);  // NTSC, 352x240
  EXPECT_EQ(CrLfLines(ReadFile(title_ + "_st0.idx"))[2], "size: 352x240");
  EXPECT_EQ(Rebuild(BuildIfo(cells, 0x20, 0x00), 0, 0, 1, 1, 0), 0);  // unknown standard
}

TEST_F(BuiltRebuild, FailureRows) {
  std::vector<CellSpec> cells = {{1, 1}, {1, 2}};
  WriteSet(cells);
  std::string ifo = BuildIfo(cells);
  EXPECT_EQ(Rebuild(ifo, 0, 0, 0, 1, 0), 1);  // nothing wanted
  EXPECT_EQ(Rebuild(ifo, 1, 1, 1, 1, 0), 1);
  EXPECT_EQ(Rebuild(BuildIfo(cells, 0x10, 0, "DVDVIDEO-VMG"), 1, 0, 0, 1, 0), 0);
  EXPECT_EQ(Rebuild("", 1, 0, 0, 1, 0), 0);
  EXPECT_EQ(Rebuild(ifo, 1, 0, 0, 2, 0), 0);  // pgc out of range
  EXPECT_EQ(qmRebuild(vts_.c_str(), dir_.File("none.IFO").c_str(), title_.c_str(), 1, 0, 0, 1, 0),
            0);
  // A name longer than the system allows a file name fails.
  std::string long_base(300, 'x');
  EXPECT_EQ(qmRebuild(vts_.c_str(), ifo_.c_str(), long_base.c_str(), 1, 0, 0, 1, 0), 0);

  std::string qmci = ReadFile(vts_ + ".qmci");
  std::string d2v = ReadFile(vts_ + ".d2v");
  auto restore = [&] {
    WriteFile(vts_ + ".qmci", qmci);
    WriteFile(vts_ + ".d2v", d2v);
  };
  std::filesystem::remove(vts_ + ".qmci");
  EXPECT_EQ(Rebuild(ifo, 1, 0, 0, 1, 0), 0);  // missing cell index
  WriteFile(vts_ + ".qmci", "qmCellIndex11" + qmci.substr(13));
  EXPECT_EQ(Rebuild(ifo, 1, 0, 0, 1, 0), 0);  // version above 10
  WriteFile(vts_ + ".qmci", qmci.substr(0, qmci.size() - 1));
  EXPECT_EQ(Rebuild(ifo, 1, 0, 0, 1, 0), 0);  // no end mark
  restore();
  std::filesystem::remove(vts_ + ".d2v");
  EXPECT_EQ(Rebuild(ifo, 1, 0, 0, 1, 0), 0);  // missing project file
  WriteFile(vts_ + ".d2v", "DGIndexProjectFile07" + d2v.substr(20));
  EXPECT_EQ(Rebuild(ifo, 1, 0, 0, 1, 0), 0);  // version above 6
  std::string no9 = d2v;
  no9.replace(no9.find(" 9\r\n"), 2, "");
  WriteFile(vts_ + ".d2v", no9);
  EXPECT_EQ(Rebuild(ifo, 1, 0, 0, 1, 0), 0);  // GOP lines without " 9"
  restore();
  std::filesystem::rename(vob_, vob_ + ".gone");
  EXPECT_EQ(Rebuild(ifo, 1, 0, 0, 1, 0), 0);  // a VOB of the set is missing
  std::filesystem::rename(vob_ + ".gone", vob_);
  // No GOP in the title's cells: 0, although the map was written.
  std::filesystem::remove(title_ + ".vfm");
  EXPECT_EQ(Rebuild(BuildIfo({{2, 1}}), 1, 0, 0, 1, 0), 0);
  EXPECT_TRUE(std::filesystem::exists(title_ + ".vfm"));
  EXPECT_EQ(CrLfLines(ReadFile(title_ + ".vfm")).back(), ".");
  // An output that cannot be created.
  EXPECT_EQ(qmRebuild(vts_.c_str(), ifo_.c_str(), dir_.File("no/folder/t").c_str(), 1, 0, 0, 1, 0),
            0);
  // Audio and sub-picture indexes with a wrong head or no end mark.
  std::string qmai = ReadFile(vts_ + "_at0.qmai");
  WriteFile(vts_ + "_at0.qmai", qmai.substr(0, qmai.size() - 1));
  EXPECT_EQ(Rebuild(ifo, 0, 1, 0, 1, 0), 0);
  WriteFile(vts_ + "_at0.qmai", "qmAudioIndex11" + qmai.substr(14));
  EXPECT_EQ(Rebuild(ifo, 0, 1, 0, 1, 0), 0);
  WriteFile(vts_ + "_at0.qmai", qmai);
  std::string qmsi = ReadFile(vts_ + "_st0.qmsi");
  WriteFile(vts_ + "_st0.qmsi", qmsi.substr(0, qmsi.size() - 1));
  EXPECT_EQ(Rebuild(ifo, 0, 0, 1, 1, 0), 0);
  WriteFile(vts_ + "_st0.qmsi", qmsi);
}

TEST_F(BuiltRebuild, OnlyIndexedStreamsGetMaps) {
  std::vector<CellSpec> cells = {{1, 1}};
  WriteSet(cells);
  std::filesystem::copy_file(vts_ + "_at0.qmai", vts_ + "_at2.qmai");
  std::filesystem::copy_file(vts_ + "_st0.qmsi", vts_ + "_st3.qmsi");
  ASSERT_EQ(Rebuild(BuildIfo(cells), 0, 1, 1, 1, 0), 1);
  EXPECT_TRUE(std::filesystem::exists(title_ + "_at0.vfm"));
  EXPECT_FALSE(std::filesystem::exists(title_ + "_at1.vfm"));
  EXPECT_TRUE(std::filesystem::exists(title_ + "_at2.vfm"));
  EXPECT_TRUE(std::filesystem::exists(title_ + "_st0.idx"));
  EXPECT_FALSE(std::filesystem::exists(title_ + "_st1.idx"));
  EXPECT_TRUE(std::filesystem::exists(title_ + "_st3.idx"));
  EXPECT_EQ(CrLfLines(ReadFile(title_ + "_st3.idx"))[12], "langidx: 3");
  EXPECT_FALSE(std::filesystem::exists(title_ + ".vfm"));  // video not wanted
}

TEST_F(BuiltRebuild, TitleBaseWithoutFolderGoesToTheCurrentFolder) {
  std::vector<CellSpec> cells = {{1, 1}};
  WriteSet(cells);
  WriteFile(ifo_, BuildIfo(cells));
  char old[4096];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(chdir(dir_.Path().c_str()), 0);
  uint8_t r = qmRebuild(vts_.c_str(), ifo_.c_str(), "here", 1, 0, 0, 1, 0);
  ASSERT_EQ(chdir(old), 0);
  EXPECT_EQ(r, 1);
  EXPECT_EQ(CrLfLines(ReadFile(dir_.File("here.qmvi")))[2], "8 here.vfm");
}

}  // namespace
