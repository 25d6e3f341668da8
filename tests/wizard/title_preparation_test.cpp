// Preparing a chosen title without windows, as the command line does: every
// title of the sample discs is cut out, counted and measured, and checked
// against FFmpeg, the generator's facts and the title set's own indexes;
// damaged job files and discs give the user's messages.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>

#include "decoder/video_decoder.h"
#include "tests/outside/qmvideo_test_util.h"
#include "tests/support/sample_dvds.h"
#include "tests/support/temp_dir.h"
#include "tests/tessmar/tessmar_test_util.h"
#include "tests/wizard/analysed_disc.h"
#include "wizard/title_key.h"
#include "wizard/title_preparation.h"
#include "wizard/title_preview.h"

namespace {

namespace fs = std::filesystem;
using wizard::PictureRect;
using wizard::PreparationResult;
using wizard::WizardState;

TEST(EvenRect, RoundsEachValueTowardsZero) {
  EXPECT_EQ(wizard::EvenRect({3, 5, 711, 571}), (PictureRect{2, 4, 710, 570}));
  EXPECT_EQ(wizard::EvenRect({72, 0, 720, 434}), (PictureRect{72, 0, 720, 434}));
  EXPECT_EQ(wizard::EvenRect({1, 1, 1, 1}), (PictureRect{0, 0, 0, 0}));
}

// Frames FFmpeg decodes from `mpg` with the repeated fields honoured.
size_t FfmpegShownFrames(const std::string& mpg) {
  const kv_test::CommandResult r = kv_test::RunCommand(
      "ffmpeg -nostdin -v error -i " + kv_test::Quote(mpg) +
      " -map 0:v:0 -vf repeatfields,setpts=N -fps_mode passthrough -f framecrc -");
  size_t frames = 0;
  for (size_t at = 0; at < r.out.size(); at = r.out.find('\n', at) + 1) {
    if (r.out[at] != '#') ++frames;
    if (r.out.find('\n', at) == std::string::npos) break;
  }
  return r.exit_code == 0 ? frames : 0;
}

WizardState& Choose(WizardState& state, int vts, int pgc, int angle = 0) {
  state.SelVts = vts;
  state.SelPgc = pgc;
  state.SelAngle = angle;
  return state;
}

TEST(PrepareTitle, EverySampleTitle) {
  kv_test::TempDir root("prepare");
  std::map<std::string, WizardState> discs;
  for (const kv_test::SampleTitle& t : kv_test::AllSampleTitles()) {
    SCOPED_TRACE(kv_test::TitleName(t));
    WizardState& state = discs[t.disc];
    if (state.JobFolder.empty()) {
      ASSERT_GT(kv_test::AnalyseSampleDisc(t.disc, root.File(t.disc), state), 0);
    }
    const PreparationResult r =
        wizard::PrepareTitle(wizard::PreparationInputFor(Choose(state, t.vts, t.pgc)));
    ASSERT_TRUE(r.Ok) << r.Error;
    const std::string base = state.JobDataFolder + r.TitleKey;
    EXPECT_EQ(base, wizard::TitleBase(state, {t.vts, t.pgc, 0}));

    // The frames a player shows: FFmpeg's decode of the title's bytes with
    // the repeated fields honoured.
    EXPECT_EQ(static_cast<size_t>(r.FrameCount),
              FfmpegShownFrames(kv_test::WriteTitleBytes(base + ".qmvi")));

    // The letterboxed disc has the generator's bars; the others none.
    const wizard::TitleSetInfo& vts = state.TitleSets[t.vts];
    PictureRect expected{0, 0, vts.PictureWidth, vts.PictureHeight};
    if (std::string(t.disc) == "pal_letterbox") {
      expected.Top = std::stoi(kv_test::SampleFact(t.disc, "bars_top"));
      expected.Height -= expected.Top + std::stoi(kv_test::SampleFact(t.disc, "bars_bottom"));
    }
    EXPECT_EQ(r.DetectedRect, expected);
    EXPECT_EQ(r.BorderState, expected.Top > 0 ? 1 : 0);

    // The title's video files, and an audio map and a VobSub index for every
    // stream the title set's index run found.
    EXPECT_TRUE(fs::is_regular_file(base + ".qmvi"));
    EXPECT_TRUE(fs::is_regular_file(base + ".vfm"));
    const std::string vts_base = wizard::TitleSetIndexBase(state, t.vts);
    int streams = 0;
    for (int n = 0; n < 32; ++n) {
      const std::string k = std::to_string(n);
      if (n < 8 && fs::exists(vts_base + "_at" + k + ".qmai"))
        streams += fs::is_regular_file(base + "_at" + k + ".vfm") ? 1 : -100;
      if (fs::exists(vts_base + "_st" + k + ".qmsi"))
        streams += fs::is_regular_file(base + "_st" + k + ".idx") ? 1 : -100;
    }
    EXPECT_EQ(streams, static_cast<int>(state.TitleSets[t.vts].Pgcs[t.pgc].AudioStreams.size() +
                                        state.TitleSets[t.vts].Pgcs[t.pgc].SubtitleStreams.size()));

    wizard::ApplyPreparation(state, {t.vts, t.pgc, 0}, r);
    const wizard::PgcInfo& pgc = state.TitleSets[t.vts].Pgcs[t.pgc];
    EXPECT_TRUE(pgc.Prepared(0));
    EXPECT_FALSE(pgc.Prepared(1));  // another angle is prepared on its own
    EXPECT_EQ(pgc.PgcFrameCount, r.FrameCount);
    EXPECT_EQ(pgc.DetectedRect, r.DetectedRect);
    EXPECT_EQ(state.TitleKey, r.TitleKey);
  }
}

// A damage done between the preview (which made the title's video index)
// and the preparation, and the message it gives.
struct Damage {
  const char* what;
  std::function<void(const WizardState&)> apply;
  const char* message;
};

TEST(PrepareTitle, DamagedFilesLeaveTheTitleUnprepared) {
  const std::vector<Damage> damages = {
      {"audio index with a wrong head",
       [](const WizardState& s) {
         kv_test::WriteFile(s.JobDataFolder + "vts01_at0.qmai", "x\r\n");
       },
       "Unable to process selected title! The DVD is probably damaged!"},
      {"video index cut after its head",
       [](const WizardState& s) {
         kv_test::WriteFile(s.JobDataFolder + "vts01_pgc01_a0.qmvi", "qmVideoIndex06\r\n");
       },
       decoder::kFrameCountFailedMessage},
      {"pictures after the first VOB file overwritten with zeros",
       [](const WizardState& s) {
         for (const char* name : {"VTS_01_2.VOB", "VTS_01_3.VOB"}) {
           const std::string vob = s.DvdFolder + name;
           kv_test::WriteFile(vob, std::string(fs::file_size(vob), '\0'));
         }
       },
       decoder::kBorderDetectionFailedMessage},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    kv_test::TempDir root("prepare-damaged");
    WizardState state;
    const std::string disc = kv_test::CopySampleDisc("pal_letterbox", root.File("dvd"));
    ASSERT_EQ(kv_test::AnalyseDisc(disc, root.File("job"), Choose(state, 1, 1)), 1);
    ASSERT_TRUE(wizard::OpenTitleForPreview(state, state.Selection(), nullptr));
    decoder::CloseVideo();
    damage.apply(state);

    const PreparationResult r = wizard::PrepareTitle(wizard::PreparationInputFor(state));
    EXPECT_FALSE(r.Ok);
    EXPECT_EQ(r.Error, damage.message);
    state.PreparedTitle = state.Selection();
    wizard::ApplyPreparation(state, state.Selection(), r);
    EXPECT_FALSE(state.SelectedPgc().Prepared(0));
    EXPECT_EQ(state.SelectedPgc().PgcFrameCount, -1);
    EXPECT_EQ(state.PreparedTitle, wizard::TitleChoice{});
    EXPECT_FALSE(decoder::VideoIsOpen());
  }
}

}  // namespace
