// Serving scripts as the encoder does: through the video-file layer, which
// finds avisynth.dll by Kestrevane's frameserver installation in the
// registry store and the system folder, with avs2y4m as the client and
// FFmpeg as the independent reader. Over generated clips, an image, and a
// sample title decoded by qmvideo.dll (whose frames alone are the peer).
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/frameserver_install.h"
#include "outside/frameserver/video_file.h"
#include "outside/qmvideo/qmvideo.h"
#include "platform/folders.h"
#include "platform/registry_store.h"
#include "tests/outside/qmvideo_test_util.h"
#include "tests/support/temp_dir.h"
#include "tests/tessmar/tessmar_test_util.h"

namespace {

namespace fs = std::filesystem;
using kv_test::Quote;
using kv_test::RunCommand;
using platform::RegistryRoot;

const char* const kClass = "{E6D6B700-124D-11D4-86F3-DB80AFD98778}";

std::unique_ptr<platform::RegistryStore> Store() {
  return platform::RegistryStore::Open(platform::RegistryStore::DefaultPath());
}

bool Install() {
  auto store = Store();
  app::FrameserverInstallation installation(*store, platform::SystemFolder());
  return installation.InstallFrameserver(KV_PROGRAM_FOLDER);
}

bool Uninstall() {
  auto store = Store();
  app::FrameserverInstallation installation(*store, platform::SystemFolder());
  return installation.UninstallFrameserver();
}

std::string Avs2y4m() {
  return Quote(KV_AVS2Y4M);
}

struct Served {
  int exit_code = -1;
  std::string out;
  std::string err;
};

// avs2y4m with `args`, standard output collected, standard error kept.
Served Serve(const std::string& args, const std::string& folder) {
  const std::string err = folder + "/avs2y4m.err";
  kv_test::CommandResult r = RunCommand("(" + Avs2y4m() + " " + args + " 2>" + Quote(err) + ")");
  return {r.exit_code, r.out, kv_test::ReadFile(err)};
}

// CRC-32 of every frame FFmpeg reads from `input_args` (its demuxer
// options and input), in order.
std::vector<uint32_t> FfmpegFrameCrcs(const std::string& input_args,
                                      const std::string& output_args = "") {
  kv_test::CommandResult r = RunCommand("ffmpeg -nostdin -v error " + input_args + " " +
                                        output_args + " -f framehash -hash crc32 -");
  std::vector<uint32_t> crcs;
  std::istringstream in(r.out);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const size_t comma = line.rfind(',');
    crcs.push_back(static_cast<uint32_t>(std::stoul(line.substr(comma + 1), nullptr, 16)));
  }
  return crcs;
}

uint32_t Crc(const std::vector<uint8_t>& bytes) {
  return static_cast<uint32_t>(crc32(0, bytes.data(), static_cast<uInt>(bytes.size())));
}

// Frame n of BlankClip(pattern=true) by its formula, as I420 planes.
std::vector<uint8_t> PatternFrame(int width, int height, int n) {
  std::vector<uint8_t> f;
  const unsigned k = static_cast<unsigned>(n) & 255;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) f.push_back(static_cast<uint8_t>(x + 2 * y + 3 * k));
  for (int y = 0; y < height / 2; ++y)
    for (int x = 0; x < width / 2; ++x) f.push_back(static_cast<uint8_t>(2 * x + y + 5 * k));
  for (int y = 0; y < height / 2; ++y)
    for (int x = 0; x < width / 2; ++x) f.push_back(static_cast<uint8_t>(x + y + 7 * k));
  return f;
}

