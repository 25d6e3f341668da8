#pragma once

#include "wizard/job_settings.h"

namespace wizard {

// Which controls of the codec dialog can be used, from the settings it
// edits: without "Manual" none (the dialog shows the automatic values).
struct CodecControls {
  bool CurveCompression = false;  // RCNewCheck
  bool RateControl = false;       // the bit rate reduce and boost, the reference quantizers
  bool AllFrames = false;         // MiscAllFramesCheck
  bool Manual = false;            // the in-loop filter, the B-frame radios, chroma, RPR
  bool MaxBFrames = false;        // BMaxCombo
  bool BPattern = false;          // BPatternCombo

  bool operator==(const CodecControls&) const = default;
};

CodecControls EnabledCodecControls(const JobSettings& s);

}  // namespace wizard
