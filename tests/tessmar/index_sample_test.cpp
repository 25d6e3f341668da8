// Index runs over the sample discs, checked against independent readers:
// ffprobe/ffmpeg on the same VOB files and libdvdread on the IFO.
#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "tessmar/include/tessmar.h"
#include "tessmar/vob_list.h"
#include "tests/support/sample_dvds.h"
#include "tests/support/temp_dir.h"
#include "tests/tessmar/tessmar_test_util.h"

namespace {

using kv_test::ConcatUrl;
using kv_test::CrLfLines;
using kv_test::Peek;
using kv_test::ReadFile;
using kv_test::SampleVobs;

class SampleIndex : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::is_directory(kv_test::SampleDvdRoot()))
      GTEST_SKIP() << "no sample discs at " << kv_test::SampleDvdRoot();
  }
  // Indexes title set `vts` of `disc` with audio and sub-pictures into the
  // temporary folder; returns the output base.
  std::string Index(const std::string& disc, int vts, TessmarStatus* status) {
    std::string base = dir_.File(disc + "_vts" + std::to_string(vts));
    *status = TessmarStatus{};
    EXPECT_EQ(kv_test::IndexAndWait(SampleVobs(disc, vts), base, true, true, status), 0);
    EXPECT_EQ(Peek(status->running), 0);
    EXPECT_EQ(Peek(status->ended), 1);
    return base;
  }
  kv_test::TempDir dir_{"tessmar-index"};
};

struct TitleSet {
  const char* disc;
  int vts;
};
// The title sets coded as field pictures come last: a GOP line's position
// is the pack of the first field's start code, of either parity.
const TitleSet kTitleSets[] = {{"pal_letterbox", 1},      {"ntsc_multi", 1},
                               {"ntsc_multi", 2},         {"ntsc_film", 1},
                               {"ntsc_mixed", 1},         {"pal_bff_progressive", 1},
                               {"pal_bff_interlaced", 1}, {"ntsc_film_bff", 1},
                               {"pal_fields_bff", 1},     {"ntsc_fields_tff", 1}};

TEST_F(SampleIndex, GopLinesImplyFfprobesFrameCountAndKeyFramePositions) {
  for (const TitleSet& ts : kTitleSets) {
    SCOPED_TRACE(std::string(ts.disc) + " vts " + std::to_string(ts.vts));
    TessmarStatus status;
    std::string base = Index(ts.disc, ts.vts, &status);
    EXPECT_EQ(Peek(status.finished), 1);
    EXPECT_EQ(Peek(status.percent), 100.0f);
    std::vector<std::string> vobs = SampleVobs(ts.disc, ts.vts);
    kv_test::GopSummary gops = kv_test::ReadGops(base + ".d2v");
    EXPECT_EQ(gops.frames, kv_test::FfprobeFrameCount(ConcatUrl(vobs)));
    EXPECT_TRUE(gops.last_has_9);

    // Each GOP line names the pack of its I-picture: ffprobe puts the key
    // frame's packet 14 bytes (one pack header) after it.
    std::vector<int64_t> starts = {0};
    for (const std::string& f : vobs)
      starts.push_back(starts.back() + static_cast<int64_t>(std::filesystem::file_size(f)));
    std::vector<int64_t> ours;
    for (const auto& f : gops.fields) ours.push_back(starts[std::stoul(f[1])] + std::stoll(f[2]));
    kv_test::CommandResult keys = kv_test::RunCommand(
        "ffprobe -v error -select_streams v:0 -show_entries packet=pos,flags -of csv=p=0 " +
        kv_test::Quote(ConcatUrl(vobs)));
    std::vector<int64_t> theirs;
    std::istringstream in(keys.out);
    std::string line;
    while (std::getline(in, line))
      if (line.find(",K") != std::string::npos) theirs.push_back(std::stoll(line) - 14);
    EXPECT_EQ(ours, theirs);
  }
}

