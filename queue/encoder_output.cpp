#include "queue/encoder_output.h"

#include <climits>

namespace queue {
namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool Contains(std::string_view line, std::string_view text) {
  return line.find(text) != std::string_view::npos;
}

// "Encoding%[^:]: %[^(](%d%%)" read from `at`; the figure or none.
std::optional<int> ReadEncodingFigure(std::string_view line, size_t at) {
  size_t pos = at + std::string_view("Encoding").size();
  size_t start = pos;
  while (pos < line.size() && line[pos] != ':') ++pos;
  if (pos == start || pos == line.size()) return std::nullopt;
  ++pos;
  while (pos < line.size() && IsSpace(line[pos])) ++pos;
  start = pos;
  while (pos < line.size() && line[pos] != '(') ++pos;
  if (pos == start || pos == line.size()) return std::nullopt;
  ++pos;
  return ScanDecimal(line, pos);
}

}  // namespace

std::optional<int> ScanDecimal(std::string_view text, size_t& pos) {
  size_t p = pos;
  while (p < text.size() && IsSpace(text[p])) ++p;
  bool negative = false;
  if (p < text.size() && (text[p] == '+' || text[p] == '-')) negative = text[p++] == '-';
  if (p >= text.size() || text[p] < '0' || text[p] > '9') return std::nullopt;
  long long value = 0;
  while (p < text.size() && text[p] >= '0' && text[p] <= '9') {
    value = value * 10 + (text[p++] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > INT_MAX || value < INT_MIN) return std::nullopt;
  pos = p;
  return static_cast<int>(value);
}

int ComplexityWeight(int c) {
  if (c < 60) return 22;
  if (c < 70) return 26;
  if (c < 78) return 33;
  if (c < 85) return 45;
  if (c < 95) return 60;
  return 100;
}

PassWeights WeightsOf(const EncoderJobInfo& job) {
  PassWeights weights;
  weights.encode = ComplexityWeight(job.encoder_complexity);
  weights.first_pass = job.two_pass ? ComplexityWeight(job.first_pass_complexity) : 0;
  return weights;
}

EncoderLine ClassifyEncoderLine(std::string_view line) {
  EncoderLine result;
  size_t at = line.find("Encoding: ");
  if (at == std::string_view::npos) at = line.find("Encoding@");
  if (at != std::string_view::npos) {
    result.kind = EncoderLineKind::Encoding;
    std::optional<int> figure = ReadEncodingFigure(line, at);
    if (figure && *figure >= 0) result.percent = figure;
    return result;
  }
  at = line.find("Analysis: ");
  if (at != std::string_view::npos) {
    result.kind = EncoderLineKind::Analysis;
    size_t pos = at + std::string_view("Analysis:").size();
    result.percent = ScanDecimal(line, pos);
    return result;
  }
  if (Contains(line, "Error: "))
    result.kind = EncoderLineKind::Error;
  else if (Contains(line, "Info: Starting encode"))
    result.kind = EncoderLineKind::StartingEncode;
  else if (Contains(line, "Done "))
    result.kind = EncoderLineKind::Done;
  else if (Contains(line, "Helix DNA(TM) Producer 10"))
    result.kind = EncoderLineKind::Banner;
  return result;
}

double EncodingVolumePercent(int figure, const PassWeights& weights, bool two_pass) {
  if (!two_pass) return figure;
  return (static_cast<double>(figure) * weights.encode + weights.first_pass * 100.0) /
         weights.Total();
}

double AnalysisVolumePercent(int figure, const PassWeights& weights) {
  return static_cast<double>(figure) * weights.first_pass / weights.Total();
}

std::optional<int> ParseProcessIdText(std::string_view text) {
  size_t pos = 0;
  return ScanDecimal(text, pos);
}

}  // namespace queue
