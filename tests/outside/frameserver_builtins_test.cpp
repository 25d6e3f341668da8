// The frameserver's own functions on generated clips: frames and samples
// are checked against what the source clip gives at the shifted position,
// and against the documented test pattern of BlankClip.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "outside/frameserver/interpreter.h"
#include "tests/support/temp_dir.h"

namespace {

using kvfs::ClipPtr;

ClipPtr Open(const std::string& text, const std::string& folder = "") {
  kvfs::InterpreterOptions options;
  options.allow_plugins = false;
  options.folder = folder;
  return kvfs::OpenScript(text, options);
}

std::vector<uint8_t> Bytes(const kvfs_frame* f) {
  std::vector<uint8_t> out;
  const int planes = f->pixel_format == KVFS_PIXEL_I420 ? 3 : 1;
  for (int p = 0; p < planes; ++p) {
    const int w = f->pixel_format == KVFS_PIXEL_BGR24 ? f->width * 3
                  : p == 0                            ? f->width
                                                      : (f->width + 1) / 2;
    const int h = p == 0 ? f->height : (f->height + 1) / 2;
    for (int y = 0; y < h; ++y) {
      const uint8_t* row = f->data[p] + static_cast<ptrdiff_t>(y) * f->pitch[p];
      out.insert(out.end(), row, row + w);
    }
  }
  return out;
}

std::vector<float> Samples(const ClipPtr& clip, int64_t start, int64_t count) {
  std::vector<float> out(static_cast<size_t>(count * clip->Info().channels));
  clip->GetAudio(start, count, out.data());
  return out;
}

// Frequency of a tone by counting upward zero crossings over whole seconds.
double ToneFrequency(const std::vector<float>& mono, int rate) {
  int crossings = 0;
  for (size_t i = 1; i < mono.size(); ++i)
    if (mono[i - 1] < 0 && mono[i] >= 0) ++crossings;
  return crossings * static_cast<double>(rate) / static_cast<double>(mono.size());
}

double Rms(const std::vector<float>& v) {
  double sum = 0;
  for (float x : v) sum += static_cast<double>(x) * x;
  return std::sqrt(sum / static_cast<double>(v.size()));
}

TEST(FrameserverBlankClip, PatternFollowsItsFormula) {
  // Y(x, y) = x + 2y + 3n, U = 2x + y + 5n, V = x + y + 7n, modulo 256, in
  // the plane's own coordinates.
  ClipPtr clip = Open("BlankClip(length=20, width=64, height=48, pattern=true)");
  for (int n : {0, 1, 7, 19}) {
    kvfs::FrameRef f = clip->GetFrame(n);
    ASSERT_EQ(f->width, 64);
    for (int y = 0; y < 48; y += 5)
      for (int x = 0; x < 64; x += 7)
        ASSERT_EQ(f->data[0][y * f->pitch[0] + x], static_cast<uint8_t>(x + 2 * y + 3 * n));
    for (int y = 0; y < 24; y += 3) {
      for (int x = 0; x < 32; x += 5) {
        ASSERT_EQ(f->data[1][y * f->pitch[1] + x], static_cast<uint8_t>(2 * x + y + 5 * n));
        ASSERT_EQ(f->data[2][y * f->pitch[2] + x], static_cast<uint8_t>(x + y + 7 * n));
      }
    }
  }
  // A plain colour: white is studio-range 235/128/128.
  kvfs::FrameRef white = Open("BlankClip(color=$FFFFFF)")->GetFrame(0);
  EXPECT_EQ(white->data[0][0], 235);
  EXPECT_EQ(white->data[1][0], 128);
  kvfs::FrameRef rgb = Open("BlankClip(pixel_type=\"RGB24\", color=$102030)")->GetFrame(0);
  EXPECT_EQ(rgb->data[0][0], 0x30);  // blue first
  EXPECT_EQ(rgb->data[0][2], 0x10);
}

TEST(FrameserverTrim, RangesAreExactFrames) {
  const std::string source = "src = BlankClip(length=300, width=32, height=16, pattern=true)\n";
  ClipPtr src = Open(source + "src");
  ClipPtr mid = Open(source + "Trim(src, 100, 199)");
  ASSERT_EQ(mid->Info().frame_count, 100);
  for (int i = 0; i < 100; ++i)
    ASSERT_EQ(Bytes(mid->GetFrame(i).get()), Bytes(src->GetFrame(100 + i).get())) << i;
  ClipPtr tail = Open(source + "Trim(src, 200, 0)");
  ASSERT_EQ(tail->Info().frame_count, 100);
  EXPECT_EQ(Bytes(tail->GetFrame(99).get()), Bytes(src->GetFrame(299).get()));
  ClipPtr counted = Open(source + "Trim(src, 10, -5)");
  ASSERT_EQ(counted->Info().frame_count, 5);
  EXPECT_EQ(Bytes(counted->GetFrame(4).get()), Bytes(src->GetFrame(14).get()));
  // A last frame beyond the end is the end; frames asked for beyond the
  // clip are its last.
  ClipPtr over = Open(source + "Trim(src, 250, 1000)");
  EXPECT_EQ(over->Info().frame_count, 50);
  EXPECT_EQ(Bytes(over->GetFrame(70).get()), Bytes(src->GetFrame(299).get()));
  // Three volumes of 100 frames cover the clip without gap or overlap.
  int64_t total = 0;
  for (const char* cut : {"Trim(src, 0, 99)", "Trim(src, 100, 199)", "Trim(src, 200, 0)"})
    total += Open(source + cut)->Info().frame_count;
  EXPECT_EQ(total, 300);
}

TEST(FrameserverTrim, SoundFollowsTheFrames) {
  // 25 frames per second at 48000 Hz: 1920 samples a frame.
  const std::string source =
      "src = BlankClip(length=300, width=32, height=16, fps=25, audio_rate=48000, channels=2, "
      "tone=440)\n";
  ClipPtr src = Open(source + "src");
  ClipPtr mid = Open(source + "Trim(src, 100, 199)");
  ASSERT_EQ(mid->Info().sample_count, 100 * 1920);
  EXPECT_EQ(Samples(mid, 0, 4000), Samples(src, 100 * 1920, 4000));
  EXPECT_EQ(Samples(mid, 190000, 2000), Samples(src, 100 * 1920 + 190000, 2000));
  // Beyond the end there is silence, not the next volume's sound.
  const std::vector<float> after = Samples(mid, 100 * 1920, 100);
  for (float v : after) EXPECT_EQ(v, 0.0f);
  int64_t samples = 0;
  for (const char* cut : {"Trim(src, 0, 99)", "Trim(src, 100, 199)", "Trim(src, 200, 0)"})
    samples += Open(source + cut)->Info().sample_count;
  EXPECT_EQ(samples, src->Info().sample_count);
}

TEST(FrameserverAssumeFps, SyncAudioChangesTheSpeedOfTheSound) {
  const std::string source =
      "src = BlankClip(length=250, width=32, height=16, fps=25, audio_rate=48000, channels=2, "
      "tone=1000)\n";
  ClipPtr src = Open(source + "src");
  // Without sync_audio only the picture's rate changes.
  ClipPtr plain = Open(source + "AssumeFPS(src, 24)");
  EXPECT_EQ(plain->Info().fps_numerator, 24u);
  EXPECT_EQ(plain->Info().sample_count, src->Info().sample_count);
  EXPECT_EQ(Samples(plain, 5000, 100), Samples(src, 5000, 100));
  // With it the sound slows with the picture (25 -> 24) and keeps its rate:
  // 10 s become 10.4167 s and 1000 Hz becomes 960 Hz.
  ClipPtr synced = Open(source + "src.AssumeFPS(24, sync_audio=true)");
  EXPECT_EQ(synced->Info().audio_rate, 48000);
  EXPECT_EQ(synced->Info().sample_count, (src->Info().sample_count * 25 + 12) / 24);
  const int64_t second = 48000;
  std::vector<float> stereo = Samples(synced, 2 * second, 4 * second);
  std::vector<float> left, right;
  for (size_t i = 0; i < stereo.size(); i += 2) {
    left.push_back(stereo[i]);
    right.push_back(stereo[i + 1]);
  }
  EXPECT_NEAR(ToneFrequency(left, 48000), 960.0, 1.0);
  EXPECT_EQ(left, right);
  // The level is kept (a sine of amplitude 0.5).
  EXPECT_NEAR(Rms(left), 0.5 / std::sqrt(2.0), 0.005);
  // Any range gives the same samples as the same part of a longer range.
  std::vector<float> piece = Samples(synced, 2 * second + 12345, 777);
  EXPECT_EQ(piece,
            std::vector<float>(stereo.begin() + 2 * 12345, stereo.begin() + 2 * (12345 + 777)));
  // The way back: 24 -> 25 raises the tone again.
  ClipPtr faster = Open(
      "BlankClip(length=240, width=32, height=16, fps=24, channels=1, tone=960)\n"
      "AssumeFPS(25, 1, sync_audio=true)");
  EXPECT_NEAR(ToneFrequency(Samples(faster, second, 4 * second), 48000), 1000.0, 1.0);
}

TEST(FrameserverAudio, AudioDubDelayAndGain) {
  const std::string clips =
      "pic = BlankClip(length=100, width=32, height=16, fps=25, pattern=true, channels=0)\n"
      "snd = BlankClip(length=50, width=8, height=8, fps=25, audio_rate=32000, channels=2, "
      "tone=300)\n";
  ClipPtr pic = Open(clips + "pic");
  ClipPtr snd = Open(clips + "snd");
  ClipPtr dub = Open(clips + "AudioDub(pic, snd)");
  EXPECT_EQ(dub->Info().width, 32);
  EXPECT_EQ(dub->Info().frame_count, 100);
  EXPECT_EQ(dub->Info().audio_rate, 32000);
  EXPECT_EQ(dub->Info().sample_count, snd->Info().sample_count);
  EXPECT_EQ(Bytes(dub->GetFrame(42).get()), Bytes(pic->GetFrame(42).get()));
  EXPECT_EQ(Samples(dub, 1000, 500), Samples(snd, 1000, 500));

  // A positive delay puts silence first; a negative one drops the start.
  ClipPtr later = Open(clips + "AudioDub(pic, DelayAudio(snd, 0.5))");
  EXPECT_EQ(later->Info().sample_count, snd->Info().sample_count + 16000);
  for (float v : Samples(later, 0, 16000)) ASSERT_EQ(v, 0.0f);
  EXPECT_EQ(Samples(later, 16000, 3000), Samples(snd, 0, 3000));
  ClipPtr earlier = Open(clips + "AudioDub(pic, DelayAudio(snd, -0.080000))");
  EXPECT_EQ(earlier->Info().sample_count, snd->Info().sample_count - 2560);
  EXPECT_EQ(Samples(earlier, 0, 3000), Samples(snd, 2560, 3000));

  // +12 dB is a factor of 10^(12/20) = 3.981; channels may differ.
  ClipPtr louder = Open(clips + "AmplifydB(snd, 12.000000)");
  ClipPtr split = Open(clips + "AmplifydB(snd, -6.0, 6.0)");
  const std::vector<float> a = Samples(snd, 700, 50), b = Samples(louder, 700, 50),
                           c = Samples(split, 700, 50);
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_NEAR(b[i], a[i] * 3.98107f, 1e-5f);
    EXPECT_NEAR(c[i], a[i] * (i % 2 == 0 ? 0.501187f : 1.99526f), 1e-5f);
  }
}

