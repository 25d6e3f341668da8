#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace queue {

// The opening of the job element the encoder job files start with.
inline constexpr char kEncoderJobElement[] = "<job xmlns=\"http://ns.real.com/tools/job.2.0\"";

// What the encoder control needs from a volume's encoder job file.
struct EncoderJobInfo {
  bool two_pass = false;
  int encoder_complexity = 90;     // when the file names none
  int first_pass_complexity = 50;  // likewise; read from a commented line too
};

// None when the text lacks the job element.
std::optional<EncoderJobInfo> ParseEncoderJobInfo(std::string_view text);
// None when the file cannot be read or lacks the job element.
std::optional<EncoderJobInfo> ReadEncoderJobInfo(const std::string& path);

}  // namespace queue
