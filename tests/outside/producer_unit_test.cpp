// The encoder's parts that need no clip: the job file reader against the
// wizard's writer, the rate control against a simulated codec, and the
// console lines against the encoder control's own parser.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "outside/producer/codecs.h"
#include "outside/producer/console.h"
#include "outside/producer/job_file.h"
#include "outside/producer/processor_slots.h"
#include "outside/producer/rate_control.h"
#include "outside/producer/rm_output.h"
#include "outside/producer/segments.h"
#include "outside/producer/signal_catcher.h"
#include "queue/encoder_output.h"
#include "queue/encoder_signal.h"
#include "tests/support/temp_dir.h"
#include "wizard/encoder_job_file.h"

namespace {

using producer::ParseProducerJob;

wizard::EncoderJobFileValues FixedSizeValues() {
  wizard::EncoderJobFileValues v;
  v.Title = "Holiday";
  v.Author = "Me";
  v.Copyright = "(C) 2024";
  v.Keywords = "sea";
  v.Description = "Two weeks";
  v.Rating = 3;
  v.ScriptName = "out02.avs";
  v.OutputPath = "../Holiday (2of3).rmvb";
  v.TwoPass = true;
  v.AverageBitrate = 1077081;
  v.MaximumBitrate = 2 * 1077081;
  v.encoderComplexity = 85;
  v.firstPassComplexity = 55;
  v.FrameRate = 29.97f;
  v.HasAudio = true;
  v.CodecName = "cook";
  v.CodecFlavour = 27;  // 64 Kbps surround
  return v;
}

TEST(ProducerJobFile, ReadsWhatTheWizardWrites) {
  std::string error;
  auto job = ParseProducerJob(wizard::FormatEncoderJobFile(FixedSizeValues()), &error);
  ASSERT_TRUE(job) << error;
  EXPECT_TRUE(job->two_pass);
  EXPECT_EQ(job->title, "Holiday");
  EXPECT_EQ(job->author, "Me");
  EXPECT_EQ(job->copyright, "(C) 2024");
  EXPECT_EQ(job->keywords, "sea");
  EXPECT_EQ(job->description, "Two weeks");
  EXPECT_EQ(job->rating, 3);
  EXPECT_EQ(job->input, "out02.avs");
  EXPECT_EQ(job->output, "../Holiday (2of3).rmvb");
  EXPECT_EQ(job->roll_size_mb, 0);
  EXPECT_EQ(job->average_bitrate, 1077081);
  EXPECT_EQ(job->maximum_bitrate, 2 * 1077081);
  EXPECT_EQ(job->encoding_type, producer::EncodingType::Bitrate);
  EXPECT_EQ(job->encoder_complexity, 85);
  EXPECT_EQ(job->first_pass_complexity, 55);
  EXPECT_DOUBLE_EQ(job->max_frame_rate, 30);
  EXPECT_DOUBLE_EQ(job->max_key_frame_interval, 10);
  EXPECT_TRUE(job->WantsAudio());
  EXPECT_EQ(job->audio_kbps, 64);
  EXPECT_EQ(job->audio_channels, 2);

  // Constant quality, split, one pass, no sound: template B with the first
  // pass commented out.
  wizard::EncoderJobFileValues q = FixedSizeValues();
  q.TwoPass = false;
  q.rcEnableCurveCompression = false;
  q.Quality = 85;
  q.AverageBitrate = q.MaximumBitrate = 100000000;
  q.RollSizeMB = 650;
  q.HasAudio = false;
  q.firstPassComplexity = 70;
  job = ParseProducerJob(wizard::FormatEncoderJobFile(q), &error);
  ASSERT_TRUE(job) << error;
  EXPECT_FALSE(job->two_pass);
  EXPECT_EQ(job->encoding_type, producer::EncodingType::Quality);
  EXPECT_EQ(job->quality, 85);
  EXPECT_EQ(job->roll_size_mb, 650);
  EXPECT_EQ(job->first_pass_complexity, 50);  // the comment is no element
  EXPECT_FALSE(job->WantsAudio());

  // Every audio row of the settings' table is known, with its channels.
  for (auto [codec, flavour, kbps, channels] : std::vector<std::tuple<const char*, int, int, int>>{
           {"cook", 8, 6, 1}, {"racp", 0, 64, 2}, {"raac", 11, 320, 2}, {"cook", 33, 268, 6}}) {
    wizard::EncoderJobFileValues a = FixedSizeValues();
    a.CodecName = codec;
    a.CodecFlavour = flavour;
    job = ParseProducerJob(wizard::FormatEncoderJobFile(a), &error);
    ASSERT_TRUE(job) << error;
    EXPECT_EQ(job->audio_kbps, kbps) << codec << flavour;
    EXPECT_EQ(job->audio_channels, channels) << codec << flavour;
  }
}

// Files with one thing wrong: each gives a reason, none a job.
TEST(ProducerJobFile, RefusesMissingAndAbsurdValues) {
  const std::string good = wizard::FormatEncoderJobFile(FixedSizeValues());
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = good;
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
  };
  const struct {
    std::string text;
    const char* reason;
  } cases[] = {
      {"", "no encoder job file"},
      {"<job>", "no encoder job file"},
      {"not xml at all", "no encoder job file"},
      {good.substr(0, good.size() / 2), "not well-formed XML"},
      {replaced("job.2.0\" xmlns:xsi", "job.1.0\" xmlns:xsi"), "no encoder job file"},
      {replaced("<avgBitrate type=\"uint\">1077081", "<avgBitrate type=\"uint\">0"),
       "avgBitrate 0 is outside 1000..100000000"},
      {replaced("<avgBitrate type=\"uint\">1077081", "<avgBitrate type=\"uint\">-5"),
       "avgBitrate \"-5\" is not a whole number"},
      {replaced("<avgBitrate type=\"uint\">1077081",
                "<avgBitrate type=\"uint\">99999999999999999999"),
       "is not a whole number"},
      {replaced("<avgBitrate type=\"uint\">1077081</avgBitrate>", ""), "avgBitrate is missing"},
      {replaced("<maxBitrate type=\"uint\">2154162", "<maxBitrate type=\"uint\">1000"),
       "maxBitrate 1000 is below avgBitrate 1077081"},
      {replaced("<filename type=\"string\">out02.avs", "<filename type=\"string\">"),
       "filename is missing"},
      {replaced(">../Holiday (2of3).rmvb<", "><"), "filename is missing"},
      {replaced(">0</destinationRollSize", ">9999999999</destinationRollSize"),
       "destinationRollSize 9999999999 is outside"},
      {replaced(">85</encoderComplexity", ">850</encoderComplexity"),
       "encoderComplexity 850 is outside 0..100"},
      {replaced(">30.000</maxFrameRate", ">nan</maxFrameRate"),
       "maxFrameRate \"nan\" is not a number"},
      {replaced(">30.000</maxFrameRate", ">1e308</maxFrameRate"), "maxFrameRate 1e308 is outside"},
      {replaced(">10</maxKeyFrameInterval", ">0</maxKeyFrameInterval"),
       "maxKeyFrameInterval 0 is outside"},
      {replaced(">vbrBitrate<", ">cbr<"), "encoding type \"cbr\""},
      {replaced(">27</codecFlavor", ">99</codecFlavor"), "no audio codec \"cook\" with flavour 99"},
      {replaced(">false</disableVideo", ">true</disableVideo"), "without video"},
      {replaced(">false</disableAudio", ">maybe</disableAudio"), "neither true nor false"},
      {replaced(">3</value>", ">9</value>"), "content rating"},
      {replaced("<codecName type=\"string\">rv10</codecName>", ""), "no video stream"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(ParseProducerJob(c.text, &error)) << c.reason;
    EXPECT_NE(error.find(c.reason), std::string::npos)
        << "wanted \"" << c.reason << "\", got \"" << error << "\"";
  }
  // Deep nesting ends early, with a reason.
  std::string deep = good.substr(0, good.find("<enableTwoPass"));
  for (int i = 0; i < 100; ++i) deep += "<a>";
  std::string error;
  EXPECT_FALSE(ParseProducerJob(deep, &error));
  EXPECT_NE(error.find("nested too deeply"), std::string::npos) << error;
}

TEST(ProducerConsole, LinesReadByTheEncoderControl) {
  using queue::ClassifyEncoderLine;
  using queue::EncoderLineKind;
  auto kind = [](const std::string& line) {
    // The control sees each line without its carriage return.
    EXPECT_EQ(line.find('\r'), line.find_last_of("\r\n") - (line.back() == '\n' ? 1 : 0)) << line;
    return ClassifyEncoderLine(line.substr(0, line.find('\r')));
  };
  EXPECT_EQ(kind(producer::BannerLine()).kind, EncoderLineKind::Banner);
  EXPECT_EQ(kind(producer::StartingLine()).kind, EncoderLineKind::StartingEncode);
  EXPECT_EQ(kind(producer::ErrorLine("cannot open \"out01.avs\"")).kind, EncoderLineKind::Error);
  EXPECT_EQ(kind(producer::DoneLine("\"../a.rmvb\"", 1234, 5.5)).kind, EncoderLineKind::Done);
  EXPECT_EQ(kind(producer::InfoLine("stopped by request: \"a.rmvb\" is complete up to there")).kind,
            EncoderLineKind::Other);
  for (int percent : {0, 35, 100}) {
    const queue::EncoderLine analysis = kind(producer::AnalysisLine(percent));
    EXPECT_EQ(analysis.kind, EncoderLineKind::Analysis);
    EXPECT_EQ(analysis.percent, percent);
    const queue::EncoderLine encoding = kind(producer::EncodingLine(2, percent, 1051));
    EXPECT_EQ(encoding.kind, EncoderLineKind::Encoding);
    EXPECT_EQ(encoding.percent, percent);
  }
  // Progress lines are rewritten in place: a bare carriage return.
  EXPECT_EQ(producer::AnalysisLine(5).back(), '\r');
  EXPECT_EQ(producer::BannerLine().substr(producer::BannerLine().size() - 2), "\r\n");
}

TEST(ProducerRateControl, StatisticsLinesOfTheCodec) {
  const auto stats = producer::ParseFrameStats(
      "in:0 out:0 type:1 q:590 itex:81234 ptex:0 mv:0 misc:1234 fcode:1 bcode:1 mc-var:0 var:9 "
      "icount:99 hbits:70;\r\nin:1 out:1 type:2 q:590 itex:10 ptex:5000 mv:800 misc:300 fcode:1 "
      "bcode:1 mc-var:5 var:9 icount:1 hbits:70;\n");
  ASSERT_TRUE(stats);
  ASSERT_EQ(stats->size(), 2u);
  EXPECT_TRUE((*stats)[0].key);
  EXPECT_DOUBLE_EQ((*stats)[0].quantizer, 5);
  EXPECT_DOUBLE_EQ((*stats)[0].texture_bits, 81234);
  EXPECT_DOUBLE_EQ((*stats)[0].other_bits, 1234);
  EXPECT_FALSE((*stats)[1].key);
  EXPECT_DOUBLE_EQ((*stats)[1].texture_bits, 5010);
  EXPECT_DOUBLE_EQ((*stats)[1].other_bits, 1100);
  EXPECT_FALSE(producer::ParseFrameStats("in:0 type:1 q:x;\n"));
  EXPECT_FALSE(producer::ParseFrameStats("garbage\n"));
}

// Every complexity a job file may hold gives options the codec takes, in
// the analysis pass and the encoding pass, and codes a key frame and
// frames after it; in the encoding pass none of those is a key frame, not
// even a frame of new noise (grain), as the rate control places them.
TEST(ProducerCodecs, EveryComplexityCodesFrames) {
  AVFrame* picture = av_frame_alloc();
  picture->format = AV_PIX_FMT_YUV420P;
  picture->width = 64;
  picture->height = 48;
  ASSERT_EQ(av_frame_get_buffer(picture, 0), 0);
  for (int complexity = 0; complexity <= 100; ++complexity) {
    for (bool analysis : {true, false}) {
      SCOPED_TRACE(std::to_string(complexity) + (analysis ? " analysis" : " encoding"));
      producer::VideoCodecSettings settings;
      settings.width = 64;
      settings.height = 48;
      settings.complexity = complexity;
      settings.analysis_pass = analysis;
      std::string error;
      auto encoder = producer::VideoEncoder::Open(settings, &error);
      ASSERT_TRUE(encoder) << error;
      std::vector<producer::VideoEncoder::Coded> coded;
      std::minstd_rand noise(complexity);
      for (int frame = 0; frame < 3; ++frame) {
        for (int plane = 0; plane < 3; ++plane)
          for (int y = 0; y < (plane ? 24 : 48); ++y)
            for (int x = 0; x < (plane ? 32 : 64); ++x)
              picture->data[plane][y * picture->linesize[plane] + x] =
                  static_cast<uint8_t>(frame == 2 ? noise()
                                       : plane    ? 128
                                                  : (x * 4 + y * 2 + frame * 3) & 255);
        ASSERT_TRUE(encoder->Encode(picture, 4, frame == 0, &coded, &error)) << error;
      }
      ASSERT_TRUE(encoder->Encode(nullptr, 4, false, &coded, &error)) << error;
      ASSERT_EQ(coded.size(), 3u);
      EXPECT_TRUE(coded[0].key);
      EXPECT_FALSE(coded[1].key);
      if (!analysis) {
        EXPECT_FALSE(coded[2].key);
      }
    }
  }
  av_frame_free(&picture);
}

TEST(ProducerRateControl, DitheredQuantizersKeepTheirMean) {
  producer::QuantizerDither dither;
  double inverse = 0;
  for (int i = 0; i < 1000; ++i) inverse += 1.0 / dither.Next(4.4);
  EXPECT_NEAR(inverse / 1000, 1 / 4.4, 0.001);
  EXPECT_EQ(dither.Next(100), 31);
  EXPECT_EQ(dither.Next(0.5), 2);
}

// One pass on grain, where a frame after a key frame costs as much as the
// key frame (the guess from the key frame is for quieter pictures): from
// the second frame after the key frame on, the quantiser is the one that
// spreads the bits left evenly, not one that spends several frames' bits
// on each frame while a guess eases out.
TEST(ProducerRateControl, OnePassLearnsWhatFramesCostFromTheFirstOne) {
  constexpr double kComplexity = 5e7;  // bits times quantiser^1.5, every frame
  constexpr int kFrames = 200;
  producer::OnePassRateControl control(3);
  double left = kFrames * kComplexity / std::pow(20.0, 1.5);  // quantiser 20 for every frame
  for (int i = 0; i < kFrames; ++i) {
    const double q = control.Quantizer(i == 0, left, kFrames - i);
    const double even = std::pow(kComplexity * (kFrames - i) / left, 1 / 1.5);
    if (i >= 2) {
      EXPECT_NEAR(q, even, 0.01 * even) << i;
    }
    const double bits = kComplexity / std::pow(q, 1.5);
    control.FrameDone(i == 0, q, bits);
    left -= bits;
  }
  EXPECT_NEAR(left, 0, 1);  // spent to the bit
}

// A simulated codec whose frames cost what the model says times an error
// that drifts from scene to scene: the second pass still lands on the
// budget, from below.
TEST(ProducerRateControl, SecondPassMeetsTheBudget) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> unit(0, 1);
  std::vector<producer::FrameStats> frames;
  for (int i = 0; i < 3000; ++i) {
    const double scene = 1 + 3 * std::floor(i / 400.0) * (i % 800 < 400);  // busy and quiet scenes
    producer::FrameStats f;
    f.key = i % 250 == 0;
    f.quantizer = 5;
    f.texture_bits = (f.key ? 60000 : 8000) * scene * (0.7 + 0.6 * unit(random));
    f.other_bits = 600 + 200 * unit(random);
    frames.push_back(f);
  }
  for (double share : {0.3, 1.0, 1.5}) {
    double total_at_q5 = 0;
    for (const auto& f : frames) total_at_q5 += f.texture_bits + f.other_bits;
    const double budget = total_at_q5 * share;
    producer::TwoPassRateControl plan(frames);
    producer::QuantizerDither dither;
    double spent = 0, drift = 1.2;
    for (size_t i = 0; i < frames.size(); ++i) {
      if (i % 500 == 0) drift = 0.85 + 0.4 * unit(random);
      const int q = dither.Next(plan.Quantizer(i, budget * 0.995 - spent));
      const double bits = plan.PredictedBits(i, q) * drift * (0.9 + 0.2 * unit(random));
      plan.FrameDone(i, q, bits);
      spent += bits;
    }
    EXPECT_LE(spent, budget) << share;
    EXPECT_GE(spent, 0.98 * budget) << share;
  }
}

