// The entry points' failure paths and the worker's control: suspend, resume,
// stop, busy, relative names, damaged and hostile streams.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "tessmar/include/tessmar.h"
#include "tessmar/vob_list.h"
#include "tests/support/sample_dvds.h"
#include "tests/support/temp_dir.h"
#include "tests/tessmar/tessmar_test_util.h"

extern "C" int TessmarCallsFromC(void);

namespace {

using kv_test::CrLfLines;
using kv_test::Peek;
using kv_test::ReadFile;
using tessmar::VobList;

class Control : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::is_directory(kv_test::SampleDvdRoot()))
      GTEST_SKIP() << "no sample discs at " << kv_test::SampleDvdRoot();
    vob_ = kv_test::SampleVobs("ntsc_multi")[0];
  }
  // The same VOB ten times: a run long enough to be caught while active.
  std::vector<std::string> LongList() const { return std::vector<std::string>(10, vob_); }
  // Starts a long run and suspends it; retries if the run was over first.
  bool StartSuspended(TessmarStatus* status, const std::string& base) {
    for (int attempt = 0; attempt < 20; ++attempt) {
      *status = TessmarStatus{};
      if (Tessmar(VobList(LongList()).Files(), base.c_str(), 1, 1, status) != 0) return false;
      if (TessmarSuspend(status) == 0) return true;
      kv_test::WaitForEnd(*status);
    }
    return false;
  }
  std::string vob_;
  kv_test::TempDir dir_{"tessmar-control"};
};

TEST_F(Control, NullAndEmptyArgumentsAreRefused) {
  TessmarStatus status{};
  status.running = 7;
  status.finished = 7;
  status.percent = 55.0f;
  EXPECT_EQ(Tessmar(nullptr, dir_.File("x").c_str(), 0, 0, &status), 1);
  EXPECT_EQ(status.running, 0);  // the block is cleared first
  EXPECT_EQ(status.finished, 0);
  EXPECT_EQ(status.percent, 0.0f);
  EXPECT_EQ(Tessmar(VobList().Files(), dir_.File("x").c_str(), 0, 0, &status), 1);
  EXPECT_EQ(Tessmar(VobList({""}).Files(), dir_.File("x").c_str(), 0, 0, &status), 1);
  EXPECT_EQ(Tessmar(VobList({vob_, dir_.File("nothing.VOB")}).Files(), dir_.File("x").c_str(), 0, 0,
                    &status),
            1);
  EXPECT_EQ(Tessmar(VobList({vob_, "", vob_}).Files(), dir_.File("x").c_str(), 0, 0, &status), 1);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("x.d2v")));
  EXPECT_EQ(TessmarSuspend(nullptr), 1);
  EXPECT_EQ(TessmarResume(nullptr), 1);
  EXPECT_EQ(TessmarStop(nullptr), 1);
}

TEST_F(Control, EmptyVobGivesAnInterruptedRunWithoutHeader) {
  std::string empty = dir_.File("empty.VOB");
  kv_test::WriteFile(empty, "");
  TessmarStatus status{};
  ASSERT_EQ(kv_test::IndexAndWait({empty}, dir_.File("empty"), 1, 1, &status), 0);
  EXPECT_EQ(Peek(status.finished), 0);
  EXPECT_EQ(Peek(status.ended), 1);
  EXPECT_EQ(ReadFile(dir_.File("empty.d2v")), "\r\nINTERRUPTED  0.00% FILM\r\n");
  EXPECT_EQ(CrLfLines(ReadFile(dir_.File("empty.qmci"))).back(), "");  // no end mark
}

TEST_F(Control, UnwritableOutputReturns2AndLeavesTheLibraryIdle) {
  TessmarStatus status{};
  EXPECT_EQ(
      Tessmar(VobList({vob_}).Files(), dir_.File("no/such/folder/base").c_str(), 1, 1, &status), 2);
  std::string locked = dir_.File("locked");
  kv_test::MakeFolders(locked);
  kv_test::WriteFile(locked + "/base.qmci", "");
  chmod((locked + "/base.qmci").c_str(), 0444);
  if (geteuid() != 0) {  // root writes read-only files anyway
    EXPECT_EQ(Tessmar(VobList({vob_}).Files(), (locked + "/base").c_str(), 1, 1, &status), 2);
  }
  EXPECT_EQ(kv_test::IndexAndWait({vob_}, dir_.File("ok"), 1, 1, &status), 0);
  EXPECT_EQ(Peek(status.finished), 1);
}

