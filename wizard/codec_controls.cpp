#include "wizard/codec_controls.h"

#include "wizard/settings_rules.h"

namespace wizard {

CodecControls EnabledCodecControls(const JobSettings& s) {
  CodecControls c;
  if (!s.CodecManual) return c;
  c.CurveCompression = CurveCompressionAllowed(s);
  // Curve compression brings its own rate control and encodes every frame.
  c.RateControl = s.rcEnableCurveCompression;
  c.AllFrames = !s.rcEnableCurveCompression;
  c.Manual = true;
  c.MaxBFrames = s.UseMaxConsecutiveBFrames;
  c.BPattern = !s.UseMaxConsecutiveBFrames;
  return c;
}

}  // namespace wizard