TEST_F(SampleIndex, D2vHeaderAndStreamFactsAgreeWithFfprobe) {
  for (const TitleSet& ts : kTitleSets) {
    SCOPED_TRACE(std::string(ts.disc) + " vts " + std::to_string(ts.vts));
    TessmarStatus status;
    std::string base = Index(ts.disc, ts.vts, &status);
    std::vector<std::string> vobs = SampleVobs(ts.disc, ts.vts);
    std::vector<std::string> v =
        kv_test::FfprobeStreams(vobs[0], "codec_type,width,height,display_aspect_ratio");
    std::string video;
    for (const std::string& s : v)
      if (s.rfind("video,", 0) == 0) video = s;
    int w = 0, h = 0, an = 0, ad = 0;
    ASSERT_EQ(std::sscanf(video.c_str(), "video,%d,%d,%d:%d", &w, &h, &an, &ad), 4) << video;
    // The coded rate: PAL 25, the NTSC samples (soft telecine included) 30000/1001.
    const bool pal = std::string(ts.disc).rfind("pal_", 0) == 0;
    const int rn = pal ? 25 : 30000, rd = pal ? 1 : 1001;
    EXPECT_EQ(Peek(status.codedWidth), (w + 15) / 16 * 16);
    EXPECT_EQ(Peek(status.codedHeight), (h + 31) / 32 * 32);  // interlaced sequences here
    EXPECT_EQ(Peek(status.aspectCode), an == 16 ? 3 : 2);
    EXPECT_NEAR(Peek(status.frameRate), static_cast<double>(rn) / rd, 1e-3);

    int bare = 0;
    std::vector<std::string> lines = CrLfLines(ReadFile(base + ".d2v"), &bare);
    EXPECT_EQ(bare, 0);
    ASSERT_GT(lines.size(), 16u);
    EXPECT_EQ(lines[0], "DGIndexProjectFile06");
    EXPECT_EQ(lines[1], std::to_string(vobs.size()));
    for (size_t i = 0; i < vobs.size(); ++i)
      EXPECT_EQ(lines[2 + i], std::to_string(vobs[i].size()) + " " + vobs[i]);
    size_t k = 2 + vobs.size();
    EXPECT_EQ(lines[k], "");
    EXPECT_EQ(lines[k + 1], "Stream_Type=1");
    EXPECT_EQ(lines[k + 2], "iDCT_Algorithm=4 (1:MMX 2:SSEMMX 3:FPU 4:REF 5:SSE2MMX)");
    EXPECT_EQ(lines[k + 6], std::string("Aspect_Ratio=") + (an == 16 ? "16:9" : "4:3"));
    EXPECT_EQ(lines[k + 7], "Picture_Size=" + std::to_string((w + 15) / 16 * 16) + "x" +
                                std::to_string((h + 31) / 32 * 32));
    int expected_rate = static_cast<int>(static_cast<float>(rn) / rd * 1000.0f);
    EXPECT_NEAR(std::stoi(lines[k + 9].substr(11)), expected_rate, 1);
    int64_t last = static_cast<int64_t>(std::filesystem::file_size(vobs.back()));
    char location[64];
    std::snprintf(location, sizeof location, "Location=0,0,%d,%X",
                  static_cast<int>(vobs.size()) - 1, static_cast<unsigned>(last / 2048));
    EXPECT_EQ(lines[k + 10], location);
    EXPECT_EQ(lines[k + 11], "");
    // Trailer: the last GOP line, an empty line, FINISHED with the film share.
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 2], "");
    EXPECT_EQ(lines.back().rfind("FINISHED  ", 0), 0u);
    EXPECT_NE(lines.back().find("% FILM"), std::string::npos);
  }
}

double StartTime(const std::string& url, const std::string& stream_id) {
  for (const std::string& s : kv_test::FfprobeStreams(url, "id,start_time")) {
    if (s.rfind(stream_id + ",", 0) == 0) return std::stod(s.substr(stream_id.size() + 1));
  }
  return NAN;
}