TEST_F(Control, OutputBaseIsKeptFromThePreviousCall) {
  TessmarStatus status{};
  ASSERT_EQ(kv_test::IndexAndWait({vob_}, dir_.File("kept"), 0, 0, &status), 0);
  std::filesystem::remove(dir_.File("kept.d2v"));
  ASSERT_EQ(Tessmar(VobList({vob_}).Files(), nullptr, 0, 0, &status), 0);
  kv_test::WaitForEnd(status);
  EXPECT_TRUE(std::filesystem::exists(dir_.File("kept.d2v")));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("kept_at0.qmai")));  // audio not wanted
}

TEST_F(Control, RelativeNamesAreTakenFromTheCurrentFolder) {
  std::string folder = dir_.File("cwd");
  kv_test::MakeFolders(folder);
  std::filesystem::copy_file(vob_, folder + "/VTS_01_1.VOB");
  char old[4096];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(chdir(folder.c_str()), 0);
  TessmarStatus status{};
  int r = kv_test::IndexAndWait({"VTS_01_1.VOB"}, "rel", 1, 0, &status);
  ASSERT_EQ(chdir(old), 0);
  ASSERT_EQ(r, 0);
  std::string full = std::filesystem::canonical(folder).string() + "/VTS_01_1.VOB";
  std::vector<std::string> d2v = CrLfLines(ReadFile(folder + "/rel.d2v"));
  ASSERT_GT(d2v.size(), 3u);
  EXPECT_EQ(d2v[2], std::to_string(full.size()) + " " + full);
  EXPECT_EQ(CrLfLines(ReadFile(folder + "/rel.qmci"))[2], full);
  EXPECT_EQ(CrLfLines(ReadFile(folder + "/rel_at0.qmai"))[2], full);
}

TEST_F(Control, EveryPathFormIsRecordedAsTheFileReadAndRebuilds) {
  // Two title sets whose folder names differ only in the first letter's
  // case: a path recorded with its first letter changed names the other.
  const std::string video_ts = kv_test::SampleVideoTs("pal_letterbox");
  for (const char* folder : {"lower", "Lower"}) {
    kv_test::MakeFolders(dir_.File(folder));
    std::filesystem::copy_file(video_ts + "/VTS_01_0.IFO", dir_.File(folder) + "/VTS_01_0.IFO");
  }
  std::filesystem::copy_file(video_ts + "/VTS_01_1.VOB", dir_.File("lower/VTS_01_1.VOB"));
  std::filesystem::copy_file(vob_, dir_.File("Lower/VTS_01_1.VOB"));
  // Back to the folder it was in whatever an assertion does.
  struct InFolder {
    explicit InFolder(const std::string& to) : from(std::filesystem::current_path()) {
      std::filesystem::current_path(to);
    }
    ~InFolder() { std::filesystem::current_path(from); }
    std::filesystem::path from;
  } in_folder(dir_.Path());
  const std::string cwd = std::filesystem::current_path().string();
  struct Form {
    const char* vob;
    const char* out;
    std::string recorded;
  } forms[] = {{"lower/VTS_01_1.VOB", "lower/rel", cwd + "/lower/VTS_01_1.VOB"},
               {"./lower/VTS_01_1.VOB", "./lower/dot", cwd + "/./lower/VTS_01_1.VOB"},
               {"", "", cwd + "/lower/VTS_01_1.VOB"}};
  const std::string absolute = forms[2].recorded;
  forms[2].vob = absolute.c_str();
  const std::string absolute_out = cwd + "/lower/abs";
  forms[2].out = absolute_out.c_str();
  for (const Form& f : forms) {
    SCOPED_TRACE(f.vob);
    TessmarStatus status{};
    ASSERT_EQ(kv_test::IndexAndWait({f.vob}, f.out, 1, 0, &status), 0);
    EXPECT_EQ(Peek(status.finished), 1);
    const std::string out = f.out;
    EXPECT_EQ(CrLfLines(ReadFile(out + ".d2v"))[2],
              std::to_string(f.recorded.size()) + " " + f.recorded);
    EXPECT_EQ(CrLfLines(ReadFile(out + ".qmci"))[2], f.recorded);
    EXPECT_EQ(CrLfLines(ReadFile(out + "_at0.qmai"))[2], f.recorded);
    // The rebuild from relative names, and its map names the file read.
    ASSERT_EQ(qmRebuild(f.out, "lower/VTS_01_0.IFO", "lower/title", 1, 1, 0, 1, 0), 1);
    EXPECT_EQ(CrLfLines(ReadFile("lower/title.vfm"))[2], f.recorded);
    EXPECT_EQ(CrLfLines(ReadFile("lower/title_at0.vfm"))[2], f.recorded);
    EXPECT_EQ(CrLfLines(ReadFile("lower/title.qmvi"))[2], "9 title.vfm");
  }
}

