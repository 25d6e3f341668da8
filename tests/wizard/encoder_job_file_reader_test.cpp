// Encoder job files from the wizard's writer, read back by the encoder
// control the way it weighs a volume's progress.
#include <gtest/gtest.h>

#include <string>

#include "queue/encoder_job_info.h"
#include "tests/support/temp_dir.h"
#include "wizard/encoder_job_file.h"
#include "wizard/job_settings.h"

namespace {

using wizard::EncodeModeKind;
using wizard::JobSettings;

wizard::TitleFacts Feature() {
  wizard::TitleFacts t;
  t.PalVideo = true;
  t.VideoFrameRate = 25.0f;
  t.PgcFrameCount = 135000;
  t.DetectedRect = {0, 0, 720, 576};
  wizard::PgcAudioEntry audio;
  audio.Format = 1;
  audio.Channels = 2;
  t.AudioStreams.push_back(audio);
  return t;
}

struct RoundTrip {
  const char* name;
  void (*set_up)(JobSettings&);
  bool two_pass;
  int encoder_complexity;
  int first_pass_complexity;
};

const RoundTrip kCases[] = {
    {"two passes with curve compression", [](JobSettings& s) { s.InitialiseForTitle(Feature()); },
     true, 90, 50},
    {"constant quality: the first pass only in a comment",
     [](JobSettings& s) {
       s.InitialiseForTitle(Feature());
       s.firstPassComplexity = 65;
       s.SelectEncodeMode(EncodeModeKind::ConstantQuality);
     },
     false, 100, 65},
    {"single-pass preset at an average bit rate",
     [](JobSettings& s) {
       s.InitialiseForTitle(Feature());
       s.SelectEncodeMode(EncodeModeKind::AverageBitrate);
       s.ComplexityPreset = 1;
       s.ApplyComplexityPreset();
     },
     false, 60, 50},
    {"typed complexities, two passes without curve compression",
     [](JobSettings& s) {
       s.InitialiseForTitle(Feature());
       s.ComplexityCustom = true;
       s.CodecManual = true;
       s.encoderComplexity = 77;
       s.firstPassComplexity = 66;
       s.rcEnableCurveCompression = false;
     },
     true, 77, 66},
};

TEST(EncoderJobFileRoundTrip, ControlReadsPassesAndComplexitiesBack) {
  kv_test::TempDir dir;
  int volume = 0;
  for (const RoundTrip& c : kCases) {
    JobSettings s;
    c.set_up(s);
    char name[32];
    std::snprintf(name, sizeof name, "out%.2d.rpjf", ++volume);
    const std::string path = dir.File(name);
    ASSERT_TRUE(wizard::WriteEncoderJobFile(
        path, wizard::EncoderJobFileValuesOf(s, "out01.avs", "../Job.rmvb")))
        << c.name;
    const auto info = queue::ReadEncoderJobInfo(path);
    ASSERT_TRUE(info) << c.name;
    EXPECT_EQ(info->two_pass, c.two_pass) << c.name;
    EXPECT_EQ(info->encoder_complexity, c.encoder_complexity) << c.name;
    EXPECT_EQ(info->first_pass_complexity, c.first_pass_complexity) << c.name;
  }
}

TEST(EncoderJobFileRoundTrip, ControlLooksForTheNamespaceTheWriterUses) {
  EXPECT_EQ(std::string(queue::kEncoderJobElement),
            std::string("<job xmlns=\"") + wizard::kEncoderJobNamespace + "\"");
}

}  // namespace