TEST_F(SampleIndex, AudioFormatsAndDelaysMatchFfprobe) {
  TessmarStatus status;
  Index("ntsc_multi", 1, &status);
  std::string vob = SampleVobs("ntsc_multi")[0];
  EXPECT_EQ(Peek(status.audioStreamCount), 3);
  EXPECT_EQ(Peek(status.audio[0].format), 1);  // AC-3 0x80
  EXPECT_EQ(Peek(status.audio[1].format), 4);  // LPCM 0xA1
  EXPECT_EQ(Peek(status.audio[2].format), 3);  // MPEG audio 0xC2
  for (int n = 3; n < 8; ++n) EXPECT_EQ(Peek(status.audio[n].format), 0);
  EXPECT_EQ(Peek(status.audio[1].channels), 2);
  EXPECT_EQ(Peek(status.audio[1].bitsPerSample), 16);
  EXPECT_EQ(Peek(status.audio[1].sampleRate), 48000);
  double video = StartTime(vob, "0x1e0");
  const double frame_ms = 1000.0 * 1001.0 / 30000.0;
  const std::pair<int, const char*> ids[] = {{0, "0x80"}, {1, "0xa1"}, {2, "0x1c2"}};
  for (auto [n, id] : ids) {
    double delay_ms = (StartTime(vob, id) - video) * 1000.0;
    EXPECT_NEAR(Peek(status.audio[n].delayMs), delay_ms, frame_ms) << id;
  }
  EXPECT_EQ(Peek(status.subpictureStreamCount), 1);
  EXPECT_EQ(Peek(status.subpicturePresent[0]), 1);
  for (int n = 1; n < 32; ++n) EXPECT_EQ(Peek(status.subpicturePresent[n]), 0);
  EXPECT_EQ(Peek(status.scrambled), 0);
}

TEST_F(SampleIndex, AudioIndexPayloadsAreFfmpegsDemux) {
  TessmarStatus status;
  std::string base = Index("ntsc_multi", 1, &status);
  std::string url = ConcatUrl(SampleVobs("ntsc_multi"));
  // Stream order in ffprobe: nav 0, video 1, AC-3 2, LPCM 3, MPEG audio 4.
  std::string ac3, lpcm_whole, mpa;
  kv_test::FfmpegPackets(url, "0:2", &ac3);
  kv_test::FfmpegPackets(url, "0:4", &mpa);
  std::vector<std::string> lpcm = kv_test::FfmpegPackets(url, "0:3", &lpcm_whole);
  ASSERT_FALSE(ac3.empty());
  ASSERT_FALSE(mpa.empty());
  ASSERT_FALSE(lpcm.empty());
  EXPECT_TRUE(kv_test::ConcatRanges(base + "_at0.qmai", 0, 3, 4, 5) == ac3);
  EXPECT_TRUE(kv_test::ConcatRanges(base + "_at2.qmai", 0, 3, 4, 5) == mpa);
  // FFmpeg's LPCM packets keep the last 3 bytes of the sub-stream header.
  std::string samples;
  for (const std::string& p : lpcm) samples += p.substr(3);
  std::string ours = kv_test::ConcatRanges(base + "_at1.qmai", 0, 3, 4, 5);
  EXPECT_EQ(ours.size(), samples.size());
  EXPECT_TRUE(ours == samples);

  // Head of an audio index, and its end mark.
  int bare = 0;
  std::vector<std::string> lines = CrLfLines(ReadFile(base + "_at0.qmai"), &bare);
  EXPECT_EQ(bare, 0);
  ASSERT_GT(lines.size(), 5u);
  EXPECT_EQ(lines[0], "qmAudioIndex10");
  EXPECT_EQ(lines[1], "1");
  EXPECT_EQ(lines[2], SampleVobs("ntsc_multi")[0]);
  EXPECT_EQ(lines[3], "");
  EXPECT_EQ(lines.back(), ".");
}