// Paths are passed whole, whatever characters a file name holds ("|" among
// them) and however long they are: the index names them, the rebuild reads
// them back.
TEST_F(Control, PathsOfAnyCharactersAndLengthAreIndexedWhole) {
  const std::string video_ts = kv_test::SampleVideoTs("pal_letterbox");
  std::string folder = dir_.File("a|b c \xC3\xA9\xC3\xB8");
  while (folder.size() < 400) folder += "/" + std::string(60, 'd');
  kv_test::MakeFolders(folder);
  std::filesystem::copy_file(video_ts + "/VTS_01_0.IFO", folder + "/VTS_01_0.IFO");
  const std::string vob = folder + "/V|1 \xC3\xA9.VOB";
  std::filesystem::copy_file(video_ts + "/VTS_01_1.VOB", vob);
  const std::string base = folder + "/vts|01";
  TessmarStatus status{};
  ASSERT_EQ(kv_test::IndexAndWait({vob}, base, 1, 0, &status), 0);
  EXPECT_EQ(Peek(status.finished), 1);
  EXPECT_EQ(CrLfLines(ReadFile(base + ".d2v"))[2], std::to_string(vob.size()) + " " + vob);
  EXPECT_EQ(CrLfLines(ReadFile(base + ".qmci"))[2], vob);
  const std::string title = folder + "/title|1";
  ASSERT_EQ(
      qmRebuild(base.c_str(), (folder + "/VTS_01_0.IFO").c_str(), title.c_str(), 1, 1, 0, 1, 0), 1);
  EXPECT_EQ(CrLfLines(ReadFile(title + ".vfm"))[2], vob);
  EXPECT_EQ(CrLfLines(ReadFile(title + "_at0.vfm"))[2], vob);
}

TEST_F(Control, StreamWithoutMpeg2VideoEndsInterruptedWithoutHeader) {
  std::string mpg = dir_.File("mpeg1.mpg");
  kv_test::RunCommand(
      "ffmpeg -v error -y -f lavfi -i testsrc2=s=352x288:r=25:d=1 "
      "-c:v mpeg1video -f mpeg " +
      kv_test::Quote(mpg));
  ASSERT_TRUE(std::filesystem::exists(mpg));
  std::string noise = dir_.File("noise.VOB");
  std::string bytes(300000, '\0');
  uint32_t x = 12345;
  for (char& c : bytes) c = static_cast<char>((x = x * 1103515245 + 12345) >> 24);
  kv_test::WriteFile(noise, bytes);
  for (const std::string& input : {mpg, noise}) {
    SCOPED_TRACE(input);
    TessmarStatus status{};
    status.videoKind = 77;
    ASSERT_EQ(kv_test::IndexAndWait({input}, dir_.File("nompeg2"), 1, 1, &status), 0);
    EXPECT_EQ(Peek(status.finished), 0);
    EXPECT_EQ(Peek(status.videoKind), 77);  // untouched: no frame was counted
    EXPECT_EQ(ReadFile(dir_.File("nompeg2.d2v")), "\r\nINTERRUPTED  0.00% FILM\r\n");
  }
}

// The flag byte after PES_packet_length of the first video packet at or
// after `from` gets PES_scrambling_control = 01.
std::string ScrambleVideoPacket(std::string data, size_t from) {
  for (size_t p = from; p + 7 < data.size(); ++p) {
    if (data.compare(p, 4, std::string("\0\0\1\xE0", 4)) == 0) {
      data[p + 6] = static_cast<char>(data[p + 6] | 0x10);
      return data;
    }
  }
  return data;
}

