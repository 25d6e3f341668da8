#include "wizard/title_preparation.h"

#include "decoder/border_detection.h"
#include "decoder/video_decoder.h"
#include "platform/file_system.h"
#include "tessmar/include/tessmar.h"
#include "wizard/title_key.h"

namespace wizard {

namespace {

inline constexpr char kRebuildFailedMessage[] =
    "Unable to process selected title! The DVD is probably damaged!";

PreparationResult Failed(PreparationResult result, const char* message) {
  result.Ok = false;
  result.Error = message;
  return result;
}

}  // namespace

PreparationInput PreparationInputFor(const WizardState& state) {
  const TitleSetInfo& vts = state.TitleSets.at(state.SelVts);
  PreparationInput input;
  input.JobDataFolder = state.JobDataFolder;
  input.DvdFolder = state.DvdFolder;
  input.Title = state.Selection();
  input.Film = decoder::FilmFlag(vts.FilmShare);
  input.PictureWidth = vts.PictureWidth;
  input.PictureHeight = vts.PictureHeight;
  return input;
}

PictureRect EvenRect(const PictureRect& rect) {
  auto even = [](int v) { return v - v % 2; };
  return {even(rect.Top), even(rect.Left), even(rect.Width), even(rect.Height)};
}

PreparationResult PrepareTitle(const PreparationInput& input) {
  WizardState paths;
  paths.JobDataFolder = input.JobDataFolder;
  paths.DvdFolder = input.DvdFolder;
  PreparationResult result;
  result.TitleKey = TitleKeyFor(input.Title);
  const std::string title_base = TitleBase(paths, input.Title);
  const std::string video_index = title_base + ".qmvi";

  const int want_video = platform::FileExists(video_index) ? 0 : 1;
  const std::string vts_base = TitleSetIndexBase(paths, input.Title.Vts);
  const std::string ifo = TitleSetIfoPath(paths, input.Title.Vts);
  if (qmRebuild(vts_base.c_str(), ifo.c_str(), title_base.c_str(), want_video, 1, 1,
                input.Title.Pgc, input.Title.Angle) != 1)
    return Failed(result, kRebuildFailedMessage);

  decoder::VideoInfo counted;
  if (!decoder::OpenVideo(video_index, false, &counted))
    return Failed(result, decoder::kFrameCountFailedMessage);
  decoder::CloseVideo();

  decoder::BorderRect borders;
  if (!decoder::DetectBorders(video_index, input.Film, &borders))
    return Failed(result, decoder::kBorderDetectionFailedMessage);

  result.Ok = true;
  result.FrameCount = counted.FrameCount;
  result.DetectedRect = EvenRect({borders.Top, borders.Left, borders.Width, borders.Height});
  const PictureRect whole{0, 0, input.PictureWidth, input.PictureHeight};
  result.BorderState = result.DetectedRect == whole ? 0 : 1;
  return result;
}

void ApplyPreparation(WizardState& state, const TitleChoice& title,
                      const PreparationResult& result) {
  state.TitleKey = result.TitleKey;
  PgcInfo& pgc = state.TitleSets.at(title.Vts).Pgcs.at(title.Pgc);
  if (!result.Ok) {
    pgc.PgcFrameCount = -1;
    pgc.PreparedAngle = -1;
    state.PreparedTitle = TitleChoice{};
    return;
  }
  pgc.PgcFrameCount = result.FrameCount;
  pgc.DetectedRect = result.DetectedRect;
  pgc.BorderState = result.BorderState;
  pgc.PreparedAngle = title.Angle;
}

}  // namespace wizard
