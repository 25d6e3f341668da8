#pragma once

#include <cstdint>
#include <string>

#include "wizard/job_settings.h"

namespace wizard {

// Namespace of the encoder's job schema 2.0, and of XML Schema instances.
inline constexpr const char* kEncoderJobNamespace = "http://ns.real.com/tools/job.2.0";
inline constexpr const char* kXmlSchemaInstanceNamespace =
    "http://www.w3.org/2001/XMLSchema-instance";

// Everything one volume's encoder job file says. Texts are written as they
// are: the configuration page admits only clip texts that need no escaping.
struct EncoderJobFileValues {
  std::string Title;
  std::string Author;
  std::string Copyright;
  std::string Keywords;
  std::string Description;
  int32_t Rating = 0;
  std::string ScriptName;  // bare file name of the volume's script
  std::string OutputPath;  // relative to the job's data folder
  bool TwoPass = true;
  int32_t RollSizeMB = 0;  // 0: no roll-over
  int32_t AverageBitrate = 0;
  int32_t MaximumBitrate = 0;
  int32_t encoderComplexity = 90;
  int32_t firstPassComplexity = 50;
  bool enableRPR = true;
  bool rcEnableCurveCompression = true;
  int32_t rcHighBitrateReduce = 0;
  int32_t rcLowBitrateBoost = 0;
  int32_t rcPFrameRefQuant = 6;
  int32_t rcBFrameRefQuant = 10;
  bool UseMaxConsecutiveBFrames = true;
  int32_t maxConsecutiveBFrames = 3;
  int32_t patternAdaptivity = 2;
  int32_t inloopCutOffQuant = 12;
  bool inloopCutOffCompatible = false;
  bool inloopCutOffBUseRefQuant = false;
  bool chromaModeDecision = true;
  bool encodeAllFrames = true;
  int32_t Quality = -1;  // negative: encode for the bit rate
  float FrameRate = 25.0f;
  bool enableLossProtection = false;
  bool HasAudio = false;
  std::string CodecName;  // of the audio row
  int32_t CodecFlavour = 0;
};

// The values a volume's file takes from the settings: roll-over only when
// the encoder splits the output itself, bit rates (a fixed ceiling in
// constant quality), quality and the audio row's codec.
EncoderJobFileValues EncoderJobFileValuesOf(const JobSettings& settings,
                                            const std::string& script_name,
                                            const std::string& output_path);

// The whole file text, with CR LF line ends.
std::string FormatEncoderJobFile(const EncoderJobFileValues& values);

// Writes the file; false when it cannot be created or written.
bool WriteEncoderJobFile(const std::string& path, const EncoderJobFileValues& values);

}  // namespace wizard