TEST_F(Control, ScrambledPacketStopsTheRun) {
  std::string data = ReadFile(vob_);
  std::string scrambled = dir_.File("scrambled.VOB");
  kv_test::WriteFile(scrambled, ScrambleVideoPacket(data, data.size() / 2));
  TessmarStatus status{};
  ASSERT_EQ(kv_test::IndexAndWait({scrambled}, dir_.File("scr"), 1, 1, &status), 0);
  EXPECT_EQ(Peek(status.scrambled), 1);
  EXPECT_EQ(Peek(status.finished), 0);
  std::vector<std::string> d2v = CrLfLines(ReadFile(dir_.File("scr.d2v")));
  EXPECT_EQ(d2v.back().rfind("INTERRUPTED  ", 0), 0u);
  EXPECT_NE(CrLfLines(ReadFile(dir_.File("scr.qmci"))).back(), ".");
  EXPECT_NE(CrLfLines(ReadFile(dir_.File("scr_at0.qmai"))).back(), ".");
  // Without a status block scrambling is not looked for.
  ASSERT_EQ(Tessmar(VobList({scrambled}).Files(), dir_.File("noscr").c_str(), 1, 1, nullptr), 0);
  for (int i = 0; i < 5000 && CrLfLines(ReadFile(dir_.File("noscr.d2v"))).size() < 3; ++i)
    usleep(2000);
  TessmarStatus probe{};
  for (int i = 0; i < 5000 && Tessmar(VobList().Files(), nullptr, 0, 0, &probe) == 3; ++i)
    usleep(2000);
  std::vector<std::string> plain = CrLfLines(ReadFile(dir_.File("noscr.d2v")));
  EXPECT_EQ(plain.back().rfind("FINISHED  ", 0), 0u);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("noscr_at0.qmai")));
}

TEST_F(Control, SuspendResumeAndTheirWrongStates) {
  TessmarStatus status;
  ASSERT_TRUE(StartSuspended(&status, dir_.File("susp")));
  EXPECT_EQ(Peek(status.suspended), 1);
  EXPECT_EQ(Peek(status.running), 1);
  EXPECT_EQ(TessmarSuspend(&status), 2);
  float percent = Peek(status.percent);
  usleep(100000);
  EXPECT_EQ(Peek(status.percent), percent);  // parked: no progress
  EXPECT_EQ(TessmarResume(&status), 0);
  EXPECT_EQ(Peek(status.suspended), 0);
  EXPECT_EQ(TessmarResume(&status), 2);
  kv_test::WaitForEnd(status);
  EXPECT_EQ(Peek(status.finished), 1);
  EXPECT_EQ(Peek(status.percent), 100.0f);
  // The whole ten-file run was indexed: ten times the frames of one file.
  EXPECT_EQ(kv_test::ReadGops(dir_.File("susp.d2v")).frames, 3000);
}

TEST_F(Control, BusyCallChangesNothing) {
  TessmarStatus status;
  ASSERT_TRUE(StartSuspended(&status, dir_.File("busy")));
  TessmarStatus other{};
  std::memset(&other, 0x5A, sizeof other);
  TessmarStatus copy = other;
  EXPECT_EQ(Tessmar(VobList({vob_}).Files(), dir_.File("second").c_str(), 1, 1, &other), 3);
  EXPECT_EQ(std::memcmp(&other, &copy, sizeof other), 0);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("second.d2v")));
  uint32_t thread = Peek(status.thread);
  EXPECT_EQ(TessmarResume(&status), 0);
  kv_test::WaitForEnd(status);
  EXPECT_EQ(Peek(status.thread), thread);
  EXPECT_EQ(Peek(status.finished), 1);  // the first run went on into its own block
  EXPECT_EQ(CrLfLines(ReadFile(dir_.File("busy.qmci"))).back(), ".");
}

TEST_F(Control, StopWhileSuspendedEndsInterruptedWithoutEndMarks) {
  TessmarStatus status;
  ASSERT_TRUE(StartSuspended(&status, dir_.File("stopped")));
  EXPECT_EQ(TessmarStop(&status), 0);
  EXPECT_EQ(Peek(status.running), 0);
  EXPECT_EQ(Peek(status.ended), 1);
  EXPECT_EQ(Peek(status.finished), 0);
  EXPECT_EQ(Peek(status.suspended), 0);
  std::vector<std::string> d2v = CrLfLines(ReadFile(dir_.File("stopped.d2v")));
  ASSERT_GT(d2v.size(), 3u);
  EXPECT_EQ(d2v.back().rfind("INTERRUPTED  ", 0), 0u);
  EXPECT_LT(kv_test::ReadGops(dir_.File("stopped.d2v")).frames, 3000);
  EXPECT_NE(CrLfLines(ReadFile(dir_.File("stopped.qmci"))).back(), ".");
  for (int n = 0; n < 3; ++n) {
    std::string a = dir_.File("stopped_at" + std::to_string(n) + ".qmai");
    if (std::filesystem::exists(a)) {
      EXPECT_NE(CrLfLines(ReadFile(a)).back(), ".");
    }
  }
  // Stop after the end, and a second stop: both see the run over.
  EXPECT_EQ(TessmarStop(&status), 0);
  EXPECT_EQ(TessmarStop(&status), 0);
  EXPECT_EQ(Peek(status.finished), 0);
  // The library is idle again.
  EXPECT_EQ(kv_test::IndexAndWait({vob_}, dir_.File("next"), 0, 0, &status), 0);
  EXPECT_EQ(Peek(status.finished), 1);
}

