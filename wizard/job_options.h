#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "wizard/crop_rules.h"
#include "wizard/job_settings.h"

namespace wizard {

enum class CropChoice { Auto, None, Manual };
enum class IvtcChoice { Simple, Complex, Off };

// Changes of a job's proposed settings given all at once, as a front end
// without fields names them; what is not given keeps the proposal.
struct JobOptions {
  std::optional<int> SizeMB;  // one volume, fixed size
  std::optional<int> VolumeCount;
  std::optional<int> BitrateKbps;
  std::optional<int> QualityPercent;
  // With a bit rate or a quality: the size at which the encoder starts its
  // next file, 0 for never (the General sheet's "Split to volumes").
  std::optional<int> SplitMB;
  std::optional<int> AudioTrack;  // from 1, as "scan" numbers them
  std::optional<std::string> Channels;
  std::optional<int> AudioBitrateKbps;
  std::optional<int> GainStep;  // the gain slider: -GainStep * 0.2 dB
  std::optional<int> SubtitleTrack;
  std::optional<CropChoice> Crop;
  CropMargins Margins;
  std::optional<int> Width;
  std::optional<IvtcChoice> Ivtc;
  bool Deinterlace = false;
  bool TruSpeed = false;
  // Clip information ("title", "author", "copyright", "keywords",
  // "description", "rating") in the order given.
  std::vector<std::pair<std::string, std::string>> ClipInfo;
};

// The options applied to the proposals, each as the configuration page
// applies the user's change and under the same rules. An empty text when all
// fit, else what does not, naming the option ("--crop: ...").
std::string ApplyJobOptions(const JobOptions& options, JobSettings& settings);

}  // namespace wizard