TEST(FrameserverResize, SizesCropsAndColours) {
  const std::string src = "src = BlankClip(width=720, height=576, color=$3060C0)\n";
  for (const char* resize : {"LanczosResize", "BilinearResize"}) {
    ClipPtr plain = Open(src + resize + "(src, 640, 352)");
    EXPECT_EQ(plain->Info().width, 640);
    EXPECT_EQ(plain->Info().height, 352);
    ClipPtr cropped = Open(src + resize + "(src, 640, 352, 0, 72, 720, 432)");
    kvfs::FrameRef f = cropped->GetFrame(0);
    ASSERT_EQ(f->width, 640);
    // A plain colour stays that colour everywhere.
    kvfs::FrameRef in = Open(src + "src")->GetFrame(0);
    for (int p = 0; p < 3; ++p) {
      const int w = p ? 320 : 640, h = p ? 176 : 352;
      for (int y = 0; y < h; y += 11)
        for (int x = 0; x < w; x += 13)
          ASSERT_NEAR(f->data[p][y * f->pitch[p] + x], in->data[p][0], 1) << resize << p;
    }
  }
  // Width and height of 0 or less count from the right and bottom edges.
  ClipPtr edges = Open(
      "BlankClip(width=100, height=80, pattern=true)\nBilinearResize(100, 80, 10, 20, -10, -20)");
  ClipPtr explicit_crop = Open(
      "BlankClip(width=100, height=80, pattern=true)\nBilinearResize(100, 80, 10, 20, 80, 40)");
  EXPECT_EQ(Bytes(edges->GetFrame(3).get()), Bytes(explicit_crop->GetFrame(3).get()));
  // A crop to the top left quarter scaled up to the full size: the corner
  // pixel is the source's corner pixel.
  ClipPtr rgb = Open(
      "s = BlankClip(width=64, height=64, pixel_type=\"RGB24\", pattern=true)\n"
      "LanczosResize(s, 64, 64, 32, 32, 32, 32)");
  ASSERT_EQ(rgb->Info().pixel_format, KVFS_PIXEL_BGR24);
  kvfs::FrameRef q = rgb->GetFrame(0);
  EXPECT_NEAR(q->data[0][q->pitch[0] * 63 + 63 * 3], static_cast<uint8_t>(63 + 2 * 63), 12);
}

