#include "wizard/title_preparation.h"

#include <cmath>

#include "decoder/border_detection.h"
#include "decoder/video_decoder.h"
#include "platform/file_system.h"
#include "tessmar/formats/audio_index.h"
#include "tessmar/formats/virtual_file_map.h"
#include "tessmar/include/tessmar.h"
#include "wizard/crop_rules.h"
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

// The title's own start of each audio stream. The index run measures one
// delay for the whole title set, at the first sound it meets: wrong for a
// title whose first cell has no sound, whose time stamps start again, or
// that begins elsewhere in the title set, and 0 past five seconds. The
// rebuild places each map's first frame on the title's own time.
std::vector<TitleAudioDelay> AudioDelays(const std::string& title_base) {
  std::vector<TitleAudioDelay> delays;
  for (int n = 0; n < tessmar::formats::kMaxAudioStreams; ++n) {
    int64_t ticks = 0;
    if (tessmar::formats::ReadFirstAnchor(tessmar::formats::AudioMapName(title_base, n), &ticks))
      delays.push_back({n, static_cast<int>(std::lround(
                               static_cast<double>(ticks) * 1000 /
                               static_cast<double>(tessmar::formats::kAnchorTicksPerSecond)))});
  }
  return delays;
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
  return {EvenTowardsZero(rect.Top), EvenTowardsZero(rect.Left), EvenTowardsZero(rect.Width),
          EvenTowardsZero(rect.Height)};
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
  result.AudioDelays = AudioDelays(title_base);
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
  for (PgcAudioEntry& audio : pgc.AudioStreams)
    for (const TitleAudioDelay& d : result.AudioDelays)
      if (d.StreamNumber == audio.StreamNumber) audio.DelayMs = d.DelayMs;
}

}  // namespace wizard