// Segments cover the volume in order, each from a key frame: fixed ones on
// multiples of the key interval, planned ones on the analysis' key frames
// and at least the shortest length (a short last one joins the one before).
TEST(ProducerSegments, SegmentsStartOnKeyFramesAndCoverTheVolume) {
  struct Case {
    int64_t frames, key_interval;
    int workers;
    size_t count;
  };
  for (const Case& c : {Case{1000, 250, 1, 1}, Case{1000, 250, 2, 4}, Case{4500, 250, 2, 9},
                        Case{4500, 100, 2, 9}, Case{90, 250, 8, 1}, Case{1010, 50, 4, 20}}) {
    SCOPED_TRACE(std::to_string(c.frames) + " " + std::to_string(c.key_interval) + " " +
                 std::to_string(c.workers));
    const auto segments = producer::FixedSegments(c.frames, c.key_interval, c.workers);
    EXPECT_EQ(segments.size(), c.count);
    int64_t next = 0;
    for (const producer::Segment& s : segments) {
      EXPECT_EQ(s.first, next);
      EXPECT_EQ(s.first % c.key_interval, 0);
      EXPECT_GT(s.Frames(), 0);
      next = s.end;
    }
    EXPECT_EQ(next, c.frames);
  }
  // The analysis: whole key intervals while they give every worker its
  // segments, shorter ones down to the least length in short volumes.
  struct AnalysisCase {
    int64_t frames, key_interval, least;
    int workers;
    size_t count;
    int64_t length;
  };
  for (const AnalysisCase& c :
       {AnalysisCase{750, 250, 50, 2, 8, 93}, AnalysisCase{750, 250, 50, 1, 1, 750},
        AnalysisCase{4500, 250, 50, 2, 9, 500}, AnalysisCase{300, 250, 50, 4, 6, 50},
        AnalysisCase{750, 25, 50, 2, 10, 75}}) {
    SCOPED_TRACE(std::to_string(c.frames) + " " + std::to_string(c.key_interval));
    const auto segments = producer::AnalysisSegments(c.frames, c.key_interval, c.least, c.workers);
    ASSERT_EQ(segments.size(), c.count);
    int64_t next = 0;
    for (const producer::Segment& s : segments) {
      EXPECT_EQ(s.first, next);
      EXPECT_EQ(s.first % c.length, 0);
      EXPECT_GE(s.Frames(), std::min(c.least, c.frames));
      next = s.end;
    }
    EXPECT_EQ(next, c.frames);
  }
  std::vector<bool> keys(3000);
  for (size_t i = 0; i < keys.size(); i += 37 + i % 11) keys[i] = true;
  for (int workers : {1, 2, 8}) {
    const auto segments = producer::SegmentsAtKeys(keys, 50, workers);
    int64_t next = 0;
    for (const producer::Segment& s : segments) {
      EXPECT_EQ(s.first, next);
      EXPECT_TRUE(keys[static_cast<size_t>(s.first)]);
      EXPECT_GE(s.Frames(), 50);
      next = s.end;
    }
    EXPECT_EQ(next, 3000);
    EXPECT_EQ(segments.size() == 1, workers == 1);
  }
}

