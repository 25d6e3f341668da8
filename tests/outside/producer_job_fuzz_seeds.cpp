// producer_job_fuzz_seeds <corpus>: the encoder job files the wizard's
// writer makes, as starting inputs for the job file readers: every encoding
// mode and complexity preset over titles with and without audio, every
// channel mode with its lowest, middle and highest audio row, each codec
// switch flipped, roll-over, later volumes and clip texts.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "wizard/encoder_job_file.h"
#include "wizard/job_settings.h"
#include "wizard/title_facts.h"

namespace {

using wizard::ChannelModeKind;
using wizard::EncodeModeKind;
using wizard::JobSettings;
using wizard::TitleFacts;

TitleFacts Title(bool pal, int channels, bool film) {
  TitleFacts t;
  t.PalVideo = pal;
  t.PictureHeight = pal ? 576 : 480;
  t.VideoFrameRate = pal ? 25.0f : 29.97f;
  t.FilmShare = film ? 99.0f : 0.0f;
  t.Widescreen = film;
  t.PgcFrameCount = pal ? 135000 : 43157;
  t.DetectedRect = {0, 0, 720, t.PictureHeight};
  if (channels > 0) {
    wizard::PgcAudioEntry audio;
    audio.Format = 1;
    audio.Channels = channels;
    t.AudioStreams.push_back(audio);
  }
  return t;
}

class SeedWriter {
 public:
  explicit SeedWriter(std::string corpus) : corpus_(std::move(corpus)) {}

  // The file of the first volume (and of the second when there are two).
  bool Add(const JobSettings& s) {
    for (int volume = 1; volume <= std::min(s.VolumeCount, 2); ++volume) {
      const std::string script = "out0" + std::to_string(volume) + ".avs";
      const std::string output = s.VolumeCount > 1 ? "../Job (" + std::to_string(volume) + "of" +
                                                         std::to_string(s.VolumeCount) + ").rmvb"
                                                   : "../Job.rmvb";
      const std::string text =
          wizard::FormatEncoderJobFile(wizard::EncoderJobFileValuesOf(s, script, output));
      if (!texts_.insert(text).second) continue;
      const std::string path = corpus_ + "/wizard_" + std::to_string(texts_.size()) + ".rpjf";
      std::FILE* f = std::fopen(path.c_str(), "wb");
      if (!f) return false;
      const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
      if (std::fclose(f) != 0 || !written) return false;
    }
    return true;
  }
  size_t Count() const { return texts_.size(); }

 private:
  std::string corpus_;
  std::set<std::string> texts_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus>\n", argv[0]);
    return 2;
  }
  SeedWriter writer(argv[1]);
  bool ok = true;
  const TitleFacts titles[] = {Title(true, 6, false), Title(true, 0, false), Title(false, 2, true),
                               Title(false, 1, false)};
  auto base = [](const TitleFacts& title, EncodeModeKind mode) {
    JobSettings s;
    s.InitialiseForTitle(title);
    s.SelectEncodeMode(mode);
    return s;
  };
  for (const TitleFacts& title : titles) {
    for (EncodeModeKind mode : {EncodeModeKind::FixedSize, EncodeModeKind::AverageBitrate,
                                EncodeModeKind::ConstantQuality}) {
      // Every complexity preset of the mode's list.
      JobSettings probe = base(title, mode);
      for (int preset = 0; preset <= probe.ComplexitySliderMax; ++preset) {
        JobSettings s = base(title, mode);
        s.ComplexityPreset = preset;
        s.ApplyComplexityPreset();
        ok = ok && writer.Add(s);
      }
      // Each codec switch flipped on its own.
      const std::vector<std::function<void(JobSettings&)>> flips = {
          [](JobSettings& s) { s.rcEnableCurveCompression = !s.rcEnableCurveCompression; },
          [](JobSettings& s) { s.UseMaxConsecutiveBFrames = !s.UseMaxConsecutiveBFrames; },
          [](JobSettings& s) { s.enableLossProtection = !s.enableLossProtection; },
          [](JobSettings& s) { s.encodeAllFrames = !s.encodeAllFrames; },
          [](JobSettings& s) { s.chromaModeDecision = !s.chromaModeDecision; },
          [](JobSettings& s) { s.enableRPR = !s.enableRPR; },
          [](JobSettings& s) { s.inloopCutOffCompatible = !s.inloopCutOffCompatible; },
          [](JobSettings& s) { s.inloopCutOffBUseRefQuant = !s.inloopCutOffBUseRefQuant; },
          [](JobSettings& s) { s.TwoPass = !s.TwoPass; },
      };
      for (const auto& flip : flips) {
        JobSettings s = base(title, mode);
        s.CodecManual = true;
        flip(s);
        ok = ok && writer.Add(s);
      }
      // Every channel mode the title allows, at its lowest, middle and
      // highest audio row.
      for (ChannelModeKind channels : {ChannelModeKind::Mono, ChannelModeKind::Stereo,
                                       ChannelModeKind::Surround, ChannelModeKind::Multichannel}) {
        JobSettings s = base(title, mode);
        if (!s.HasAudio || !s.ChannelModeAllowed[static_cast<int>(channels)]) continue;
        s.SelectChannelMode(channels);
        s.SetAudioBitrateAuto(false);
        for (int row : {0, s.AudioRowSliderMax / 2, s.AudioRowSliderMax}) {
          s.MoveAudioSlider(row);
          ok = ok && writer.Add(s);
        }
      }
    }
    // Volumes: two of them, a roll-over at a preset's size, one unsplit.
    JobSettings two = base(title, EncodeModeKind::FixedSize);
    two.SetVolumeCount(2);
    ok = ok && writer.Add(two);
    JobSettings roll = base(title, EncodeModeKind::AverageBitrate);
    roll.SelectVolumePreset(1);
    ok = ok && writer.Add(roll);
    JobSettings whole = base(title, EncodeModeKind::AverageBitrate);
    whole.SplitVolumes = false;
    ok = ok && writer.Add(whole);
  }
  // Clip information as the configuration page admits it.
  JobSettings clip = base(titles[0], EncodeModeKind::FixedSize);
  clip.Title = "Summer 2026";
  clip.Author = "A. N. Other";
  clip.Copyright = "(C) 2026 Nobody";
  clip.Keywords = "sea; sun, sand";
  clip.Description = "Two weeks\tby the sea";
  clip.Rating = 6;
  ok = ok && writer.Add(clip);
  if (!ok) {
    std::fprintf(stderr, "cannot write into %s\n", argv[1]);
    return 1;
  }
  std::printf("%zu job files\n", writer.Count());
  return 0;
}
