// The two-hour sample film (fixture "long_film", label "long") over the
// whole road: analysed and prepared at full length through the windows, cut
// into ten volumes (the most a job takes), of which the first and the last
// are encoded. Their frames, flashes, tones and the last minute's box are
// checked against the film's first and last cells as libdvdread reads them
// off the disc and FFmpeg decodes them.
#include <QCheckBox>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "queue/job_file.h"
#include "tessmar/formats/virtual_file_map.h"
#include "tests/road/independent_readers.h"
#include "tests/road/road_fixture.h"
#include "tests/support/temp_dir.h"
#include "tests/tessmar/tessmar_test_util.h"
#include "wizard/job_writer.h"
#include "wizard/title_key.h"

namespace kv_test {
namespace {

const std::string kFilm = std::string(KV_LONG_FILM_DIR) + "/pal_two_hours";
constexpr double kRate = 25;

// A key=value fact the fixture wrote beside the film.
std::string Fact(const std::string& key) {
  std::ifstream in(kFilm + ".info.txt");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  return "";
}

// What FFmpeg finds in one cell of the disc: the mean luma of each frame, of
// the whole picture and of the last minute's box, and for each flash how far
// its tone leads it (s), by the time stamps of the cell's streams.
struct SourceCell {
  std::vector<double> means, box_means;
  std::vector<double> tone_leads;
};

SourceCell ReadCell(const std::string& file, int box_x, int box_y, int box_size) {
  SourceCell cell;
  cell.means = FrameMeans(file);
  cell.box_means = FrameMeans(file, box_x, box_y, box_size, box_size);
  const double sound_start = std::atof(
      RunCommand(
          "ffprobe -v error -select_streams a:0 -show_entries stream=start_time -of csv=p=0 " +
          Quote(file))
          .out.c_str());
  const std::vector<double> flashes = FlashTimes(file);
  const std::vector<double> onsets = ToneOnsets(file);
  for (size_t i = 0; i < flashes.size() && i < onsets.size(); ++i)
    cell.tone_leads.push_back(flashes[i] - (sound_start + onsets[i]));
  return cell;
}

// The frames whose mean passes 128, moved by `shift`.
std::vector<int> BrightFrames(const std::vector<double>& means, int shift) {
  std::vector<int> frames;
  for (size_t i = 0; i < means.size(); ++i)
    if (means[i] > 128) frames.push_back(static_cast<int>(i) + shift);
  return frames;
}

class LongFilm : public RoadTest {
 protected:
  void SetUp() override {
    if (!std::filesystem::is_directory(kFilm + "/VIDEO_TS")) GTEST_SKIP() << "no film at " << kFilm;
  }