TEST(FrameserverServing, OpeningFollowsTheInstalledRegistration) {
  kv_test::TempDir dir("kv-fs-serve");
  const std::string script = dir.File("clip.avs");
  kv_test::WriteFile(script, "BlankClip(length=12, width=64, height=48)\r\n");
  std::string error;
  // Nothing registered: the layer says so, and so does the client.
  EXPECT_FALSE(kv_video_file::VideoFile::Open(script, &error));
  EXPECT_NE(error.find("no library is registered for \".avs\" files"), std::string::npos) << error;
  Served none = Serve("--info " + Quote(script), dir.Path());
  EXPECT_EQ(none.exit_code, 1);
  EXPECT_NE(none.err.find("no library is registered"), std::string::npos) << none.err;

  ASSERT_TRUE(Install());
  auto file = kv_video_file::VideoFile::Open(script, &error);
  ASSERT_TRUE(file) << error;
  // The library is the system folder's copy, found under the name the
  // registration gives ("AviSynth.dll").
  EXPECT_EQ(file->LibraryPath(), platform::SystemFolder() + "/avisynth.dll");
  EXPECT_EQ(file->Info().frame_count, 12);
  EXPECT_EQ(file->Info().width, 64);
  const kvfs_frame* f = file->Frame(3);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->width, 64);
  file.reset();
  // Script faults reach the client with their place.
  kv_test::WriteFile(dir.File("bad.avs"), "v = BlankClip()\r\n\r\nv = Trim(v, 5)\r\n");
  EXPECT_FALSE(kv_video_file::VideoFile::Open(dir.File("bad.avs"), &error));
  EXPECT_NE(error.find("bad.avs, line 3, column 5: wrong arguments for Trim"), std::string::npos)
      << error;
  Served bad = Serve(Quote(dir.File("bad.avs")), dir.Path());
  EXPECT_EQ(bad.exit_code, 1);
  EXPECT_NE(bad.err.find("line 3, column 5"), std::string::npos) << bad.err;

  // Other kinds of files have no registration; a missing script is named.
  EXPECT_FALSE(kv_video_file::VideoFile::Open(dir.File("movie.mkv"), &error));
  EXPECT_NE(error.find("no library is registered for \".mkv\" files"), std::string::npos) << error;
  EXPECT_FALSE(kv_video_file::VideoFile::Open(dir.File("nothing.avs"), &error));
  EXPECT_NE(error.find("nothing.avs: cannot read the script"), std::string::npos) << error;

  // A registration that names a library the system folder lacks.
  {
    auto store = Store();
    ASSERT_TRUE(store->WriteString(RegistryRoot::ClassesRoot,
                                   std::string("CLSID\\") + kClass + "\\InProcServer32", "",
                                   "Missing.dll"));
  }
  EXPECT_FALSE(kv_video_file::VideoFile::Open(script, &error));
  EXPECT_NE(error.find("\"Missing.dll\""), std::string::npos) << error;
  // Removing the installation removes the way to the frameserver.
  ASSERT_TRUE(Install());
  ASSERT_TRUE(Uninstall());
  EXPECT_FALSE(kv_video_file::VideoFile::Open(script, &error));
}

TEST(FrameserverServing, Yuv4mpegReadByFfmpegHoldsTheFramesAndTheirCuts) {
  ASSERT_TRUE(Install());
  kv_test::TempDir dir("kv-fs-serve");
  const std::string source = "BlankClip(length=300, width=64, height=48, fps=25, pattern=true)\r\n";
  struct Case {
    const char* cut;
    int first;
    int count;
  };
  for (const Case& c : {Case{"", 0, 300}, Case{"Trim(100, 199)\r\n", 100, 100},
                        Case{"Trim(200, 0)\r\n", 200, 100}}) {
    const std::string script = dir.File("cut.avs");
    kv_test::WriteFile(script, source + c.cut);
    const std::string y4m = dir.File("cut.y4m");
    kv_test::CommandResult r = RunCommand(Avs2y4m() + " " + Quote(script) + " > " + Quote(y4m));
    ASSERT_EQ(r.exit_code, 0) << c.cut;
    const std::vector<uint32_t> crcs = FfmpegFrameCrcs("-i " + Quote(y4m));
    ASSERT_EQ(crcs.size(), static_cast<size_t>(c.count)) << c.cut;
    for (int i = 0; i < c.count; ++i)
      ASSERT_EQ(crcs[i], Crc(PatternFrame(64, 48, c.first + i))) << c.cut << " frame " << i;
  }
  // FFmpeg reads the header's size and rate.
  kv_test::WriteFile(dir.File("rate.avs"), "BlankClip(length=10, width=96, height=64, fps=29.97)");
  RunCommand(Avs2y4m() + " " + Quote(dir.File("rate.avs")) + " > " + Quote(dir.File("rate.y4m")));
  const auto streams = kv_test::FfprobeStreams(dir.File("rate.y4m"), "width,height,r_frame_rate");
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0], "96,64,30000/1001");
}

