// The pure parts of the encoder control: console lines, pass weights and
// percentages, the encoder job file, the command line and the line cutting.
#include <gtest/gtest.h>

#include <cstdio>

#include "queue/con_redir.h"
#include "queue/encoder_job_info.h"
#include "queue/encoder_output.h"
#include "tests/support/temp_dir.h"

namespace {

using queue::EncoderLineKind;

std::string OneDecimal(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

// --- console lines -----------------------------------------------------------

TEST(EncoderLines, EncodingFigureNeedsTheWholePattern) {
  auto figure = [](const char* line) { return queue::ClassifyEncoderLine(line).percent; };
  EXPECT_EQ(figure("Encoding@450k: Pass 2 (35%)"), 35);
  EXPECT_EQ(figure("Encoding@0:00:05.000: Video (7%) 12 fps"), 7);  // up to the first colon
  EXPECT_EQ(figure("Encoding@v:x(  12%)"), 12);                     // %d skips blanks
  EXPECT_EQ(figure("Encoding@v: x (35"), 35);  // what follows the number does not matter
  // "Encoding: " leaves nothing between "Encoding" and the colon.
  EXPECT_EQ(figure("Encoding: Pass 2 (35%)"), std::nullopt);
  EXPECT_EQ(figure("Encoding@v: (35%)"), std::nullopt);  // nothing before "("
  EXPECT_EQ(figure("Encoding@v: Pass 2 35%"), std::nullopt);
  EXPECT_EQ(figure("Encoding@v no colon (35%)"), std::nullopt);
  EXPECT_EQ(figure("Encoding@v: x (-3%)"), std::nullopt);
  EXPECT_EQ(figure("Encoding@v: x (99999999999%)"), std::nullopt);
  EXPECT_EQ(figure("Encoding@v: x (%)"), std::nullopt);
  // "Encoding: " is looked for first, even behind an "Encoding@".
  EXPECT_EQ(figure("Encoding@v: x (5%) Encoding: y (6%)"), std::nullopt);
  EXPECT_EQ(queue::ClassifyEncoderLine("Encoding: Pass 2 (35%)").kind, EncoderLineKind::Encoding);
}

TEST(EncoderLines, FirstMatchingRuleDecides) {
  auto kind = [](const char* line) { return queue::ClassifyEncoderLine(line).kind; };
  EXPECT_EQ(kind("Helix DNA(TM) Producer 10.0 Build number: 10.0.0.1"), EncoderLineKind::Banner);
  EXPECT_EQ(kind("Info: Starting encode"), EncoderLineKind::StartingEncode);
  EXPECT_EQ(kind("Error: cannot open out01.avs"), EncoderLineKind::Error);
  EXPECT_EQ(kind("Done encoding out01.rmvb"), EncoderLineKind::Done);
  EXPECT_EQ(kind("Done"), EncoderLineKind::Other);  // the blank is part of it
  EXPECT_EQ(kind("Analysis:50%"), EncoderLineKind::Other);
  EXPECT_EQ(kind(""), EncoderLineKind::Other);
  EXPECT_EQ(kind("Error: Encoding@v: x (5%)"), EncoderLineKind::Encoding);
  EXPECT_EQ(kind("Analysis: 5% Error: late"), EncoderLineKind::Analysis);
  EXPECT_EQ(kind("Info: Starting encode Error: x"), EncoderLineKind::Error);
  EXPECT_EQ(kind("Done Info: Starting encode"), EncoderLineKind::StartingEncode);
  EXPECT_EQ(kind("Helix DNA(TM) Producer 10 Done "), EncoderLineKind::Done);

  EXPECT_EQ(queue::ClassifyEncoderLine("Analysis: 50%").percent, 50);
  EXPECT_EQ(queue::ClassifyEncoderLine("x Analysis:  7% y").percent, 7);
  EXPECT_EQ(queue::ClassifyEncoderLine("Analysis: done").percent, std::nullopt);
}

// --- weights and percentages ---------------------------------------------------

TEST(EncoderPercent, ComplexityWeightSteps) {
  const std::pair<int, int> steps[] = {{-5, 22}, {0, 22},   {59, 22},   {60, 26},   {69, 26},
                                       {70, 33}, {77, 33},  {78, 45},   {84, 45},   {85, 60},
                                       {94, 60}, {95, 100}, {100, 100}, {1000, 100}};
  for (auto [complexity, weight] : steps)
    EXPECT_EQ(queue::ComplexityWeight(complexity), weight) << complexity;
}

TEST(EncoderPercent, PassesShareTheBarByWeight) {
  queue::EncoderJobInfo two_pass{true, 85, 50};
  queue::PassWeights weights = queue::WeightsOf(two_pass);
  EXPECT_EQ(weights.encode, 60);
  EXPECT_EQ(weights.first_pass, 22);
  // (35 x 60 + 22 x 100) / 82 and 50 x 22 / 82.
  EXPECT_EQ(OneDecimal(queue::EncodingVolumePercent(35, weights, true)), "52.4");
  EXPECT_EQ(OneDecimal(queue::AnalysisVolumePercent(50, weights)), "13.4");
  // The analysis pass ends where the encoding pass starts.
  EXPECT_DOUBLE_EQ(queue::AnalysisVolumePercent(100, weights),
                   queue::EncodingVolumePercent(0, weights, true));
  EXPECT_DOUBLE_EQ(queue::EncodingVolumePercent(100, weights, true), 100.0);

  queue::PassWeights one_pass = queue::WeightsOf({false, 85, 50});
  EXPECT_EQ(one_pass.first_pass, 0);
  EXPECT_DOUBLE_EQ(queue::EncodingVolumePercent(35, one_pass, false), 35.0);
  EXPECT_DOUBLE_EQ(queue::AnalysisVolumePercent(50, one_pass), 0.0);
}

// --- encoder job file -----------------------------------------------------------

const char kJobOpening[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<job xmlns=\"http://ns.real.com/tools/job.2.0\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"  "
    "xsi:schemaLocation=\"http://ns.real.com/tools/job.2.0 "
    "http://ns.real.com/tools/job.2.0.xsd\">\r\n";

TEST(EncoderJobFile, ReadsTwoPassAndComplexities) {
  std::string two_pass =
      std::string(kJobOpening) +
      "  <enableTwoPass type=\"bool\">true</enableTwoPass>\r\n"
      "            <encoderComplexity type=\"uint\">85</encoderComplexity>\r\n"
      "            <firstPassComplexity type=\"uint\">50</firstPassComplexity>\r\n"
      "</job>\r\n";
  auto info = queue::ParseEncoderJobInfo(two_pass);
  ASSERT_TRUE(info.has_value());
  EXPECT_TRUE(info->two_pass);
  EXPECT_EQ(info->encoder_complexity, 85);
  EXPECT_EQ(info->first_pass_complexity, 50);

  // A one-pass job keeps its first-pass complexity in a comment: read, but
  // it counts for nothing.
  std::string one_pass =
      std::string(kJobOpening) +
      "  <enableTwoPass type=\"bool\">false</enableTwoPass>\r\n"
      "            <encoderComplexity type=\"uint\">70</encoderComplexity>\r\n"
      "            <!-- <firstPassComplexity type=\"uint\">95</firstPassComplexity> -->\r\n";
  info = queue::ParseEncoderJobInfo(one_pass);
  ASSERT_TRUE(info.has_value());
  EXPECT_FALSE(info->two_pass);
  EXPECT_EQ(info->first_pass_complexity, 95);
  EXPECT_EQ(queue::WeightsOf(*info).encode, 33);
  EXPECT_EQ(queue::WeightsOf(*info).first_pass, 0);
}

TEST(EncoderJobFile, MissingValuesFallBack) {
  auto info = queue::ParseEncoderJobInfo(std::string(kJobOpening) + "</job>\r\n");
  ASSERT_TRUE(info.has_value());
  EXPECT_FALSE(info->two_pass);
  queue::PassWeights weights = queue::WeightsOf(*info);
  EXPECT_EQ(weights.encode, 60);  // complexity 90
  EXPECT_EQ(weights.first_pass, 0);

  info = queue::ParseEncoderJobInfo(std::string(kJobOpening) +
                                    "<enableTwoPass type=\"bool\">true</enableTwoPass>" +
                                    "<encoderComplexity type=\"uint\">high</encoderComplexity>" +
                                    "<firstPassComplexity type=\"uint\"></firstPassComplexity>");
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->encoder_complexity, 90);
  EXPECT_EQ(info->first_pass_complexity, 50);
  EXPECT_EQ(queue::WeightsOf(*info).first_pass, 22);
}

TEST(EncoderJobFile, RefusesFilesWithoutTheJobElement) {
  EXPECT_FALSE(queue::ParseEncoderJobInfo("").has_value());
  EXPECT_FALSE(
      queue::ParseEncoderJobInfo("<job xmlns=\"http://ns.real.com/tools/job.1.0\">").has_value());
  EXPECT_FALSE(queue::ParseEncoderJobInfo("<job>").has_value());

  kv_test::TempDir dir;
  EXPECT_FALSE(queue::ReadEncoderJobInfo(dir.File("out01.rpjf")).has_value());
  kv_test::WriteFile(dir.File("out01.rpjf"), kJobOpening);
  EXPECT_TRUE(queue::ReadEncoderJobInfo(dir.File("out01.rpjf")).has_value());
  EXPECT_FALSE(queue::ReadEncoderJobInfo(dir.Path()).has_value());  // a folder
}

TEST(EncoderJobFile, ProcessIdText) {
  EXPECT_EQ(queue::ParseProcessIdText("4711"), 4711);
  EXPECT_EQ(queue::ParseProcessIdText(" 42\r\n"), 42);
  EXPECT_EQ(queue::ParseProcessIdText(""), std::nullopt);
  EXPECT_EQ(queue::ParseProcessIdText("pid"), std::nullopt);
}

// --- command line -----------------------------------------------------------------

TEST(CommandLine, SplitsAsTheEncoderExpects) {
  using Args = std::vector<std::string>;
  EXPECT_EQ(
      queue::SplitCommandLine("/opt/kv/helix/producer -j \"out01.rpjf\" -daw -lc \"e,i\" "
                              "-pid pid"),
      (Args{"/opt/kv/helix/producer", "-j", "out01.rpjf", "-daw", "-lc", "e,i", "-pid", "pid"}));
  EXPECT_EQ(queue::SplitCommandLine("  \"/a b/producer\"\t-x  "), (Args{"/a b/producer", "-x"}));
  EXPECT_EQ(queue::SplitCommandLine("\"a b\"c \"\" d"), (Args{"a bc", "", "d"}));
  EXPECT_EQ(queue::SplitCommandLine(R"(a\\b a\"b a\\\"b a\\"b c")"),
            (Args{R"(a\\b)", R"(a"b)", R"(a\"b)", R"(a\b c)"}));
  EXPECT_EQ(queue::SplitCommandLine(R"("a""b")"), (Args{R"(a"b)"}));
  EXPECT_EQ(queue::SplitCommandLine(""), Args{});
}

// --- line cutting ------------------------------------------------------------------

std::vector<std::string> CutInPieces(const std::string& text, const std::vector<size_t>& cuts,
                                     std::string* rest) {
  queue::LineCutter cutter;
  std::vector<std::string> lines;
  size_t from = 0;
  for (size_t cut : cuts) {
    for (std::string& line : cutter.Append(text.data() + from, cut - from)) lines.push_back(line);
    from = cut;
  }
  for (std::string& line : cutter.Append(text.data() + from, text.size() - from))
    lines.push_back(line);
  *rest = cutter.TakeRest();
  return lines;
}

TEST(LineCutting, SameLinesWhereverTheBlocksEnd) {
  const std::string text = "Info: a\r\nAnalysis: 1%\rAnalysis: 2%\r\r\n\nx\rlf\nonly\rtail";
  const std::vector<std::string> expected = {"Info: a", "Analysis: 1%", "Analysis: 2%",
                                             "",        "\nx",          "lf\nonly"};
  for (size_t a = 0; a <= text.size(); ++a) {
    for (size_t b = a; b <= text.size(); ++b) {
      std::string rest;
      EXPECT_EQ(CutInPieces(text, {a, b}, &rest), expected) << a << " " << b;
      EXPECT_EQ(rest, "tail") << a << " " << b;
    }
  }
}

TEST(LineCutting, LongLinesGrowTheBuffer) {
  queue::LineCutter cutter;
  std::string block(1024, 'q');
  for (int i = 0; i < 9; ++i) EXPECT_TRUE(cutter.Append(block.data(), block.size()).empty());
  std::vector<std::string> lines = cutter.Append("\r\nnext", 6);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], std::string(9 * 1024, 'q'));
  EXPECT_EQ(cutter.TakeRest(), "next");
  EXPECT_TRUE(cutter.Empty());
  // Bytes the C string functions would stop at are kept.
  lines = cutter.Append("a\0b\r", 4);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], std::string("a\0b", 3));
}

}  // namespace