TEST_F(SampleIndex, AudioAcrossThreeVobFilesIsFfmpegsDemux) {
  TessmarStatus status;
  std::string base = Index("pal_letterbox", 1, &status);
  std::string ac3;
  kv_test::FfmpegPackets(ConcatUrl(SampleVobs("pal_letterbox")), "0:2", &ac3);
  ASSERT_FALSE(ac3.empty());
  EXPECT_TRUE(kv_test::ConcatRanges(base + "_at0.qmai", 0, 3, 4, 5) == ac3);
  EXPECT_EQ(Peek(status.audioStreamCount), 1);
  EXPECT_EQ(Peek(status.subpictureStreamCount), 0);
  EXPECT_FALSE(std::filesystem::exists(base + "_at1.qmai"));
  EXPECT_FALSE(std::filesystem::exists(base + "_st0.qmsi"));
}

TEST_F(SampleIndex, DtsPayloadsAreFfmpegsDemux) {
  // No sample disc carries DTS: a short program stream made by ffmpeg does.
  std::string mpg = dir_.File("dts.mpg");
  kv_test::RunCommand(
      "ffmpeg -v error -y -f lavfi -i testsrc2=s=352x288:r=25:d=3 -f lavfi -i "
      "sine=f=440:r=48000:d=3 -c:v mpeg2video -g 12 -c:a dca -strict -2 -ac 2 -f dvd " +
      kv_test::Quote(mpg));
  ASSERT_TRUE(std::filesystem::exists(mpg));
  TessmarStatus status{};
  std::string base = dir_.File("dts");
  ASSERT_EQ(kv_test::IndexAndWait({mpg}, base, true, false, &status), 0);
  EXPECT_EQ(Peek(status.finished), 1);
  ASSERT_EQ(Peek(status.audio[0].format), 2);
  std::string dts;
  kv_test::FfmpegPackets(mpg, "0:2", &dts);  // 0 nav, 1 video, 2 DTS
  ASSERT_FALSE(dts.empty());
  EXPECT_TRUE(kv_test::ConcatRanges(base + "_at0.qmai", 0, 3, 4, 5) == dts);
}

TEST_F(SampleIndex, CellLinesAreTheIfoCellsAsLibdvdreadReadsThem) {
  for (const TitleSet& ts : kTitleSets) {
    SCOPED_TRACE(std::string(ts.disc) + " vts " + std::to_string(ts.vts));
    TessmarStatus status;
    std::string base = Index(ts.disc, ts.vts, &status);
    std::vector<std::string> vobs = SampleVobs(ts.disc, ts.vts);
    dvd_reader_t* reader = DVDOpen(kv_test::SampleDvdRoot().append("/").append(ts.disc).c_str());
    ASSERT_NE(reader, nullptr);
    ifo_handle_t* ifo = ifoOpen(reader, ts.vts);
    ASSERT_NE(ifo, nullptr);
    ASSERT_NE(ifo->vts_c_adt, nullptr);
    // Cells in stream order, with where their first sector lies.
    std::map<uint32_t, std::pair<int, int>> by_sector;
    const c_adt_t* adt = ifo->vts_c_adt;
    int n = static_cast<int>((adt->last_byte + 1 - C_ADT_SIZE) / sizeof(cell_adr_t));
    for (int i = 0; i < n; ++i) {
      int vob_id = adt->cell_adr_table[i].vob_id;
      int cell_id = adt->cell_adr_table[i].cell_id;
      by_sector[adt->cell_adr_table[i].start_sector] = {vob_id, cell_id};
    }
    ifoClose(ifo);
    DVDClose(reader);

    std::vector<std::string> expected;
    for (const auto& [sector, cell] : by_sector) {
      int64_t at = static_cast<int64_t>(sector) * 2048;
      size_t f = 0;
      while (f + 1 < vobs.size() &&
             at >= static_cast<int64_t>(std::filesystem::file_size(vobs[f]))) {
        at -= static_cast<int64_t>(std::filesystem::file_size(vobs[f]));
        ++f;
      }
      char line[96];
      std::snprintf(line, sizeof line, "%d %d %zu %llx", cell.first, cell.second, f,
                    static_cast<unsigned long long>(at));
      expected.push_back(line);
    }
    int bare = 0;
    std::vector<std::string> lines = CrLfLines(ReadFile(base + ".qmci"), &bare);
    EXPECT_EQ(bare, 0);
    ASSERT_GE(lines.size(), 4 + vobs.size());
    EXPECT_EQ(lines[0], "qmCellIndex10");
    EXPECT_EQ(lines[1], std::to_string(vobs.size()));
    for (size_t i = 0; i < vobs.size(); ++i) EXPECT_EQ(lines[2 + i], vobs[i]);
    EXPECT_EQ(lines[2 + vobs.size()], "");
    std::vector<std::string> cells(lines.begin() + 3 + static_cast<long>(vobs.size()),
                                   lines.end() - 2);
    EXPECT_EQ(cells, expected);
    EXPECT_EQ(lines[lines.size() - 2], "");
    EXPECT_EQ(lines.back(), ".");
  }
}