TEST(FrameserverServing, SoundIsWrittenAsWave) {
  ASSERT_TRUE(Install());
  kv_test::TempDir dir("kv-fs-serve");
  // 2 s of a 0.5 sine at 1 kHz, +12 dB: clipped to full scale in 16 bits.
  kv_test::WriteFile(dir.File("tone.avs"),
                     "v = BlankClip(length=50, width=32, height=32, fps=25, channels=0)\r\n"
                     "a = BlankClip(length=50, fps=25, audio_rate=44100, channels=2, tone=1000)\r\n"
                     "a = AmplifydB(a, 12.000000)\r\n"
                     "AudioDub(v, DelayAudio(a, 0.500000))\r\n");
  const std::string wav = dir.File("tone.wav");
  Served s =
      Serve("--wav " + Quote(wav) + " " + Quote(dir.File("tone.avs")) + " > /dev/null", dir.Path());
  ASSERT_EQ(s.exit_code, 0) << s.err;
  const auto streams = kv_test::FfprobeStreams(wav, "codec_name,sample_rate,channels,duration_ts");
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0], "pcm_s16le,44100,2,110250");  // 2 s + 0.5 s of delay
  const std::string bytes = kv_test::ReadFile(wav);
  ASSERT_EQ(bytes.size(), 44u + 110250u * 4);
  const int16_t* samples = reinterpret_cast<const int16_t*>(bytes.data() + 44);
  int16_t peak = 0;
  for (size_t i = 0; i < 22050 * 2; ++i) ASSERT_EQ(samples[i], 0) << i;  // the delay
  for (size_t i = 22050 * 2; i < 110250 * 2; ++i) peak = std::max<int16_t>(peak, samples[i]);
  EXPECT_EQ(peak, 32767);
}

TEST(FrameserverServing, ImageSourceDecodesWithTheImageLibrary) {
  ASSERT_TRUE(Install());
  kv_test::TempDir dir("kv-fs-serve");
  const std::string png = dir.File("still.png");
  ASSERT_EQ(RunCommand("ffmpeg -nostdin -v error -f lavfi -i testsrc2=s=160x120:d=0.04 "
                       "-frames:v 1 " +
                       Quote(png))
                .exit_code,
            0);
  kv_test::WriteFile(dir.File("still.avs"), "ImageSource(\"still.png\", end=4, fps=25)\r\n");
  Served raw = Serve("--raw " + Quote(dir.File("still.avs")), dir.Path());
  ASSERT_EQ(raw.exit_code, 0) << raw.err;
  const size_t frame = 160 * 120 * 3;
  ASSERT_EQ(raw.out.size(), 5 * frame);
  // FFmpeg's own decoding of the picture into the same byte order.
  kv_test::CommandResult ff =
      RunCommand("ffmpeg -nostdin -v error -i " + Quote(png) + " -pix_fmt bgr24 -f rawvideo -");
  ASSERT_EQ(ff.out.size(), frame);
  for (int n = 0; n < 5; ++n) EXPECT_EQ(raw.out.substr(n * frame, frame), ff.out) << n;
  // A missing picture is an error at its line.
  kv_test::WriteFile(dir.File("gone.avs"), "\r\nImageSource(\"gone.png\")\r\n");
  Served gone = Serve("--info " + Quote(dir.File("gone.avs")), dir.Path());
  EXPECT_EQ(gone.exit_code, 1);
  EXPECT_NE(gone.err.find("line 2, column 1: ImageSource: cannot open the picture"),
            std::string::npos)
      << gone.err;
}

// ------------------------------------------------------------ sample title

