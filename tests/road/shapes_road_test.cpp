// The shapes of real discs over the whole road: an interleaved angle block,
// time stamps that start again between cells, sound that starts before or
// after the picture or only in a title's second cell, and sub-pictures in a
// wide-screen and a letterbox variant. Each job is made through the windows
// or kestrevane-cli, encoded by the encoder of the program folder, and its
// volumes read back by FFmpeg against the title's cells as libdvdread reads
// them off the disc: frames by their content, sound by its tones, sync by
// flash and tone within one frame.
#include <QLabel>
#include <QSlider>
#include <QTreeWidget>
#include <cmath>
#include <cstdio>
#include <numeric>

#include "tests/road/independent_readers.h"
#include "tests/road/road_fixture.h"
#include "tests/support/sample_dvds.h"
#include "tests/support/temp_dir.h"
#include "tests/tessmar/tessmar_test_util.h"
#include "wizard/job_writer.h"

namespace kv_test {
namespace {

// A title as a player reads it off the disc: its cells' frames (mean luma
// of the whole picture and of a box), in playing order.
struct SourceTitle {
  std::vector<double> means, box_means;
  std::vector<int> cell_starts;  // first frame of each cell
};

SourceTitle ReadSource(const std::string& disc, int pgc, int angle, int box_w, int box_h) {
  TempDir cells("kv-shape-cells");
  SourceTitle title;
  const std::vector<std::string> files =
      ReadTitleCells(SampleDvdRoot() + "/" + disc, 1, pgc, angle, cells.Path());
  for (const std::string& file : files) {
    title.cell_starts.push_back(static_cast<int>(title.means.size()));
    for (double m : FrameMeans(file)) title.means.push_back(m);
    for (double m : FrameMeans(file, 0, 0, box_w, box_h)) title.box_means.push_back(m);
  }
  return title;
}

class RoadShapes : public RoadTest {
 protected:
  // The grey of part p's box of pal_restarts (luma 40 + 40 p) in the
  // preview's red-green-blue.
  static int PartGrey(int p) { return (40 + 40 * p - 16) * 255 / 219; }

  // The volume's flashes are the source's, frame for frame, and each has
  // its tone within one frame; `tones` flashes of them have one.
  static void ExpectSync(const std::string& volume, const std::vector<int>& source_flashes,
                         double rate, size_t tones) {
    const std::vector<int> flashes = FlashFrames(FrameMeans(volume));
    EXPECT_EQ(flashes, source_flashes);
    const std::vector<double> onsets = ToneOnsets(volume);
    ASSERT_EQ(onsets.size(), tones);
    for (double t : onsets) {
      double nearest = 1e9;
      for (int f : flashes) nearest = std::min(nearest, std::abs(t - f / rate));
      std::printf("tone at %.4f s, %.1f ms from its flash\n", t, nearest * 1000);
      EXPECT_LT(nearest, 1.0 / rate) << "tone at " << t << " s";
    }
  }

  // kestrevane-cli as a child process, to its end; its exit status.
  static int Cli(const std::vector<std::string>& arguments) {
    std::string command = Quote(std::string(KV_PROGRAM_FOLDER) + "/kestrevane-cli");
    for (const std::string& a : arguments) command += " " + Quote(a);
    const CommandResult run = RunCommand(command + " >/dev/null");
    return run.exit_code;
  }