TEST_F(Control, StopAfterANormalEndReturns0AndKeepsTheResult) {
  TessmarStatus status{};
  ASSERT_EQ(kv_test::IndexAndWait({vob_}, dir_.File("done"), 0, 0, &status), 0);
  EXPECT_EQ(TessmarStop(&status), 0);
  EXPECT_EQ(Peek(status.finished), 1);
  EXPECT_EQ(TessmarSuspend(&status), 3);  // no worker to suspend
  EXPECT_EQ(TessmarResume(&status), 2);
}

TEST_F(Control, ElementaryStreamIsIndexedAtItsPictureStartCodes) {
  std::string m2v = dir_.File("video.m2v");
  kv_test::RunCommand(
      "ffmpeg -v error -y -f lavfi -i testsrc2=s=352x288:r=25:d=4 "
      "-c:v mpeg2video -g 12 -bf 2 -f mpeg2video " +
      kv_test::Quote(m2v));
  ASSERT_TRUE(std::filesystem::exists(m2v));
  TessmarStatus status{};
  ASSERT_EQ(kv_test::IndexAndWait({m2v}, dir_.File("es"), 1, 1, &status), 0);
  EXPECT_EQ(Peek(status.finished), 1);
  EXPECT_EQ(Peek(status.audioStreamCount), 0);
  std::vector<std::string> d2v = CrLfLines(ReadFile(dir_.File("es.d2v")));
  ASSERT_GT(d2v.size(), 4u);
  EXPECT_EQ(d2v[4], "Stream_Type=0");
  kv_test::GopSummary gops = kv_test::ReadGops(dir_.File("es.d2v"));
  EXPECT_EQ(gops.frames, kv_test::FfprobeFrameCount(m2v));
  // Each GOP line points at a picture start code of an I-picture
  // (picture_coding_type, bits 5-3 of the sixth byte, = 1).
  std::string data = ReadFile(m2v);
  ASSERT_GT(gops.lines, 1);
  for (const auto& f : gops.fields) {
    size_t at = std::stoul(f[2]);
    ASSERT_LT(at + 6, data.size());
    EXPECT_EQ(data.compare(at, 4, std::string("\0\0\1\0", 4)), 0) << at;
    EXPECT_EQ((static_cast<uint8_t>(data[at + 5]) >> 3) & 7, 1) << at;
  }
}

// Calls `fn` with the offset of every PES packet of a program stream and its
// stream id (pack headers of 14 bytes, as DVD packs have).
template <typename Fn>
void ForEachPacket(std::string& data, Fn fn) {
  size_t p = 0;
  while (p + 6 <= data.size()) {
    if (data[p] == 0 && data[p + 1] == 0 && data[p + 2] == 1) {
      uint8_t id = static_cast<uint8_t>(data[p + 3]);
      if (id == 0xBA) {
        p += 14;
        continue;
      }
      if (id >= 0xBB) {
        size_t length = static_cast<uint8_t>(data[p + 4]) << 8 | static_cast<uint8_t>(data[p + 5]);
        fn(p, id);
        p += 6 + length;
        continue;
      }
    }
    ++p;
  }
}

TEST_F(Control, LpcmAttributesComeFromTheInfoByte) {
  const struct {
    uint8_t info;
    int channels, bits, rate;
  } cases[] = {{0x81, 2, 24, 48000}, {0x11, 2, 16, 96000}, {0x45, 6, 20, 48000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.info));
    std::string data = ReadFile(vob_);
    int patched = 0;
    ForEachPacket(data, [&](size_t at, uint8_t id) {
      if (id != 0xBD) return;
      size_t sub = at + 9 + static_cast<uint8_t>(data[at + 8]);
      if (static_cast<uint8_t>(data[sub]) != 0xA1) return;
      data[sub + 5] = static_cast<char>(c.info);
      ++patched;
    });
    ASSERT_GT(patched, 100);
    std::string vob = dir_.File("lpcm.VOB");
    kv_test::WriteFile(vob, data);
    TessmarStatus status{};
    ASSERT_EQ(kv_test::IndexAndWait({vob}, dir_.File("lpcm"), 0, 0, &status), 0);
    EXPECT_EQ(Peek(status.audio[1].format), 4);
    EXPECT_EQ(Peek(status.audio[1].channels), c.channels);
    EXPECT_EQ(Peek(status.audio[1].bitsPerSample), c.bits);
    EXPECT_EQ(Peek(status.audio[1].sampleRate), c.rate);
  }
}

