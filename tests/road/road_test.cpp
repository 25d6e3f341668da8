// The road of one job through the real program: New Job in the queue
// window, the wizard's four pages over a sample disc, Finish, and Encode
// with the encoder of the program folder as a child process. What it made is
// read back by ffprobe and FFmpeg.
#include <sys/stat.h>

#include <QApplication>
#include <QComboBox>
#include <QSlider>
#include <QTest>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "queue/job_file.h"
#include "tests/road/independent_readers.h"
#include "tests/road/road_fixture.h"
#include "tests/support/temp_dir.h"
#include "tests/tessmar/tessmar_test_util.h"
#include "tests/wizard/analysed_disc.h"
#include "wizard/job_writer.h"

namespace kv_test {
namespace {

using platform::MessageAnswer;

using Road = RoadTest;

// The letterboxed PAL title on two volumes of 1 MB each, which leaves a
// low bit rate for twelve seconds of moving picture: the bars are cropped
// away, the AC-3 stereo track becomes stereo AAC.
TEST_F(Road, LetterboxedPalTitleOnTwoFixedSizeVolumes) {
  StartJob("pal_letterbox", "Letterbox", 1, 1);
  ClickControl("EncModeFixedRadio");
  SetCheck("VolCheck", true);
  StepUp("VolNumUpDown", 1);
  TypeInto("VolEdit", "1");
  SetCheck("VideoCropAutoCheck", true);
  SetCheck("Audio1StereoRadio", true);
  const Finished job = Finish();
  EXPECT_EQ(job.settings.VolumeCount, 2);
  EXPECT_EQ(job.settings.VolumeSizeMB, 1);
  // The detected picture between the bars of 72 and 88 lines.
  EXPECT_EQ(job.settings.CropMode, wizard::CropModeKind::Auto);
  EXPECT_EQ(job.settings.CropRect.Top, 72);
  EXPECT_EQ(job.settings.CropRect.Height, 576 - 72 - 88);
  EncodeRow(0);
  EXPECT_TRUE(boxes_.Messages().empty());
  ExpectEncodedJob(job, {"Letterbox (1of2).rmvb", "Letterbox (2of2).rmvb"}, 2, 1048576);
  // No black bar is left at the top or the bottom of the picture.
  const int w = job.settings.OutputWidth, h = job.settings.OutputHeight;
  const std::string luma = LumaAt(job.folder + "/Letterbox (1of2).rmvb", 2.0, w, h);
  ASSERT_FALSE(luma.empty());
  auto mean_row = [&](int y) {
    double sum = 0;
    for (int x = 0; x < w; ++x) sum += static_cast<uint8_t>(luma[size_t(y) * w + x]);
    return sum / w;
  };
  EXPECT_GT(mean_row(2), 30.0);
  EXPECT_GT(mean_row(h - 3), 30.0);
}

// The film title with complex inverse telecine back to its 240 pictures at
// 23.976 frames per second, at an average bit rate whose output rolls over
// into a second file at a size of 1 MB.
TEST_F(Road, FilmTitleInverseTelecinedAtAnAverageBitRateRollingOver) {
  StartJob("ntsc_film", "Film", 1, 1);
  AverageBitrate(1400);
  SetCheck("VolCheck", true);
  TypeInto("VolEdit", "1");
  ChooseFilters(0, 2);
  const Finished job = Finish();
  EXPECT_TRUE(job.settings.Ivtc && job.settings.IvtcComplex);
  EXPECT_NEAR(job.settings.FrameRate, 23.976, 0.001);
  EXPECT_EQ(job.settings.FrameCount, 240);
  EncodeRow(0);
  EXPECT_TRUE(boxes_.Messages().empty());
  ExpectEncodedJob(job, {"Film.rmvb", "Film_2.rmvb"}, 2, 1048576);
}

// A DVD folder may be named as Linux allows: with a "|", blanks and letters
// beyond ASCII, at the end of a path of 200 characters. It is analysed,
// prepared and encoded as any other.
TEST_F(Road, DiscInAFolderNamedWithABarBlanksAndAccentsAtTwoHundredCharacters) {
  std::string source = dir_.File("dvd|copy \xC3\xA9t\xC3\xA9 \xD0\xB4\xD0\xB8\xD1\x81\xD0\xBA");
  source += "/" + std::string(200 - source.size() - 1, 'x');
  ASSERT_EQ(source.size(), 200u);
  CopySampleDisc("pal_letterbox", source);
  NewJob();
  ASSERT_NO_FATAL_FAILURE(Analyse(source, "Special"));
  EXPECT_EQ(Wizard()->State().DvdFolder, source + "/VIDEO_TS/");
  ChooseTitle(1, 1);
  ClickControl("EncModeFixedRadio");
  TypeInto("VolEdit", "2");
  const Finished job = Finish();
  EncodeRow(0);
  EXPECT_TRUE(boxes_.Messages().empty());
  ExpectEncodedJob(job, {"Special.rmvb"}, 2, 2 * 1048576);
}

// The multi-stream disc's first title set: its LPCM track raised by 6 dB,
// constant quality, deinterlaced, with its sub-pictures burnt in. The boxes
// of the sub-pictures are on the frames of their times and only there.
TEST_F(Road, LpcmWithGainAtConstantQualityDeinterlacedWithSubtitles) {
  StartJob("ntsc_multi", "Multi", 1, 1);
  ClickControl("EncModeQualityRadio");
  TypeInto("EncModeQualityEdit", "60");
  ChooseInCombo("Audio1TrackCombo", 1);  // LPCM stereo "fr"
  SetCheck("Audio1GainCheck", true);
  Find<QSlider>("Audio1GainTrack")->setValue(-30);  // +6 dB
  SetCheck("SubCheck", true);
  ChooseInCombo("SubLangCombo", 0);
  ChooseFilters(1, 0);
  SetCheck("VolCheck", false);
  const Finished job = Finish();
  const wizard::JobSettings& s = job.settings;
  EXPECT_EQ(s.EncodeMode, wizard::EncodeModeKind::ConstantQuality);
  EXPECT_EQ(s.AudioTrack, 1);
  EXPECT_TRUE(s.GainEnabled);
  EXPECT_EQ(s.GainStep, -30);
  EXPECT_TRUE(s.Deinterlace);
  EXPECT_TRUE(s.SubtitlesEnabled);
  EncodeRow(0);
  EXPECT_TRUE(boxes_.Messages().empty());
  const std::string volume = job.folder + "/Multi.rmvb";
  ExpectEncodedJob(job, {"Multi.rmvb"}, 2);

  // The tone of 550 Hz made at an eighth of full scale, 6 dB louder.
  const std::string pcm = volume + ".pcm";
  RunCommand("ffmpeg -nostdin -v error -y -i " + Quote(volume) +
             " -map 0:a -ac 1 -ar 48000 -f s16le " + Quote(pcm));
  const std::string bytes = ReadFile(pcm);
  ASSERT_GT(bytes.size(), 48000u * 2 * 4);
  double sum = 0;
  size_t n = 0;
  for (size_t i = 48000 * 2; i + 48000 * 2 < bytes.size(); i += 2, ++n) {
    const int16_t v = static_cast<int16_t>(static_cast<uint8_t>(bytes[i]) |
                                           static_cast<uint8_t>(bytes[i + 1]) << 8);
    sum += double(v) * v;
  }
  std::remove(pcm.c_str());
  const double rms = std::sqrt(sum / double(n));
  EXPECT_NEAR(rms, 32768.0 / 8 / std::sqrt(2.0) * std::pow(10.0, 6.0 / 20), 0.1 * rms);

  // Sub-picture k is a white box of 240 x 40 at (100 k, 380) of the 720 x 480
  // picture, shown from 1 s to 3 s, 4 s to 6.5 s and 7 s to 9 s; the times
  // looked at keep half a second from every change.
  const int w = s.OutputWidth, h = s.OutputHeight;
  const wizard::PictureRect full{0, 0, s.Facts.PictureWidth, s.Facts.PictureHeight};
  const wizard::PictureRect crop = s.CropMode == wizard::CropModeKind::Disabled ? full : s.CropRect;
  auto share_of_box = [&](int k, double seconds) {
    const std::string luma = LumaAt(volume, seconds, w, h);
    if (luma.empty()) return -1.0;
    auto x = [&](int source) { return (source - crop.Left) * w / crop.Width; };
    auto y = [&](int source) { return (source - crop.Top) * h / crop.Height; };
    return BrightShare(luma, w, x(100 * k + 12), y(380 + 10), x(100 * k + 228), y(420 - 10));
  };
  // The picture under the boxes has bright parts of its own (up to 60 % of
  // a box); a box shown is white all over.
  const struct {
    int box;
    double seconds;
    bool shown;
  } looks[] = {{1, 0.5, false}, {1, 2.0, true},  {1, 3.75, false}, {2, 3.75, false},
               {2, 5.0, true},  {2, 6.8, false}, {3, 8.0, true},   {3, 9.8, false}};
  for (const auto& look : looks) {
    const double share = share_of_box(look.box, look.seconds);
    if (look.shown) {
      EXPECT_GT(share, 0.95) << "box " << look.box << " at " << look.seconds << " s";
    } else {
      EXPECT_LT(share, 0.75) << "box " << look.box << " at " << look.seconds << " s";
    }
  }
}

// Batch Encode of two jobs of one disc, the second one of its second title
// set with the first one's analysis imported, and the computer to be
// switched off after all work: both jobs are encoded, then the power-off
// seam is asked once.
TEST_F(Road, BatchEncodeOfTwoJobsThenPowerOff) {
  StartJob("ntsc_multi", "Surround", 1, 1);
  AverageBitrate(600);
  SetCheck("VolCheck", false);
  ChooseInCombo("Audio1TrackCombo", 0);  // AC-3 5.1
  SetCheck("Audio1StereoRadio", true);
  const Finished first = Finish();
  EXPECT_EQ(first.settings.AudioTrack, 0);
  EXPECT_EQ(first.settings.ChannelMode, wizard::ChannelModeKind::Stereo);

  StartJob("ntsc_multi", "Second", 2, 1, /*import=*/true);
  AverageBitrate(600);
  SetCheck("VolCheck", false);
  const Finished second = Finish();
  EXPECT_EQ(second.settings.Facts.PgcFrameCount, 180);  // 6 s at 29.97

  ClickShutCheck();
  ASSERT_TRUE(Window().findChild<QAbstractButton*>("ShutAllRadio")->isChecked());
  // Nobody cancels the countdown, which is cut short on the real clock.
  Window().Runner().SetPowerOffCountdown(std::chrono::seconds(1));
  EncodeAll();
  ServeEventsUntil([&] { return power_off_.requests == 1; });
  EXPECT_EQ(boxes_.Messages().size(), 1u);  // the import question only
  ExpectEncodedJob(first, {"Surround.rmvb"}, 2);
  ExpectEncodedJob(second, {"Second.rmvb"}, 2);
}

// A job of the sync title in two volumes, aborted in its second volume:
// the first volume stays as it was, the JobFile says one volume is done.
// Encoded again later, only the second volume is made, anew. Across the
// boundary, every tone of the title starts within a frame of its flash.
TEST_F(Road, AbortedInItsSecondVolumeAndEncodedAgainKeepingTheFirst) {
  StartJob("pal_sync", "Sync", 1, 1);
  ClickControl("EncModeFixedRadio");
  SetCheck("VolCheck", true);
  StepUp("VolNumUpDown", 1);
  TypeInto("VolEdit", "1");
  ChooseInCombo("Audio1TrackCombo", 0);  // AC-3 5.1, the tone in the centre
  SetCheck("Audio1StereoRadio", true);
  const Finished job = Finish();
  const std::string first = job.folder + "/Sync (1of2).rmvb";
  const std::string second = job.folder + "/Sync (2of2).rmvb";

  Select(0);
  Action("StartItem")->trigger();
  ServeEventsUntil(
      [this] { return Text("ProgVolLabel1") == "Volume 2 / 2:" && Bar("ProgVolBar") >= 10; });
  const std::string first_bytes = ReadFile(first);
  ASSERT_FALSE(first_bytes.empty());
  boxes_.Answer(MessageAnswer::Yes);
  Action("AbortItem")->trigger();
  ServeEventsUntil([this] { return !Window().EncodingActive(); });
  EXPECT_EQ(StateOf(0), queue::JobState::Pending);
  EXPECT_EQ(queue::ReadJobFileLines(queue::JobFilePathOf(job.folder))->progress, "1 / 2");
  EXPECT_TRUE(std::filesystem::exists(queue::JobDataFolderOf(job.folder)));

  EncodeRow(0);
  EXPECT_EQ(ReadFile(first), first_bytes);  // kept, not encoded again
  ExpectEncodedJob(job, {"Sync (1of2).rmvb", "Sync (2of2).rmvb"}, 2, 1048576);

  // Flashes at 1, 3, 5, 7 and 9 s; the boundary lies on the one at 5 s.
  const double frame = 1.0 / job.settings.FrameRate;
  const double boundary = wizard::FramesPerVolume(job.settings) * frame;
  EXPECT_NEAR(boundary, 5.0, frame / 2);
  std::vector<double> flashes, tones;
  for (const auto& [file, start] : {std::pair{first, 0.0}, std::pair{second, boundary}}) {
    for (double t : FlashTimes(file)) flashes.push_back(start + t);
    for (double t : ToneOnsets(file)) tones.push_back(start + t);
  }
  ASSERT_EQ(flashes.size(), 5u);
  ASSERT_EQ(tones.size(), 5u);
  for (size_t i = 0; i < flashes.size(); ++i) {
    std::printf("flash at %.3f s, tone at %.4f s\n", flashes[i], tones[i]);
    EXPECT_NEAR(flashes[i], 1.0 + 2.0 * double(i), frame / 2) << i;
    EXPECT_NEAR(tones[i], flashes[i], frame) << i;
  }
}

}  // namespace
}  // namespace kv_test
