// Which controls of the codec dialog can be used, from the settings alone.
#include <gtest/gtest.h>

#include "wizard/codec_controls.h"

namespace {

using wizard::CodecControls;
using wizard::JobSettings;

TEST(EnabledCodecControls, FollowManualTheAnalysisPassCurveCompressionAndTheBFrameChoice) {
  struct Row {
    const char* name;
    bool manual, two_pass, curve, max_b_frames;
    CodecControls enabled;
  };
  // CurveCompression, RateControl, AllFrames, Manual, MaxBFrames, BPattern.
  const Row rows[] = {
      {"automatic values", false, true, true, true, {}},
      {"manual, curve compression", true, true, true, true, {true, true, false, true, true, false}},
      {"manual, no curve", true, true, false, true, {true, false, true, true, true, false}},
      {"manual, one pass", true, false, false, false, {false, false, true, true, false, true}},
  };
  for (const Row& row : rows) {
    JobSettings s;
    s.CodecManual = row.manual;
    s.TwoPass = row.two_pass;
    s.rcEnableCurveCompression = row.curve;
    s.UseMaxConsecutiveBFrames = row.max_b_frames;
    EXPECT_EQ(wizard::EnabledCodecControls(s), row.enabled) << row.name;
  }
}

}  // namespace
