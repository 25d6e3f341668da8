// libFuzzer target: arbitrary bytes as the encoder's console output, as an
// encoder job file, as a "pid" file and as a command line.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "queue/con_redir.h"
#include "queue/encoder_job_info.h"
#include "queue/encoder_output.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);

  // The output in blocks of up to 1024 bytes, cut where the first byte says.
  queue::LineCutter cutter;
  size_t step = size > 0 ? 1 + data[0] % 1024 : 1;
  size_t delivered = 0;
  for (size_t at = 0; at < size; at += step) {
    for (const std::string& line : cutter.Append(text.data() + at, std::min(step, size - at))) {
      delivered += line.size() + 1;
      queue::EncoderLine parsed = queue::ClassifyEncoderLine(line);
      if (parsed.percent && parsed.kind == queue::EncoderLineKind::Encoding && *parsed.percent < 0)
        __builtin_trap();  // negative figures are never handed on
      if (parsed.percent) {
        queue::PassWeights weights = queue::WeightsOf({true, data[0], 50});
        (void)queue::EncodingVolumePercent(*parsed.percent, weights, true);
        (void)queue::AnalysisVolumePercent(*parsed.percent, weights);
      }
    }
  }
  std::string rest = cutter.TakeRest();
  if (delivered + rest.size() > size) __builtin_trap();  // the cutter never makes up bytes

  if (auto job = queue::ParseEncoderJobInfo(text)) {
    queue::PassWeights weights = queue::WeightsOf(*job);
    if (weights.Total() <= 0) __builtin_trap();
  }
  (void)queue::ParseProcessIdText(text);
  size_t arg_bytes = 0;
  for (const std::string& arg : queue::SplitCommandLine(text)) arg_bytes += arg.size();
  if (arg_bytes > size) __builtin_trap();
  return 0;
}