TEST(FrameserverWriteFileStart, WritesWhenTheClipIsOpenedNotWhenParsed) {
  kv_test::TempDir dir("kv-fs-start");
  const std::string script =
      "video = BlankClip(length=10)\nvideo\n\n"
      "WriteFileStart(\"avsdebug\", \"\"\" \"Kestrevane\" \"\"\")\n";
  const std::string avsdebug = dir.File("avsdebug");
  // Parsing and evaluating alone leaves no file.
  kvfs::InterpreterOptions options;
  options.allow_plugins = false;
  options.folder = dir.Path();
  kvfs::Program program = kvfs::Parse(script);
  kvfs::Interpreter in(options);
  kvfs::Value v = in.Run(program);
  ASSERT_EQ(v.type, kvfs::ValueType::Clip);
  EXPECT_TRUE(kv_test::ReadFile(avsdebug).empty());
  EXPECT_NE(access(avsdebug.c_str(), F_OK), 0);
  // Opening the clip for serving writes the text, evaluated: Kestrevane.
  kvfs::StartClips(v.clip);
  EXPECT_EQ(kv_test::ReadFile(avsdebug), "Kestrevane\r\n");

  // A script that fails after the line is never opened: no file.
  const std::string other = dir.File("sub");
  kv_test::MakeFolders(other);
  EXPECT_THROW(Open(script + "Trim(500, 0)\n", other), kvfs::ScriptError);
  EXPECT_NE(access((other + "/avsdebug").c_str(), F_OK), 0);

  // Several texts, values of the script's variables, appending.
  Open(
      "n = 6 * 7\nBlankClip()\nWriteFileStart(\"log.txt\", \"n\", \"n > 40\", \"\"\" \"x\" + \"y\" "
      "\"\"\")",
      dir.Path());
  Open("BlankClip()\nWriteFileStart(\"log.txt\", \"1.5\", append=true)", dir.Path());
  EXPECT_EQ(kv_test::ReadFile(dir.File("log.txt")), "42\r\ntrue\r\nxy\r\n1.500000\r\n");
  // A text that is no value gives an error at the line of the call.
  try {
    Open("BlankClip()\n\nWriteFileStart(\"bad.txt\", \"(\")", dir.Path());
    ADD_FAILURE() << "no error";
  } catch (const kvfs::ScriptError& e) {
    EXPECT_EQ(e.line(), 3);
    EXPECT_NE(std::string(e.what()).find("is not a value"), std::string::npos);
  }
}

}  // namespace
