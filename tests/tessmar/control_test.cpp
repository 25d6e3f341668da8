// The entry points' failure paths and the worker's control: suspend, resume,
// stop, busy, relative names, damaged and hostile streams.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "tessmar/include/tessmar.h"
#include "tests/support/sample_dvds.h"
#include "tests/support/temp_dir.h"
#include "tests/tessmar/tessmar_test_util.h"

namespace {

using kv_test::CrLfLines;
using kv_test::Peek;
using kv_test::ReadFile;

class Control : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::is_directory(kv_test::SampleDvdRoot()))
      GTEST_SKIP() << "no sample discs at " << kv_test::SampleDvdRoot();
    vob_ = kv_test::SampleVobs("ntsc_multi")[0];
  }
  // The same VOB ten times: a run long enough to be caught while active.
  std::string LongList() const {
    std::string list;
    for (int i = 0; i < 10; ++i) list += (i ? "|" : "") + vob_;
    return list;
  }
  // Starts a long run and suspends it; retries if the run was over first.
  bool StartSuspended(TessmarStatus* status, const std::string& base) {
    for (int attempt = 0; attempt < 20; ++attempt) {
      *status = TessmarStatus{};
      if (Tessmar(LongList().c_str(), base.c_str(), 1, 1, status) != 0) return false;
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
  EXPECT_EQ(Tessmar("", dir_.File("x").c_str(), 0, 0, &status), 1);
  EXPECT_EQ(Tessmar((vob_ + "|" + dir_.File("nothing.VOB")).c_str(), dir_.File("x").c_str(), 0, 0,
                    &status),
            1);
  EXPECT_EQ(Tessmar((vob_ + "||" + vob_).c_str(), dir_.File("x").c_str(), 0, 0, &status), 1);
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
  EXPECT_EQ(Tessmar(vob_.c_str(), dir_.File("no/such/folder/base").c_str(), 1, 1, &status), 2);
  std::string locked = dir_.File("locked");
  kv_test::MakeFolders(locked);
  kv_test::WriteFile(locked + "/base.qmci", "");
  chmod((locked + "/base.qmci").c_str(), 0444);
  if (geteuid() != 0) {  // root writes read-only files anyway
    EXPECT_EQ(Tessmar(vob_.c_str(), (locked + "/base").c_str(), 1, 1, &status), 2);
  }
  EXPECT_EQ(kv_test::IndexAndWait({vob_}, dir_.File("ok"), 1, 1, &status), 0);
  EXPECT_EQ(Peek(status.finished), 1);
}

TEST_F(Control, OutputBaseIsKeptFromThePreviousCall) {
  TessmarStatus status{};
  ASSERT_EQ(kv_test::IndexAndWait({vob_}, dir_.File("kept"), 0, 0, &status), 0);
  std::filesystem::remove(dir_.File("kept.d2v"));
  ASSERT_EQ(Tessmar(vob_.c_str(), nullptr, 0, 0, &status), 0);
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
  ASSERT_EQ(Tessmar(scrambled.c_str(), dir_.File("noscr").c_str(), 1, 1, nullptr), 0);
  for (int i = 0; i < 5000 && CrLfLines(ReadFile(dir_.File("noscr.d2v"))).size() < 3; ++i)
    usleep(2000);
  TessmarStatus probe{};
  for (int i = 0; i < 5000 && Tessmar("", nullptr, 0, 0, &probe) == 3; ++i) usleep(2000);
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
  ASSERT_TRUE(kv_test::WaitForEnd(status));
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
  EXPECT_EQ(Tessmar(vob_.c_str(), dir_.File("second").c_str(), 1, 1, &other), 3);
  EXPECT_EQ(std::memcmp(&other, &copy, sizeof other), 0);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("second.d2v")));
  uint32_t thread = Peek(status.thread);
  EXPECT_EQ(TessmarResume(&status), 0);
  ASSERT_TRUE(kv_test::WaitForEnd(status));
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

}  // namespace
