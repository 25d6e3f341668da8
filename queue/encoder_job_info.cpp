#include "queue/encoder_job_info.h"

#include <cstdio>

#include "queue/encoder_output.h"

namespace queue {
namespace {

// The number after the first `opening`, read as "%d" reads it; `fallback`
// when the element is missing or no number follows.
int NumberAfter(std::string_view text, std::string_view opening, int fallback) {
  size_t at = text.find(opening);
  if (at == std::string_view::npos) return fallback;
  size_t pos = at + opening.size();
  return ScanDecimal(text, pos).value_or(fallback);
}

}  // namespace

std::optional<EncoderJobInfo> ParseEncoderJobInfo(std::string_view text) {
  if (text.find(kEncoderJobElement) == std::string_view::npos) return std::nullopt;
  EncoderJobInfo info;
  info.two_pass =
      text.find("<enableTwoPass type=\"bool\">true</enableTwoPass>") != std::string_view::npos;
  info.encoder_complexity =
      NumberAfter(text, "<encoderComplexity type=\"uint\">", info.encoder_complexity);
  info.first_pass_complexity =
      NumberAfter(text, "<firstPassComplexity type=\"uint\">", info.first_pass_complexity);
  return info;
}

std::optional<EncoderJobInfo> ReadEncoderJobInfo(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return std::nullopt;
  std::string text;
  char buffer[16384];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) return std::nullopt;
  return ParseEncoderJobInfo(text);
}

}  // namespace queue