// The title's frames, as qmVideoSource serves them (the decoder's planar
// 4:2:0 pictures), against FFmpeg's own decode of the title's bytes.
class FrameserverTitle : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Install());
    job_ = std::make_unique<kv_test::TempDir>("kv-fs-title");
    qmvi_ = kv_test::PrepareSampleTitle(job_->Path(), {"pal_letterbox", 1, 1});
    ASSERT_FALSE(qmvi_.empty());
    name_ = qmvi_.substr(qmvi_.rfind('/') + 1);
    ASSERT_TRUE(kv_test::FfprobePictureSize(kv_test::WriteTitleBytes(qmvi_), &width_, &height_));
  }

  // FFmpeg's frames of a title: CRC-32 of each frame's planes.
  std::vector<uint32_t> FfmpegCrcs(const std::string& qmvi) const {
    // The sample is progressive and starts bottom field first: its frames
    // are its coded frames.
    return kv_test::FfmpegPlanarFrameCrcs(kv_test::WriteTitleBytes(qmvi), false, width_, height_);
  }

  std::string Script(const std::string& lines) {
    const std::string path = job_->File("out01.avs");
    kv_test::WriteFile(path, "LoadPlugin(\"qmvideo.dll\")\r\n\r\nvideo = qmVideoSource(\"" + name_ +
                                 "\", idct=4, force_film=false)\r\n" + lines);
    return path;
  }

  size_t FrameBytes() const { return size_t(width_) * height_ * 3 / 2; }
  uint32_t ServedCrc(const std::string& out, size_t n) const {
    return static_cast<uint32_t>(crc32(
        0, reinterpret_cast<const Bytef*>(out.data()) + n * FrameBytes(), uInt(FrameBytes())));
  }

  std::unique_ptr<kv_test::TempDir> job_;
  std::string qmvi_, name_;
  int width_ = 0, height_ = 0;
};

TEST_F(FrameserverTitle, ServedFramesAreTheDecodersPlanarPictures) {
  const std::vector<uint32_t> ffmpeg = FfmpegCrcs(qmvi_);
  ASSERT_EQ(ffmpeg.size(), 300u);
  // The plug-in is not in the job folder: LoadPlugin finds it in the
  // plug-in folder of the registration (the program folder).
  ASSERT_FALSE(access(job_->File("qmvideo.dll").c_str(), F_OK) == 0);
  const std::string script = Script("video\r\n");
  kv_test::CommandResult info =
      RunCommand("cd " + Quote(job_->Path()) + " && " + Avs2y4m() + " --info out01.avs");
  EXPECT_NE(info.out.find("format I420\n"), std::string::npos) << info.out;
  Served raw = Serve("--raw " + Quote(script), job_->Path());
  ASSERT_EQ(raw.exit_code, 0) << raw.err;
  ASSERT_EQ(raw.out.size(), 300 * FrameBytes());
  for (size_t n = 0; n < 300; ++n) ASSERT_EQ(ServedCrc(raw.out, n), ffmpeg[n]) << n;
  // As YUV4MPEG2 FFmpeg reads the same frames.
  const std::string y4m = job_->File("served.y4m");
  ASSERT_EQ(RunCommand(Avs2y4m() + " " + Quote(script) + " > " + Quote(y4m)).exit_code, 0);
  EXPECT_EQ(FfmpegFrameCrcs("-i " + Quote(y4m)), ffmpeg);
}