  // The volume shows the source's flashes at `flashes` (its frames), and
  // each tone leads its flash as in the source, to within 2 ms.
  static void ExpectFlashesAndTones(const std::string& volume, const std::vector<int>& flashes,
                                    const SourceCell& source) {
    EXPECT_EQ(FlashFrames(FrameMeans(volume)), flashes);
    const std::vector<double> onsets = ToneOnsets(volume);
    ASSERT_EQ(onsets.size(), flashes.size());
    ASSERT_EQ(source.tone_leads.size(), flashes.size());
    for (size_t i = 0; i < flashes.size(); ++i) {
      const double lead = flashes[i] / kRate - onsets[i];
      std::printf("flash at %.2f s of the volume, its tone %.1f ms ahead (%.1f ms on the disc)\n",
                  flashes[i] / kRate, lead * 1000, source.tone_leads[i] * 1000);
      EXPECT_NEAR(lead, source.tone_leads[i], 0.002) << "flash at " << flashes[i];
    }
  }
};

TEST_F(LongFilm, AnalysedPreparedAndItsFirstAndLastVolumesEncoded) {
  const int frames = std::atoi(Fact("frames").c_str());
  const int cells = std::atoi(Fact("cells").c_str());
  int box_x = 0, box_y = 0, box_size = 0;
  ASSERT_EQ(std::sscanf(Fact("last_minute_box").c_str(), "%d %d %d", &box_x, &box_y, &box_size), 3);
  // The first and the last cell as a player reads them.
  TempDir cell_folder("kv-long-cells");
  const std::vector<std::string> cell_files =
      ReadTitleCells(kFilm, 1, 1, 0, cell_folder.Path(), {1, cells});
  ASSERT_EQ(cell_files.size(), 2u);
  const SourceCell first = ReadCell(cell_files[0], box_x, box_y, box_size);
  const SourceCell last = ReadCell(cell_files[1], box_x, box_y, box_size);
  const int last_start = frames - static_cast<int>(last.means.size());
  ASSERT_EQ(FlashFrames(first.means).size(), 3u);
  ASSERT_EQ(FlashFrames(last.means).size(), 3u);

  NewJob();
  StartAnalysis(kFilm, "Film");
  WaitForAnalysis();
  ASSERT_TRUE(WizardOpen());
  Click("NextButton");
  auto* tree = Find<QTreeWidget>("TitleTree");
  ASSERT_NE(tree->currentItem(), nullptr);
  EXPECT_EQ(tree->currentItem()->text(0).toStdString(), "PGC 1 [02:00:00]");
  ChooseTitle(1, 1);
  SetCheck("VideoCropNoCheck", true);
  ClickControl("EncModeFixedRadio");
  SetCheck("VolCheck", true);
  StepUp("VolNumUpDown", 9);
  // One pass of the quickest complexity: the road is the same, the encoder
  // has less to do.
  SetCheck("EHQCustomCheck", true);
  SetCheck("EHQTwoPassCheck", false);
  TypeInto("EHQ2Edit", "50");
  const Finished job = Finish();
  const wizard::JobSettings& s = job.settings;
  EXPECT_EQ(s.Facts.PgcFrameCount, frames);
  EXPECT_EQ(s.FrameCount, frames);
  EXPECT_FALSE(s.TwoPass);
  ASSERT_EQ(s.VolumeCount, 10);
  // The title's bytes come from both VOB files, a cell straddling them.
  const std::string base =
      queue::JobDataFolderOf(job.folder) + "/" + wizard::TitleKeyFor({1, 1, 0});
  tessmar::formats::VirtualFileMap map;
  ASSERT_TRUE(tessmar::formats::ParseVirtualFileMap(ReadFile(base + ".vfm"), &map));
  ASSERT_EQ(map.files.size(), 2u);
  bool in_first = false, in_second = false;
  for (const auto& segment : map.segments) (segment.file == 0 ? in_first : in_second) = true;
  EXPECT_TRUE(in_first && in_second);

  // Volume 1; the queue stops after it as the shutdown option says.
  ClickShutCheck();
  Window().findChild<QRadioButton*>("ShutVolRadio")->click();
  Spinner("ShutVolUpDown")->SetPosition(1);
  Window().Runner().SetPowerOffCountdown(std::chrono::seconds(1));
  EncodeRow(0);
  ServeEventsUntil([&] { return power_off_.requests == 1; });
  if (Window().findChild<QCheckBox*>("ShutCheck")->isChecked()) ClickShutCheck();
  EXPECT_EQ(queue::ReadJobFileLines(queue::JobFilePathOf(job.folder))->progress, "1 / 10");
  // Volumes 2 to 9 taken as done: the job comes back into the queue at its
  // last volume.
  const auto lines = queue::ReadJobFileLines(queue::JobFilePathOf(job.folder));
  WriteFile(queue::JobFilePathOf(job.folder),
            queue::FormatJobFileText(lines->name, lines->date, "9 / 10", lines->time, lines->left));
  ASSERT_TRUE(Window().Runner().RemoveJob(0));
  Window().AddJobFromFolder(job.folder);
  EncodeRow(0);
  EXPECT_EQ(StateOf(0), queue::JobState::Done);

  const int per_volume = wizard::FramesPerVolume(s);
  const int last_volume_start = 9 * per_volume;
  const std::string volume1 = job.folder + "/Film (1of10).rmvb";
  const std::string volume10 = job.folder + "/Film (10of10).rmvb";
  EXPECT_EQ(ProbeVolume(volume1).decoded_frames, per_volume);
  EXPECT_EQ(ProbeVolume(volume10).decoded_frames, frames - last_volume_start);
  // The volumes' flashes are the first and the last cell's, frame for frame.
  ExpectFlashesAndTones(volume1, FlashFrames(first.means), first);
  std::vector<int> last_flashes;
  for (int f : FlashFrames(last.means)) last_flashes.push_back(f + last_start - last_volume_start);
  ExpectFlashesAndTones(volume10, last_flashes, last);
  // The last minute's box, on the same frames as on the disc.
  const int w = s.OutputWidth, h = s.OutputHeight;
  const std::vector<double> box = FrameMeans(volume10, w * box_x / 352, h * box_y / 288,
                                             w * box_size / 352, h * box_size / 288);
  EXPECT_EQ(BrightFrames(box, 0), BrightFrames(last.box_means, last_start - last_volume_start));
}

}  // namespace
}  // namespace kv_test