  TempDir dest_{"kv-shape-jobs"};
};

// The angle block's title tree, and angle 2 chosen there: its frames, its
// sound and the frame count of one angle; angles 1 and 3 through the
// command line. Each angle's box, flashes and tones are its own.
TEST_F(RoadShapes, EachAngleOfAnInterleavedBlockGivesItsOwnFramesAndSound) {
  NewJob();
  Analyse("pal_angles", "Angle2");
  auto* tree = Find<QTreeWidget>("TitleTree");
  ASSERT_EQ(tree->topLevelItemCount(), 1);
  QTreeWidgetItem* chain = tree->topLevelItem(0)->child(0);
  ASSERT_NE(chain, nullptr);
  EXPECT_EQ(chain->text(0).toStdString(), "PGC 1 [00:00:09]");
  ASSERT_EQ(chain->childCount(), 3);
  for (int a = 0; a < 3; ++a)
    EXPECT_EQ(chain->child(a)->text(0).toStdString(), "Angle " + std::to_string(a + 1));
  EXPECT_EQ(tree->currentItem(), chain->child(0));  // the longest chain's first angle
  ChooseTitle(1, 1, 2);
  EXPECT_EQ(Find<QLabel>("TitleLabel")->text().toStdString(), " VTS_01 > PGC 1 > Angle 2");
  AverageBitrate(900);
  SetCheck("VolCheck", false);
  SetCheck("VideoCropNoCheck", true);
  const Finished job = Finish();
  EXPECT_EQ(job.settings.Facts.PgcFrameCount, 240);
  EncodeRow(0);
  EXPECT_TRUE(boxes_.Messages().empty());
  ExpectEncodedJob(job, {"Angle2.rmvb"}, 2);

  for (int angle = 1; angle <= 3; ++angle) {
    SCOPED_TRACE("angle " + std::to_string(angle));
    std::string volume = job.folder + "/Angle2.rmvb";
    int width = job.settings.OutputWidth, height = job.settings.OutputHeight;
    if (angle != 2) {
      const std::string name = "Angle" + std::to_string(angle);
      ASSERT_EQ(Cli({"new", "--name", name, "--dest", dest_.Path(), "--dvd",
                     SampleDvdRoot() + "/pal_angles", "--title", "1:1:" + std::to_string(angle),
                     "--bitrate", "500", "--crop", "none"}),
                0);
      ASSERT_EQ(Cli({"encode", name}), 0);
      volume = dest_.File(name + "/" + name + ".rmvb");
      const ProbedVolume probed = ProbeVolume(volume);
      width = probed.width;
      height = probed.height;
    }
    const SourceTitle source = ReadSource("pal_angles", 1, angle, 176, 288);
    ASSERT_EQ(source.cell_starts.size(), 3u);  // lead-in, the angle's cell, lead-out
    ASSERT_EQ(source.means.size(), 240u);
    const std::vector<double> box = FrameMeans(volume, 0, 0, width / 2, height);
    ASSERT_EQ(box.size(), source.box_means.size());
    // The angle's box (its grey 10 + 50 a in video levels) over the block,
    // frames 60 to 179, and the output's picture there as the source's.
    const double level = 16 + (10 + 50 * angle) * 219.0 / 255;
    for (int f : {30, 70, 120, 170, 200}) {
      const bool in_block = f >= 60 && f < 180;
      if (in_block)
        EXPECT_NEAR(source.box_means[f], level, 2) << "frame " << f;
      else
        EXPECT_GT(std::abs(source.box_means[f] - level), 4.0) << "frame " << f;
      EXPECT_NEAR(box[f], source.box_means[f], 8) << "frame " << f;
    }
    ExpectSync(volume, FlashFrames(source.means), 25.0, static_cast<size_t>(angle) + 2);
  }
}

// Four separately multiplexed parts, their time stamps starting again in
// each, their sound running past their pictures: the frame count, the
// preview slider, the cut between two volumes and the sync of every part's
// flash and tone.
TEST_F(RoadShapes, TimeStampsThatStartAgainKeepCountsSliderCutsAndSync) {
  NewJob();
  Analyse("pal_restarts", "Restarts");
  const SourceTitle source = ReadSource("pal_restarts", 1, 0, 88, 288);
  ASSERT_EQ(source.cell_starts, (std::vector<int>{0, 60, 140, 190}));
  ASSERT_EQ(source.means.size(), 260u);
  // The slider through the title: each position shows its part's box.
  auto* tree = Find<QTreeWidget>("TitleTree");
  ASSERT_NE(tree->currentItem(), nullptr);
  auto* bar = Find<QSlider>("PreviewBar");
  for (int position : {10, 40, 70, 100, 120}) {
    bar->setValue(position);
    const int frame = 259 * position / 128;
    const QImage shown = Find<QLabel>("PreviewImage")->pixmap().toImage();
    ASSERT_FALSE(shown.isNull());
    const int part = static_cast<int>(std::upper_bound(source.cell_starts.begin(),
                                                       source.cell_starts.end(), frame) -
                                      source.cell_starts.begin()) -
                     1;
    // The box covers the left quarter; its grey is nearest its own part's.
    const int green = shown.pixelColor(shown.width() / 16, shown.height() / 2).green();
    int nearest = 0;
    for (int p = 1; p < 4; ++p)
      if (std::abs(green - PartGrey(p)) < std::abs(green - PartGrey(nearest))) nearest = p;
    EXPECT_EQ(nearest, part) << "position " << position << ", frame " << frame << ", " << green;
  }
  ChooseTitle(1, 1);
  SetCheck("VideoCropNoCheck", true);
  ClickControl("EncModeFixedRadio");
  SetCheck("VolCheck", true);
  StepUp("VolNumUpDown", 1);
  TypeInto("VolEdit", "1");
  const Finished job = Finish();
  EXPECT_EQ(job.settings.Facts.PgcFrameCount, 260);
  EncodeRow(0);
  EXPECT_TRUE(boxes_.Messages().empty());
  ExpectEncodedJob(job, {"Restarts (1of2).rmvb", "Restarts (2of2).rmvb"}, 2, 1048576);

  // Both volumes as one: the second starts where the first ends.
  const int cut = wizard::FramesPerVolume(job.settings);
  std::vector<int> flashes;
  std::vector<double> tones, box;
  for (int v = 0; v < 2; ++v) {
    const std::string file = job.folder + "/Restarts (" + std::to_string(v + 1) + "of2).rmvb";
    for (int f : FlashFrames(FrameMeans(file))) flashes.push_back(f + v * cut);
    for (double t : ToneOnsets(file)) tones.push_back(t + v * cut / 25.0);
    for (double m : FrameMeans(file, 0, 0, job.settings.OutputWidth / 4, job.settings.OutputHeight))
      box.push_back(m);
  }
  EXPECT_EQ(flashes, FlashFrames(source.means));
  ASSERT_EQ(tones.size(), flashes.size());
  for (size_t i = 0; i < tones.size(); ++i) {
    std::printf("flash at %.3f s, tone at %.4f s\n", flashes[i] / 25.0, tones[i]);
    EXPECT_NEAR(tones[i], flashes[i] / 25.0, 1.0 / 25) << i;
  }
  ASSERT_EQ(box.size(), 260u);
  for (size_t p = 0; p < 4; ++p)
    EXPECT_NEAR(box[static_cast<size_t>(source.cell_starts[p]) + 5], 40 + 40 * p, 12) << p;
}

// Sound that starts 300 ms before the picture, 300 ms after it, and in a
// title's second cell only, six seconds in: the delay each job applies
// keeps every tone on its flash from the first second to the last.
TEST_F(RoadShapes, SoundBeforeOrAfterThePictureOrFromTheSecondCellStaysInSync) {
  const struct {
    int pgc;
    size_t tones;
  } titles[] = {{1, 5}, {2, 5}, {3, 3}};
  for (const auto& title : titles) {
    const std::string name = "Offset" + std::to_string(title.pgc);
    SCOPED_TRACE(name);
    ASSERT_EQ(Cli({"new", "--name", name, "--dest", dest_.Path(), "--dvd",
                   SampleDvdRoot() + "/pal_sound_offsets", "--title",
                   "1:" + std::to_string(title.pgc), "--bitrate", "500"}),
              0);
    ASSERT_EQ(Cli({"encode", name}), 0);
    const std::string volume = dest_.File(name + "/" + name + ".rmvb");
    const SourceTitle source = ReadSource("pal_sound_offsets", title.pgc, 0, 0, 0);
    EXPECT_EQ(ProbeVolume(volume).decoded_frames, static_cast<int>(source.means.size()));
    ExpectSync(volume, FlashFrames(source.means), 25.0, title.tones);
  }
}

// A 16:9 title whose one language has a stream for wide-screen displays and
// one for letterbox: the wide-screen one is burnt in.
TEST_F(RoadShapes, TheWideScreenVariantOfA16to9TitlesSubtitlesIsBurntIn) {
  StartJob("pal_wide_subtitles", "Wide", 1, 1);
  AverageBitrate(1200);
  SetCheck("VolCheck", false);
  SetCheck("SubCheck", true);
  ChooseInCombo("SubLangCombo", 0);
  const Finished job = Finish();
  const wizard::JobSettings& s = job.settings;
  EXPECT_TRUE(s.SubtitlesEnabled);
  EncodeRow(0);
  EXPECT_TRUE(boxes_.Messages().empty());
  ExpectEncodedJob(job, {"Wide.rmvb"}, 2);
  const std::string volume = job.folder + "/Wide.rmvb";
  const int w = s.OutputWidth, h = s.OutputHeight;
  const wizard::PictureRect full{0, 0, s.Facts.PictureWidth, s.Facts.PictureHeight};
  const wizard::PictureRect crop = s.CropMode == wizard::CropModeKind::Disabled ? full : s.CropRect;
  auto share = [&](int top, double seconds) {
    const std::string luma = LumaAt(volume, seconds, w, h);
    if (luma.empty()) return -1.0;
    auto x = [&](int source) { return (source - crop.Left) * w / crop.Width; };
    auto y = [&](int source) { return (source - crop.Top) * h / crop.Height; };
    return BrightShare(luma, w, x(252), y(top + 8), x(468), y(top + 32));
  };
  EXPECT_GT(share(400, 3.0), 0.95);  // the wide-screen box
  EXPECT_LT(share(520, 3.0), 0.5);   // no letterbox box
  EXPECT_LT(share(400, 5.5), 0.5);   // gone after its time
}

}  // namespace
}  // namespace kv_test