// While the sound holds a processor, one worker fewer codes, never none; a
// worker waiting for a slot goes on when one comes free, or gives up when
// its pass is halted.
TEST(ProducerSegments, TheSoundHoldsAProcessorWhileItIsCoded) {
  const auto never = [] { return false; };
  const auto halted = [] { return true; };
  producer::ProcessorSlots two(2);
  two.Reserve();
  ASSERT_TRUE(two.Acquire(never));
  EXPECT_FALSE(two.Acquire(halted));
  std::future<bool> waiting = std::async(std::launch::async, [&] { return two.Acquire(never); });
  two.Unreserve();
  EXPECT_TRUE(waiting.get());
  EXPECT_FALSE(two.Acquire(halted));
  two.Release();
  EXPECT_TRUE(two.Acquire(halted));

  producer::ProcessorSlots one(1);
  one.Reserve();
  EXPECT_TRUE(one.Acquire(never));
  EXPECT_FALSE(one.Acquire(halted));
  waiting = std::async(std::launch::async, [&] { return one.Acquire(never); });
  one.Release();
  EXPECT_TRUE(waiting.get());
}

// A volume of busy scenes and then quiet ones, coded in segments two at a
// time, each with a plan of its own for its share of the whole volume's
// plan, on a simulated codec whose frames never take fewer than a floor of
// bits however coarse the quantiser: the volume lands on its budget, from
// below, though the analysis' costs scaled to the coarsest quantiser say
// the quiet frames would take far less.
TEST(ProducerRateControl, SegmentsSideBySideShareTheVolumesBudget) {
  std::mt19937 random(11);
  std::uniform_real_distribution<double> unit(0, 1);
  constexpr double kFloor = 1000;
  std::vector<producer::FrameStats> frames;
  std::vector<bool> keys;
  for (int i = 0; i < 3000; ++i) {
    const bool quiet = i >= 2200;
    producer::FrameStats f;
    f.key = i % 250 == 0;
    f.quantizer = 5;
    f.texture_bits = (f.key ? 60000 : 8000) * (quiet ? 0.01 : 1) * (0.7 + 0.6 * unit(random));
    f.other_bits = quiet ? 100 : 600 + 200 * unit(random);
    frames.push_back(f);
    keys.push_back(f.key);
  }
  const producer::TwoPassRateControl raw(frames);
  double at_q5 = 0;
  for (const auto& f : frames) at_q5 += f.texture_bits + f.other_bits;
  const double budget = 0.3 * at_q5;
  const producer::TwoPassRateControl volume(frames, kFloor);
  const auto segments = producer::SegmentsAtKeys(keys, 100, 2);
  const auto shares = producer::SegmentShares(segments, volume.PlannedBits(budget), budget);
  enum State { kWaiting, kRunning, kFinished };
  std::vector<State> states(segments.size(), kWaiting);
  double finished = 0, spent = 0;
  for (size_t k = 0; k < segments.size(); k += 2) {
    std::vector<double> budgets;
    for (size_t m = k; m < std::min(k + 2, segments.size()); ++m) {
      double running = 0, waiting = 0;
      for (size_t j = 0; j < segments.size(); ++j)
        (states[j] == kRunning   ? running
         : states[j] == kWaiting ? waiting
                                 : finished) += states[j] == kFinished ? 0 : shares[j];
      budgets.push_back(producer::SegmentBudget(shares[m], budget, finished, running, waiting));
      states[m] = kRunning;
    }
    for (size_t m = k; m < k + budgets.size(); ++m) {
      const producer::Segment& s = segments[m];
      producer::TwoPassRateControl plan(
          std::vector<producer::FrameStats>(frames.begin() + s.first, frames.begin() + s.end),
          kFloor);
      producer::QuantizerDither dither;
      double used = 0;
      for (int64_t i = s.first; i < s.end; ++i) {
        const auto n = static_cast<size_t>(i - s.first);
        const int q = dither.Next(plan.Quantizer(n, budgets[m - k] * 0.995 - used));
        const double bits = std::max(
            kFloor, raw.PredictedBits(static_cast<size_t>(i), q) * (0.9 + 0.2 * unit(random)));
        plan.FrameDone(n, q, bits);
        used += bits;
      }
      finished += used;
      spent += used;
      states[m] = kFinished;
    }
  }
  EXPECT_LE(spent, budget);
  EXPECT_GE(spent, 0.99 * budget);
}

