#include "wizard/settings_rules.h"

namespace wizard {

bool TwoPassAllowed(const JobSettings& s) {
  return s.EncodeMode != EncodeModeKind::ConstantQuality;
}

bool AutoCropAllowed(const JobSettings& s) {
  return s.Facts.BordersDetected() && !(s.HasSubtitles && s.SubtitlesEnabled);
}

bool CurveCompressionAllowed(const JobSettings& s) {
  return s.TwoPass;
}

}  // namespace wizard