// A job folder holds its own copy of the plug-in (the job writer copies it
// there). A process that has the program folder's qmvideo.dll loaded already,
// as every program linked to it has, serves the title through that copy: the
// copy opens and decodes its own video, whatever the other copy holds.
TEST_F(FrameserverTitle, TheJobFoldersCopyOfThePluginServesInAProcessLinkedToTheLibrary) {
  Dl_info linked{};
  ASSERT_NE(dladdr(reinterpret_cast<void*>(&openMPEG2Source), &linked), 0);
  ASSERT_EQ(fs::canonical(linked.dli_fname), fs::canonical(KV_PROGRAM_FOLDER "/qmvideo.dll"));
  ASSERT_TRUE(fs::copy_file(KV_PROGRAM_FOLDER "/qmvideo.dll", job_->File("qmvideo.dll")));
  const std::vector<uint32_t> ffmpeg = FfmpegCrcs(qmvi_);
  ASSERT_EQ(ffmpeg.size(), 300u);
  std::string error;
  auto file = kv_video_file::VideoFile::Open(Script("video\r\n"), &error);
  ASSERT_TRUE(file) << error;
  for (int64_t n : {0, 150, 299}) {
    const kvfs_frame* frame = file->Frame(n);
    ASSERT_TRUE(frame) << n << ": " << file->Error();
    std::vector<uint8_t> planes;
    for (int p = 0; p < 3; ++p) {
      const int width = p == 0 ? frame->width : frame->width / 2;
      const int rows = p == 0 ? frame->height : frame->height / 2;
      for (int y = 0; y < rows; ++y) {
        const uint8_t* row = frame->data[p] + static_cast<ptrdiff_t>(y) * frame->pitch[p];
        planes.insert(planes.end(), row, row + width);
      }
    }
    EXPECT_EQ(Crc(planes), ffmpeg[static_cast<size_t>(n)]) << n;
  }
}

TEST_F(FrameserverTitle, TrimCutsExactFramesAndFilmFlagCountsMatch) {
  const std::vector<uint32_t> ffmpeg = FfmpegCrcs(qmvi_);
  ASSERT_EQ(ffmpeg.size(), 300u);
  Script("video\r\nTrim(100, 199)\r\n");
  Served mid = Serve("--raw " + Quote(job_->File("out01.avs")), job_->Path());
  ASSERT_EQ(mid.exit_code, 0) << mid.err;
  ASSERT_EQ(mid.out.size(), 100 * FrameBytes());
  for (size_t i = 0; i < 100; ++i) EXPECT_EQ(ServedCrc(mid.out, i), ffmpeg[100 + i]) << i;
  Script("video\r\nTrim(200, 0)\r\n");
  Served tail = Serve("--raw " + Quote(job_->File("out01.avs")), job_->Path());
  ASSERT_EQ(tail.out.size(), 100 * FrameBytes());
  EXPECT_EQ(ServedCrc(tail.out, 99), ffmpeg[299]);
  // force_film=true serves as many frames as the decoder's film open gives.
  const QmVideoRecord* film = openMPEG2Source(qmvi_.c_str(), 1);
  ASSERT_TRUE(film);
  const size_t film_frames = static_cast<size_t>(film->frames);
  closeVideo();
  kv_test::WriteFile(job_->File("film.avs"), "LoadPlugin(\"qmvideo.dll\")\r\nqmVideoSource(\"" +
                                                 name_ + "\", idct=6, force_film=true)\r\n");
  Served f = Serve("--raw " + Quote(job_->File("film.avs")), job_->Path());
  ASSERT_EQ(f.exit_code, 0) << f.err;
  EXPECT_EQ(f.out.size(), film_frames * FrameBytes());
  // A missing title is an error at its line.
  kv_test::WriteFile(job_->File("missing.avs"),
                     "LoadPlugin(\"qmvideo.dll\")\r\n\r\nqmVideoSource(\"nothing.qmvi\")\r\n");
  Served missing = Serve("--info " + Quote(job_->File("missing.avs")), job_->Path());
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.err.find("line 3, column 1: qmVideoSource: cannot find the video index"),
            std::string::npos)
      << missing.err;
}

