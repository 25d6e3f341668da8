// The encoder serves a volume's frames in segments, each worker through its
// own instance of the volume's script, all at once on their own threads, and
// jumps from segment to segment in any order. For every title of the sample
// discs, in the job writer's script with field matching (and decimation
// where the title is film), deinterlacing where it is interlaced, the
// sub-pictures burnt in where it has them, cropped and resized: every frame
// served to a segment is the frame the whole clip serves in order.
#include <gtest/gtest.h>
#include <zlib.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "outside/frameserver/video_file.h"
#include "outside/producer/frame_source.h"
#include "tests/outside/plugin_test_util.h"
#include "tests/outside/qmvideo_test_util.h"
#include "tests/support/temp_dir.h"
#include "wizard/job_writer.h"

namespace {

using Hashes = std::vector<uint32_t>;

uint32_t PictureHash(const AVFrame* picture) {
  uLong crc = crc32(0, nullptr, 0);
  for (int p = 0; p < 3; ++p) {
    const int rows = p == 0 ? picture->height : (picture->height + 1) / 2;
    const int bytes = p == 0 ? picture->width : (picture->width + 1) / 2;
    for (int y = 0; y < rows; ++y)
      crc = crc32(crc, picture->data[p] + static_cast<ptrdiff_t>(y) * picture->linesize[p],
                  static_cast<uInt>(bytes));
  }
  return static_cast<uint32_t>(crc);
}

// Serves frames [first, end) of `clip` as the encoder does, into `hashes`.
bool ServeRange(kv_video_file::VideoFile& clip, int width, int height, int64_t first, int64_t end,
                Hashes* hashes, std::string* error) {
  producer::FrameSource source(clip, width, height, first, end);
  for (int64_t n = first; n < end; ++n) {
    producer::SourceFrame frame;
    if (!source.Next(&frame, error)) return false;
    if (frame.number != n) {
      *error = "frame " + std::to_string(frame.number) + " came for " + std::to_string(n);
      return false;
    }
    (*hashes)[static_cast<size_t>(n)] = PictureHash(frame.picture);
  }
  return true;
}

struct Title {
  const char* disc;
  int vts;
  bool interlaced;
  bool subtitles;
};

// The job writer's settings for `title`: field matching on every title, of
// film for the telecined ones.
wizard::JobSettings SettingsFor(const Title& title) {
  wizard::JobSettings s;
  const bool ntsc = std::string(title.disc).rfind("ntsc", 0) == 0;
  const bool small = std::string(title.disc) == "pal_long";
  s.Facts.PictureWidth = small ? 352 : 720;
  s.Facts.PictureHeight = small ? 288 : ntsc ? 480 : 576;
  s.OutputWidth = 480;
  s.OutputHeight = 352;
  s.CropMode = wizard::CropModeKind::Manual;
  s.CropRect = {8, 16, s.Facts.PictureWidth - 16, s.Facts.PictureHeight - 32};
  s.Ivtc = s.IvtcComplex = true;
  s.TopFieldFirst = ntsc;
  s.Facts.FilmShare = std::string(title.disc) == "ntsc_mixed" ? 60 : ntsc ? 100 : 20;
  s.Deinterlace = title.interlaced;
  if (title.subtitles) {
    s.Facts.SubtitleStreams.push_back({0, 0x656E});
    s.HasSubtitles = s.SubtitlesEnabled = true;
  }
  s.EncodeMode = wizard::EncodeModeKind::ConstantQuality;
  return s;
}

// The job writer's script of `title` in its own folder under `folder`.
std::string WriteScript(kv_test::TempDir& folder, const Title& title) {
  const std::string name = std::string(title.disc) + "_vts" + std::to_string(title.vts);
  const std::string dir = folder.File(name);
  kv_test::MakeFolders(dir);
  kv_test::PluginTitle t;
  if (!kv_test::PreparePluginTitle(dir, title.disc, title.vts, 1, &t)) return "";
  const std::string script = wizard::FormatScript(SettingsFor(title), t.key, 1, false);
  if (script.empty()) return "";
  kv_test::WriteFile(dir + "/out01.avs", script);
  return dir + "/out01.avs";
}

// Every frame of the script at `path`, served in order by one instance.
bool WholeClip(const std::string& path, Hashes* hashes, int* width, int* height,
               std::string* error) {
  auto whole = kv_video_file::VideoFile::Open(path, error);
  if (!whole) return false;
  const int64_t frames = whole->Info().frame_count;
  *width = whole->Info().width;
  *height = whole->Info().height;
  hashes->assign(static_cast<size_t>(frames), 0);
  return ServeRange(*whole, *width, *height, 0, frames, hashes, error);
}

int64_t Differing(const Hashes& served, const Hashes& expected) {
  int64_t differing = 0;
  for (size_t n = 0; n < expected.size(); ++n)
    if (served[n] != expected[n] && ++differing <= 5) ADD_FAILURE() << "frame " << n;
  return differing;
}

TEST(SegmentServing, EverySampleTitleServesItsSegmentsAsTheWholeClip) {
  ASSERT_TRUE(kv_test::InstallFrameserver());
  kv_test::TempDir folder("kv-segments");
  const Title titles[] = {
      {"pal_letterbox", 1, false, false},     {"ntsc_multi", 1, true, true},
      {"ntsc_multi", 2, true, false},         {"ntsc_film", 1, false, false},
      {"ntsc_mixed", 1, false, false},        {"pal_bff_progressive", 1, false, false},
      {"pal_bff_interlaced", 1, true, false}, {"ntsc_film_bff", 1, false, false},
      {"pal_fields_bff", 1, true, false},     {"ntsc_fields_tff", 1, true, false},
      {"pal_sync", 1, true, false},           {"pal_long", 1, false, false},
      {"pal_grain", 1, false, false},         {"pal_wide_long", 1, false, false},
  };
  for (const Title& title : titles) {
    SCOPED_TRACE(std::string(title.disc) + " " + std::to_string(title.vts));
    const std::string script = WriteScript(folder, title);
    ASSERT_FALSE(script.empty());
    std::string error;
    Hashes expected;
    int width = 0, height = 0;
    ASSERT_TRUE(WholeClip(script, &expected, &width, &height, &error)) << error;
    const auto frames = static_cast<int64_t>(expected.size());
    ASSERT_GE(frames, 40);

    // Four segments of unequal length on two instances: the first instance
    // serves the last segment and then the first, the other the two in the
    // middle.
    const int64_t cuts[] = {0, frames / 5, frames / 2, frames * 3 / 4, frames};
    const std::vector<std::vector<int>> turns = {{3, 0}, {1, 2}};
    Hashes served(static_cast<size_t>(frames));
    std::vector<std::string> errors(turns.size());
    std::vector<std::unique_ptr<kv_video_file::VideoFile>> instances;
    for (size_t w = 0; w < turns.size(); ++w) {
      instances.push_back(kv_video_file::VideoFile::Open(script, &error));
      ASSERT_TRUE(instances.back()) << error;
    }
    std::vector<std::thread> workers;
    for (size_t w = 0; w < turns.size(); ++w)
      workers.emplace_back([&, w] {
        for (int segment : turns[w])
          if (!ServeRange(*instances[w], width, height, cuts[segment], cuts[segment + 1], &served,
                          &errors[w]))
            return;
      });
    for (std::thread& worker : workers) worker.join();
    for (const std::string& e : errors) ASSERT_EQ(e, "");
    EXPECT_EQ(Differing(served, expected), 0);
  }
}

// Scripts of two different titles served at once on two threads: each
// instance's decoder keeps its own title, whatever the other one reads.
TEST(SegmentServing, ClipsOfTwoTitlesServeSideBySide) {
  ASSERT_TRUE(kv_test::InstallFrameserver());
  kv_test::TempDir folder("kv-two-titles");
  const Title titles[] = {{"pal_letterbox", 1, false, false}, {"pal_grain", 1, false, false}};
  std::vector<std::string> scripts;
  std::vector<Hashes> expected(2), served(2);
  std::string errors[2];
  int width = 0, height = 0;
  for (int t = 0; t < 2; ++t) {
    scripts.push_back(WriteScript(folder, titles[t]));
    ASSERT_FALSE(scripts.back().empty());
    ASSERT_TRUE(WholeClip(scripts.back(), &expected[t], &width, &height, &errors[t])) << errors[t];
    served[t].assign(expected[t].size(), 0);
  }
  std::vector<std::thread> workers;
  for (int t = 0; t < 2; ++t)
    workers.emplace_back([&, t] {
      auto clip = kv_video_file::VideoFile::Open(scripts[t], &errors[t]);
      if (clip)
        ServeRange(*clip, width, height, 0, static_cast<int64_t>(expected[t].size()), &served[t],
                   &errors[t]);
    });
  for (std::thread& worker : workers) worker.join();
  for (int t = 0; t < 2; ++t) {
    SCOPED_TRACE(titles[t].disc);
    ASSERT_EQ(errors[t], "");
    EXPECT_EQ(Differing(served[t], expected[t]), 0);
  }
}

}  // namespace