TEST_F(SampleIndex, SubpictureStreamHoldsOnePackPerPacket) {
  TessmarStatus status;
  std::string base = Index("ntsc_multi", 1, &status);
  std::string vob = SampleVobs("ntsc_multi")[0];
  std::string data = ReadFile(vob);
  kv_test::CommandResult packets = kv_test::RunCommand(
      "ffprobe -v error -select_streams s:0 -show_entries packet=pos,pts -of csv=p=0 " +
      kv_test::Quote(vob));
  std::vector<std::pair<long long, long long>> theirs;  // pos, pts
  std::istringstream in(packets.out);
  std::string line;
  while (std::getline(in, line)) {
    long long pts = 0, pos = 0;
    if (std::sscanf(line.c_str(), "%lld,%lld", &pts, &pos) == 2) theirs.push_back({pos, pts});
  }
  ASSERT_EQ(theirs.size(), 3u);  // spumux was given three pictures
  std::string sub = ReadFile(base + "_st0.sub");
  ASSERT_EQ(sub.size(), 2048 * theirs.size());
  for (size_t i = 0; i < theirs.size(); ++i) {
    std::string pack = sub.substr(i * 2048, 2048);
    EXPECT_EQ(pack.substr(0, 4), std::string("\0\0\1\xBA", 4)) << i;
    EXPECT_TRUE(pack == data.substr(static_cast<size_t>(theirs[i].first - 14), 2048)) << i;
  }
  std::vector<std::string> lines = CrLfLines(ReadFile(base + "_st0.qmsi"));
  ASSERT_EQ(lines.size(), 2 + theirs.size() + 2);
  EXPECT_EQ(lines[0], "qmSubpictureIndex10");
  EXPECT_EQ(lines[1], "");
  for (size_t i = 0; i < theirs.size(); ++i) {
    unsigned vob_id = 0, cell = 0, pts = 0;
    unsigned long long offset = 0;
    ASSERT_EQ(std::sscanf(lines[2 + i].c_str(), "%u %u %x %llx", &vob_id, &cell, &pts, &offset), 4);
    EXPECT_EQ(pts, static_cast<unsigned>(theirs[i].second));
    EXPECT_EQ(offset, 2048 * i);
    EXPECT_EQ(vob_id, 1u);
  }
  EXPECT_EQ(lines.back(), ".");
}

TEST_F(SampleIndex, FilmShareAndVideoKindFollowTheCadence) {
  struct Case {
    const char* disc;
    int kind;
  } cases[] = {{"ntsc_film", 3}, {"pal_letterbox", 1}, {"ntsc_multi", 2}, {"ntsc_mixed", 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.disc);
    TessmarStatus status;
    std::string base = Index(c.disc, 1, &status);
    float film = Peek(status.filmPercent);
    std::string trailer = CrLfLines(ReadFile(base + ".d2v")).back();
    char expected[32];
    std::snprintf(expected, sizeof expected, "FINISHED  %.2f%% FILM", film);
    EXPECT_EQ(trailer, expected);
    EXPECT_EQ(Peek(status.videoKind), c.kind);
    if (c.kind == 3) {
      EXPECT_EQ(film, 100.0f);
    } else if (c.kind == 1 || c.kind == 2) {
      EXPECT_EQ(film, 0.0f);
    } else {
      // Half of the frames carry the 3:2 cadence.
      EXPECT_GT(film, 40.0f);
      EXPECT_LT(film, 60.0f);
    }
  }
}