TEST(ProducerOutput, RolledPartsAreNumbered) {
  EXPECT_EQ(producer::PartFileName("../Holiday.rmvb", 1), "../Holiday.rmvb");
  EXPECT_EQ(producer::PartFileName("../Holiday.rmvb", 3), "../Holiday_3.rmvb");
  EXPECT_EQ(producer::PartFileName("../a.b/Holiday", 2), "../a.b/Holiday_2");
}

}  // namespace

namespace {

// The peak over a window: the bits a frame may take are what the window's
// other frames leave, and a frame falls out of the window after it.
TEST(ProducerRateControl, PeakLimitCountsTheLastFramesOfItsWindow) {
  producer::PeakLimit peak(3, 300);
  EXPECT_EQ(peak.AllowedBits(), 300);
  peak.FrameDone(100);
  peak.FrameDone(150);
  EXPECT_EQ(peak.AllowedBits(), 50);
  peak.FrameDone(50);  // the first falls out
  EXPECT_EQ(peak.AllowedBits(), 100);
  // The least quantiser within a limit, at most the coarsest.
  auto bits = [](double q) { return 1000.0 / q; };
  EXPECT_EQ(producer::QuantizerWithin(4, 500, bits), 4);
  EXPECT_GE(producer::QuantizerWithin(4, 100, bits), 10);
  EXPECT_EQ(producer::QuantizerWithin(4, 1, bits), producer::kMaxQuantizer);
}

// A file written by the output with a frame larger than one packet holds,
// read back by walking its chunks: the headers count every packet, keep the
// exact picture rate behind texts of any length, and carry the keywords
// and the rating.
TEST(ProducerOutput, HeadersDescribeWhatWasWritten) {
  kv_test::TempDir dir("kv-rm-output");
  const std::string path = dir.File("clip.rmvb");
  producer::ClipText text{std::string(6000, 't'), "Someone",   "(C) 2026",
                          std::string(5000, 'd'), "sea, sand", 7};
  producer::VideoStreamFormat video{320, 240, AVRational{30000, 1001}, 500000, 1000000};
  producer::AudioStreamFormat audio{48000, 2, 1024, 65536};
  std::string error;
  auto output = producer::RealMediaOutput::Create(path, text, video, &audio, &error);
  ASSERT_TRUE(output) << error;
  const std::vector<uint8_t> big(producer::kMaxVideoPacketBytes + 1000, 0x55), small(100, 0x66);
  ASSERT_TRUE(output->WriteVideo(big.data(), static_cast<int>(big.size()), true, 0, &error));
  ASSERT_TRUE(output->WriteAudio(small.data(), 100, 0.0, &error));
  ASSERT_TRUE(output->WriteVideo(small.data(), 100, false, 1, &error));
  EXPECT_FALSE(output->WriteVideo(big.data(), producer::kMaxVideoFrameBytes + 1, false, 2, &error));
  ASSERT_TRUE(output->Finish(&error)) << error;
  EXPECT_EQ(output->TotalBytes(), static_cast<int64_t>(kv_test::ReadFile(path).size()));

  const auto facts = producer::ReadRealMediaHeader(path, &error);
  ASSERT_TRUE(facts) << error;
  EXPECT_EQ(facts->packets, 4u);  // the large frame in two pieces
  EXPECT_NEAR(facts->frame_rate, 30000.0 / 1001, 1e-4);
  EXPECT_EQ(facts->max_bit_rate, 1000000u);
  EXPECT_EQ(facts->content.at("title"), std::string(6000, 't'));
  EXPECT_EQ(facts->content.at("comment"), std::string(5000, 'd'));
  EXPECT_EQ(facts->properties.at("Keywords"), "sea, sand");
  EXPECT_EQ(facts->properties.at("Content Rating"), "7");
}

// The catcher reads every client beside the others: one that connects and
// says nothing neither delays nor swallows a real stop; a client of another
// user is refused.
TEST(ProducerSignalCatcher, ASilentClientDoesNotHoldTheStop) {
  std::atomic<bool> stop{false};
  producer::SignalCatcher catcher(stop);
  ASSERT_TRUE(catcher.Listening());
  const int silent = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address;
  const socklen_t length =
      queue::SignalCatcherAddress(queue::SignalCatcherTitle(static_cast<int>(::getpid())), address);
  ASSERT_EQ(::connect(silent, reinterpret_cast<const sockaddr*>(&address), length), 0);
  ASSERT_TRUE(queue::PostSignalCatcherMessage(static_cast<int>(::getpid()), 1, 0));
  // A stop held by the silent client ends this wait only at ctest's time-out.
  while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ::close(silent);

  if (::geteuid() != 0) GTEST_SKIP() << "another user's client needs root to be made";
  stop = false;
  const pid_t child = ::fork();
  if (child == 0) {
    // The catcher may close the connection before the message is sent.
    if (::setuid(65534) != 0) ::_exit(1);
    queue::PostSignalCatcherMessage(static_cast<int>(::getppid()), 1, 0);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  while (catcher.Refused() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(catcher.Refused(), 1);
  EXPECT_FALSE(stop);
}

}  // namespace
