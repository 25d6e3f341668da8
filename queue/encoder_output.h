#pragma once

#include <optional>
#include <string_view>

#include "queue/encoder_job_info.h"

namespace queue {

// The share of a pass in a volume's bar, from the pass's complexity.
int ComplexityWeight(int complexity);

struct PassWeights {
  int encode = 0;
  int first_pass = 0;  // 0 without two-pass
  int Total() const { return encode + first_pass; }
};
PassWeights WeightsOf(const EncoderJobInfo& job);

// What one console line of the encoder says, by the first rule that matches.
enum class EncoderLineKind {
  Other,
  Encoding,        // "Encoding@...: ... (35%)"
  Analysis,        // "Analysis: 50%"
  Error,           // contains "Error: "
  StartingEncode,  // contains "Info: Starting encode"
  Done,            // contains "Done "
  Banner,          // contains "Helix DNA(TM) Producer 10"
};

struct EncoderLine {
  EncoderLineKind kind = EncoderLineKind::Other;
  // Encoding and Analysis lines: the figure, none when the line has none (an
  // encoding line is then ignored, as is one with a negative figure).
  std::optional<int> percent;
};

EncoderLine ClassifyEncoderLine(std::string_view line);

// The volume percentage of an encoding line's figure: the analysis pass fills
// the first part of the bar in proportion to the pass weights.
double EncodingVolumePercent(int figure, const PassWeights& weights, bool two_pass);
double AnalysisVolumePercent(int figure, const PassWeights& weights);

// The process id the encoder wrote into its "pid" file; none without a number.
std::optional<int> ParseProcessIdText(std::string_view text);

// A decimal number as "%d" reads it from `pos` on: white space skipped, an
// optional sign, at least one digit; `pos` ends after the digits. None when
// there is no digit or the number does not fit.
std::optional<int> ScanDecimal(std::string_view text, size_t& pos);

}  // namespace queue