TEST_F(SampleIndex, ProgressiveShareAndFieldOrder) {
  TessmarStatus status;
  Index("ntsc_film", 1, &status);  // progressive_frame set on every frame
  EXPECT_EQ(Peek(status.mostlyProgressive), 1);
  EXPECT_EQ(Peek(status.majorityPercent), 100.0f);
  EXPECT_EQ(Peek(status.topFieldFirst), 1);  // first frame of the cadence: TFF=1
  Index("ntsc_multi", 1, &status);           // interlaced, top field first
  EXPECT_EQ(Peek(status.mostlyProgressive), 0);
  EXPECT_EQ(Peek(status.majorityPercent), 100.0f);
  EXPECT_EQ(Peek(status.topFieldFirst), 1);
  // 120 progressive, 120 interlaced frames; the last frame of the run is
  // never shown (no picture follows it), so 120 of 239 counted.
  Index("ntsc_mixed", 1, &status);
  EXPECT_EQ(Peek(status.mostlyProgressive), 1);
  EXPECT_FLOAT_EQ(Peek(status.majorityPercent), static_cast<float>(120 * 100.0 / 239));
  // Bottom field first, in frame pictures and in field pictures (whose
  // top_field_first is always 0: the first field's parity tells), and top
  // field first in field pictures.
  for (const auto& [disc, top_first] : {std::pair<const char*, int>{"pal_bff_interlaced", 0},
                                        {"pal_fields_bff", 0},
                                        {"ntsc_fields_tff", 1}}) {
    SCOPED_TRACE(disc);
    Index(disc, 1, &status);
    EXPECT_EQ(Peek(status.topFieldFirst), top_first);
    EXPECT_EQ(Peek(status.mostlyProgressive), 0);
    EXPECT_EQ(Peek(status.videoKind), 1 + (disc[0] == 'n'));  // PAL or NTSC video
  }
}

TEST_F(SampleIndex, TruncatedVobEndsAtItsLastByteAsFinished) {
  TessmarStatus status;
  std::string base = Index("bad_truncated_vob", 1, &status);
  EXPECT_EQ(Peek(status.finished), 1);
  std::string vob = SampleVobs("bad_truncated_vob")[0];
  int64_t size = static_cast<int64_t>(std::filesystem::file_size(vob));
  kv_test::GopSummary gops = kv_test::ReadGops(base + ".d2v");
  ASSERT_GT(gops.lines, 0);
  EXPECT_TRUE(gops.last_has_9);
  for (const auto& f : gops.fields) EXPECT_LT(std::stoll(f[2]), size);
  // Fewer frames than the whole title, no more than ffprobe finds.
  EXPECT_LT(gops.frames, 240);
  EXPECT_LE(gops.frames, kv_test::FfprobeFrameCount(vob));
  EXPECT_EQ(CrLfLines(ReadFile(base + ".qmci")).back(), ".");
}

TEST_F(SampleIndex, MissingVobOfTheSetIsRefused) {
  std::vector<std::string> vobs = SampleVobs("pal_letterbox");
  std::string folder = kv_test::SampleVideoTs("bad_missing_vob");
  const tessmar::VobList list(
      {folder + "/VTS_01_1.VOB", folder + "/VTS_01_2.VOB", folder + "/VTS_01_3.VOB"});
  TessmarStatus status{};
  EXPECT_EQ(Tessmar(list.Files(), dir_.File("missing").c_str(), 1, 1, &status), 1);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("missing.d2v")));
  // The library stays idle: the next call runs.
  EXPECT_EQ(kv_test::IndexAndWait(vobs, dir_.File("after"), 1, 1, &status), 0);
  EXPECT_EQ(Peek(status.finished), 1);
}

}  // namespace