TEST_F(Control, IntraOnlyStreamGivesOneFlagPerGopLine) {
  std::string m2v = dir_.File("intra.m2v");
  kv_test::RunCommand(
      "ffmpeg -v error -y -f lavfi -i testsrc2=s=352x288:r=25:d=1 "
      "-c:v mpeg2video -g 1 -bf 0 -f mpeg2video " +
      kv_test::Quote(m2v));
  TessmarStatus status{};
  ASSERT_EQ(kv_test::IndexAndWait({m2v}, dir_.File("intra"), 0, 0, &status), 0);
  kv_test::GopSummary gops = kv_test::ReadGops(dir_.File("intra.d2v"));
  ASSERT_EQ(gops.lines, 25);
  for (int i = 0; i < gops.lines; ++i) {
    const auto& f = gops.fields[static_cast<size_t>(i)];
    // "7 file offset vob cell" and one flag: 0x10 | top_field_first * 2.
    ASSERT_EQ(f.size(), i + 1 < gops.lines ? 6u : 7u) << i;
    EXPECT_EQ(f[5].substr(0, 1), "1") << i;
  }
  EXPECT_EQ(gops.fields.back().back(), "9");
  EXPECT_EQ(gops.frames, 25);
}

// Shifts the PTS of every packet of private stream 1 sub-stream `sub` by
// `delta` ticks of 90 kHz.
void ShiftPts(std::string& data, uint8_t sub, int64_t delta) {
  ForEachPacket(data, [&](size_t at, uint8_t id) {
    if (id != 0xBD || static_cast<uint8_t>(data[at + 7]) < 0x80) return;
    if (static_cast<uint8_t>(data[at + 9 + static_cast<uint8_t>(data[at + 8])]) != sub) return;
    auto b = [&](size_t i) {
      return static_cast<uint64_t>(static_cast<uint8_t>(data[at + 9 + i]));
    };
    uint64_t pts = ((b(0) >> 1) & 7) << 30 | b(1) << 22 | (b(2) >> 1) << 15 | b(3) << 7 | b(4) >> 1;
    pts = (pts + static_cast<uint64_t>(delta)) & ((uint64_t{1} << 33) - 1);
    data[at + 9] = static_cast<char>((b(0) & 0xF1) | ((pts >> 29) & 0x0E));
    data[at + 10] = static_cast<char>(pts >> 22);
    data[at + 11] = static_cast<char>(((pts >> 14) & 0xFE) | 1);
    data[at + 12] = static_cast<char>(pts >> 7);
    data[at + 13] = static_cast<char>(((pts << 1) & 0xFE) | 1);
  });
}

TEST_F(Control, AudioDelayRule) {
  std::string film = kv_test::SampleVobs("ntsc_film")[0];
  TessmarStatus status{};
  ASSERT_EQ(kv_test::IndexAndWait({film}, dir_.File("d0"), 0, 0, &status), 0);
  const int32_t base = Peek(status.audio[0].delayMs);
  ASSERT_LT(std::abs(base), 100);
  // 4.5 s later, 6 s later (more than 5 s: taken as 0), 0.1 s earlier.
  const struct {
    int64_t ticks;
    int32_t expected;
  } cases[] = {{405000, base + 4500}, {540000, 0}, {-9000, base - 100}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ticks);
    std::string data = ReadFile(film);
    ShiftPts(data, 0x80, c.ticks);
    std::string vob = dir_.File("delay.VOB");
    kv_test::WriteFile(vob, data);
    ASSERT_EQ(kv_test::IndexAndWait({vob}, dir_.File("d"), 0, 0, &status), 0);
    EXPECT_NEAR(Peek(status.audio[0].delayMs), c.expected, 1);
  }
}

TEST(CInterface, HeaderIsPlainCAndNamesAreUnmangled) {
  EXPECT_EQ(TessmarCallsFromC(), 1);
}

}  // namespace