TEST_F(FrameserverTitle, TwoTitlesInOneScriptEachGiveTheirFrames) {
  // The library keeps one title open at a time; two sources read in turn
  // must each reopen their own, and a frame still held must survive the
  // other's decoding.
  const std::string second = kv_test::PrepareSampleTitle(job_->Path(), {"pal_letterbox", 1, 2});
  ASSERT_FALSE(second.empty());
  const std::vector<uint32_t> first_crcs = FfmpegCrcs(qmvi_);
  const std::vector<uint32_t> second_crcs = FfmpegCrcs(second);
  ASSERT_FALSE(second_crcs.empty());
  // The second source starts 37 frames in, so that the frames of the two
  // at one number differ: a frame of the wrong one would show.
  const size_t shift = 37;
  size_t differing = 0;
  for (size_t n = 0; n + shift < second_crcs.size() && n < first_crcs.size(); ++n)
    if (first_crcs[n] != second_crcs[n + shift]) ++differing;
  ASSERT_EQ(differing, second_crcs.size() - shift);
  kv_test::WriteFile(job_->File("two.avs"),
                     "LoadPlugin(\"qmvideo.dll\")\r\nLoadPlugin(\"" + std::string(KV_TEST_PLUGIN) +
                         "\")\r\na = qmVideoSource(\"" + name_ + "\")\r\nb = qmVideoSource(\"" +
                         second.substr(second.rfind('/') + 1) +
                         "\").Trim(37, 0)\r\nTestAlternate(a, b)\r\n");
  Served two = Serve("--raw " + Quote(job_->File("two.avs")), job_->Path());
  ASSERT_EQ(two.exit_code, 0) << two.err;
  const size_t frames = std::min(first_crcs.size(), second_crcs.size() - shift);
  ASSERT_EQ(two.out.size(), frames * FrameBytes());
  for (size_t n = 0; n < frames; ++n)
    ASSERT_EQ(ServedCrc(two.out, n), n % 2 ? second_crcs[n + shift] : first_crcs[n]) << n;
}

TEST_F(FrameserverTitle, CropAndLanczosMatchFfmpegs) {
  Script("video = LanczosResize(video, 640, 352, 0, 72, 720, 432)\r\n\r\nvideo\r\n");
  Served ours = Serve("--raw " + Quote(job_->File("out01.avs")), job_->Path());
  ASSERT_EQ(ours.exit_code, 0) << ours.err;
  kv_test::CommandResult theirs = RunCommand(
      "ffmpeg -nostdin -v error -i " + Quote(kv_test::WriteTitleBytes(qmvi_)) +
      " -vf crop=720:432:0:72,scale=640:352:flags=lanczos -pix_fmt yuv420p -f rawvideo -");
  const size_t frame = 640 * 352 * 3 / 2;
  ASSERT_EQ(ours.out.size(), 300 * frame);
  ASSERT_EQ(theirs.out.size(), ours.out.size());
  int64_t sum = 0;
  int worst = 0;
  for (size_t i = 0; i < ours.out.size(); ++i) {
    const int d = std::abs(static_cast<int>(static_cast<uint8_t>(ours.out[i])) -
                           static_cast<uint8_t>(theirs.out[i]));
    sum += d;
    worst = std::max(worst, d);
  }
  const double mean = static_cast<double>(sum) / static_cast<double>(ours.out.size());
  std::fprintf(stderr, "crop + lanczos against FFmpeg: mean difference %.4f, largest %d\n", mean,
               worst);
  EXPECT_LT(mean, 0.5);
  EXPECT_LE(worst, 8);
}

TEST_F(FrameserverTitle, JobScriptWritesItsStartFileWhenOpened) {
  const std::string script = Script(
      "video = LanczosResize(video, 640, 352, 0, 72, 720, 432)\r\n\r\nvideo\r\n"
      "AssumeFPS(24, sync_audio=true)\r\nTrim(0, 149)\r\n\r\n"
      "WriteFileStart(\"avsdebug\", \"\"\" \"Kestrevane\" \"\"\")\r\n");
  const std::string avsdebug = job_->File("avsdebug");
  ASSERT_FALSE(access(avsdebug.c_str(), F_OK) == 0);
  kv_test::CommandResult r =
      RunCommand("cd " + Quote(job_->Path()) + " && " + Avs2y4m() + " --info out01.avs");
  ASSERT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find("frames 150\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("fps 24/1\n"), std::string::npos) << r.out;
  EXPECT_EQ(kv_test::ReadFile(avsdebug), "Kestrevane\r\n");
}

}  // namespace
