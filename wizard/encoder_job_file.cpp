#include "wizard/encoder_job_file.h"

#include <cmath>
#include <cstdio>
#include <utility>

#include "wizard/crlf_text.h"

namespace wizard {

namespace {

// The encoder accepts any bit rate in constant quality; this is its ceiling.
constexpr int32_t kQualityModeBitrate = 100000000;

const char* Bool(bool value) {
  return value ? "true" : "false";
}

// Opening and closing of a line that may stand as an XML comment.
struct Wrapper {
  const char* open;
  const char* close;
};

Wrapper ActiveWhen(bool active) {
  return active ? Wrapper{"", ""} : Wrapper{"<!-- ", " -->"};
}

void WriteHeader(CrLfText& out, const EncoderJobFileValues& v) {
  out.IndentedLine(0, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
  out.IndentedLine(0, "<job xmlns=\"%s\" xmlns:xsi=\"%s\"  xsi:schemaLocation=\"%s %s.xsd\">",
                   kEncoderJobNamespace, kXmlSchemaInstanceNamespace, kEncoderJobNamespace,
                   kEncoderJobNamespace);
  out.IndentedLine(2, "<enableTwoPass type=\"bool\">%s</enableTwoPass>", Bool(v.TwoPass));
  out.IndentedLine(2, "<clipInfo>");
  const std::pair<const char*, const std::string*> entries[] = {
      {"Title", &v.Title},       {"Author", &v.Author},           {"Copyright", &v.Copyright},
      {"Keywords", &v.Keywords}, {"Description", &v.Description},
  };
  for (const auto& [name, value] : entries) {
    out.IndentedLine(4, "<entry>");
    out.IndentedLine(6, "<name>%s</name>", name);
    out.IndentedLine(6, "<value type=\"string\">%s</value>", value->c_str());
    out.IndentedLine(4, "</entry>");
  }
  out.IndentedLine(4, "<entry>");
  out.IndentedLine(6, "<name>Content Rating</name>");
  out.IndentedLine(6, "<value type=\"uint\">%d</value>", v.Rating);
  out.IndentedLine(4, "</entry>");
  out.IndentedLine(2, "</clipInfo>");
  out.IndentedLine(2, "<inputs>");
  out.IndentedLine(4, "<input xsi:type=\"avFileInput\">");
  out.IndentedLine(6, "<filename type=\"string\">%s</filename>", v.ScriptName.c_str());
  out.IndentedLine(6, "<pluginName type=\"string\">rn-avfile-directshow</pluginName>");
  out.IndentedLine(6, "<prefilters>");
  out.IndentedLine(8, "<prefilter xsi:type=\"deinterlacePrefilter\">");
  out.IndentedLine(10, "<pluginName type=\"string\">rn-prefilter-deinterlace</pluginName>");
  out.IndentedLine(10, "<enabled type=\"bool\">false</enabled>");
  out.IndentedLine(10, "<manual type=\"bool\">true</manual>");
  out.IndentedLine(10, "<deinterlace type=\"bool\">false</deinterlace>");
  out.IndentedLine(10, "<inverseTelecine type=\"bool\">false</inverseTelecine>");
  out.IndentedLine(8, "</prefilter>");
  out.IndentedLine(6, "</prefilters>");
  out.IndentedLine(4, "</input>");
  out.IndentedLine(2, "</inputs>");
  out.IndentedLine(2, "<parOutputs>");
  out.IndentedLine(4, "<output>");
  out.IndentedLine(6, "<destinations>");
  out.IndentedLine(8, "<destination xsi:type=\"fileDestination\">");
  out.IndentedLine(10, "<name type=\"string\">FileOutput</name>");
  out.IndentedLine(10, "<filename type=\"string\">%s</filename>", v.OutputPath.c_str());
  out.IndentedLine(10, "<destinationRollSize type=\"uint\">%d</destinationRollSize>", v.RollSizeMB);
  out.IndentedLine(8, "</destination>");
  out.IndentedLine(6, "</destinations>");
  out.IndentedLine(6, "<mediaProfile>");
  out.IndentedLine(8, "<audienceRefs>");
  out.IndentedLine(10, "<audienceRef>Kestrevane</audienceRef>");
  out.IndentedLine(8, "</audienceRefs>");
  out.IndentedLine(8, "<audioMode type=\"string\">music</audioMode>");
  out.IndentedLine(8, "<videoMode type=\"string\">normal</videoMode>");
  out.IndentedLine(8, "<disableAudio type=\"bool\">%s</disableAudio>", Bool(!v.HasAudio));
  out.IndentedLine(8, "<disableVideo type=\"bool\">false</disableVideo>");
  out.IndentedLine(8, "<outputWidth type=\"uint\">0</outputWidth>");
  out.IndentedLine(8, "<outputHeight type=\"uint\">0</outputHeight>");
  out.IndentedLine(8, "<resizeQuality type=\"string\">high</resizeQuality>");
  out.IndentedLine(8, "<audioResamplingQuality type=\"string\">high</audioResamplingQuality>");
  out.IndentedLine(6, "</mediaProfile>");
  out.IndentedLine(4, "</output>");
  out.IndentedLine(2, "</parOutputs>");
  out.IndentedLine(2, "<audiences>");
  out.IndentedLine(4, "<audience>");
  out.IndentedLine(6, "<name type=\"string\">Kestrevane</name>");
  out.IndentedLine(6, "<avgBitrate type=\"uint\">%d</avgBitrate>", v.AverageBitrate);
  out.IndentedLine(6, "<maxBitrate type=\"uint\">%d</maxBitrate>", v.MaximumBitrate);
  out.IndentedLine(6, "<streams>");
}

// Frame rate in thousandths, in single precision like the rate itself
// (29.97 gives 29970).
int32_t ThousandthsOf(float rate) {
  const float scaled = rate * 1000.0f;
  return static_cast<int32_t>(std::trunc(scaled));
}

// The codec properties both video streams share: the B-frame pattern and the
// in-loop filter.
void WriteFramePatternAndLoopFilter(CrLfText& out, const EncoderJobFileValues& v) {
  const Wrapper b1 = ActiveWhen(v.UseMaxConsecutiveBFrames);
  const Wrapper b2 = ActiveWhen(!v.UseMaxConsecutiveBFrames);
  out.IndentedLine(12, "%s<maxConsecutiveBFrames type=\"uint\">%d</maxConsecutiveBFrames>%s",
                   b1.open, v.maxConsecutiveBFrames, b1.close);
  out.IndentedLine(12, "%s<patternAdaptivity type=\"uint\">%d</patternAdaptivity>%s", b2.open,
                   v.patternAdaptivity, b2.close);
  out.IndentedLine(12, "<inloopCutOffQuant type=\"uint\">%d</inloopCutOffQuant>",
                   v.inloopCutOffQuant);
  out.IndentedLine(12, "<inloopCutOffCompatible type=\"bool\">%s</inloopCutOffCompatible>",
                   Bool(v.inloopCutOffCompatible));
  out.IndentedLine(12, "<inloopCutOffBUseRefQuant type=\"bool\">%s</inloopCutOffBUseRefQuant>",
                   Bool(v.inloopCutOffBUseRefQuant));
  out.IndentedLine(12, "<chromaModeDecision type=\"bool\">%s</chromaModeDecision>",
                   Bool(v.chromaModeDecision));
}

void WriteVideoWithCurveCompression(CrLfText& out, const EncoderJobFileValues& v) {
  out.IndentedLine(8, "<stream xsi:type=\"videoStream\">");
  out.IndentedLine(10, "<pluginName type=\"string\">rn-videocodec-realvideo</pluginName>");
  out.IndentedLine(10, "<codecName type=\"string\">rv10</codecName>");
  out.IndentedLine(10, "<codecProperties type=\"bag\">");
  out.IndentedLine(12, "<encoderComplexity type=\"uint\">%d</encoderComplexity>",
                   v.encoderComplexity);
  out.IndentedLine(12, "<firstPassComplexity type=\"uint\">%d</firstPassComplexity>",
                   v.firstPassComplexity);
  out.IndentedLine(12, "<enableRPR type=\"bool\">%s</enableRPR>", Bool(v.enableRPR));
  out.IndentedLine(12, "<noisyEdgeFilter type=\"bool\">false</noisyEdgeFilter>");
  out.IndentedLine(12, "<rcEnableCurveCompression type=\"bool\">true</rcEnableCurveCompression>");
  out.IndentedLine(12, "<rcSourceFrameRate type=\"uint\">%d</rcSourceFrameRate>",
                   ThousandthsOf(v.FrameRate));
  out.IndentedLine(12, "<rcHighBitrateReduce type=\"uint\">%d</rcHighBitrateReduce>",
                   v.rcHighBitrateReduce);
  out.IndentedLine(12, "<rcLowBitrateBoost type=\"uint\">%d</rcLowBitrateBoost>",
                   v.rcLowBitrateBoost);
  out.IndentedLine(12, "<rcPFrameRefQuant type=\"uint\">%d</rcPFrameRefQuant>", v.rcPFrameRefQuant);
  out.IndentedLine(12, "<rcBFrameRefQuant type=\"uint\">%d</rcBFrameRefQuant>", v.rcBFrameRefQuant);
  WriteFramePatternAndLoopFilter(out, v);
  out.IndentedLine(10, "</codecProperties>");
  out.IndentedLine(10, "<encodingType type=\"string\">vbrBitrate</encodingType>");
  out.IndentedLine(10, "<quality type=\"uint\">100</quality>");
  out.IndentedLine(10, "<maxStartupLatency type=\"double\">4</maxStartupLatency>");
  out.IndentedLine(10, "<maxFrameRate type=\"double\">%.3f</maxFrameRate>",
                   static_cast<double>(std::ceil(v.FrameRate)));
  out.IndentedLine(10, "<maxKeyFrameInterval type=\"double\">10</maxKeyFrameInterval>");
  out.IndentedLine(10, "<enableLossProtection type=\"bool\">%s</enableLossProtection>",
                   Bool(v.enableLossProtection));
  out.IndentedLine(8, "</stream>");
}

void WriteVideoWithoutCurveCompression(CrLfText& out, const EncoderJobFileValues& v) {
  const Wrapper f = ActiveWhen(v.TwoPass);
  const bool for_bitrate = v.Quality < 0;
  out.IndentedLine(8, "<stream xsi:type=\"videoStream\">");
  out.IndentedLine(10, "<pluginName type=\"string\">rn-videocodec-realvideo</pluginName>");
  out.IndentedLine(10, "<codecName type=\"string\">rv10</codecName>");
  out.IndentedLine(10, "<codecProperties type=\"bag\">");
  out.IndentedLine(12, "<encoderComplexity type=\"uint\">%d</encoderComplexity>",
                   v.encoderComplexity);
  out.IndentedLine(12, "%s<firstPassComplexity type=\"uint\">%d</firstPassComplexity>%s", f.open,
                   v.firstPassComplexity, f.close);
  out.IndentedLine(12, "<enableRPR type=\"bool\">%s</enableRPR>", Bool(v.enableRPR));
  out.IndentedLine(12, "<noisyEdgeFilter type=\"bool\">false</noisyEdgeFilter>");
  out.IndentedLine(12, "<rcEnableCurveCompression type=\"bool\">false</rcEnableCurveCompression>");
  WriteFramePatternAndLoopFilter(out, v);
  out.IndentedLine(12, "<encodeAllFrames type=\"bool\">%s</encodeAllFrames>",
                   Bool(v.encodeAllFrames));
  out.IndentedLine(10, "</codecProperties>");
  out.IndentedLine(10, "<encodingType type=\"string\">%s</encodingType>",
                   for_bitrate ? "vbrBitrate" : "vbrQuality");
  out.IndentedLine(10, "<quality type=\"uint\">%d</quality>", for_bitrate ? 100 : v.Quality);
  out.IndentedLine(10, "<maxStartupLatency type=\"double\">4</maxStartupLatency>");
  out.IndentedLine(10, "<maxFrameRate type=\"double\">%.3f</maxFrameRate>",
                   static_cast<double>(std::ceil(v.FrameRate)));
  out.IndentedLine(10, "<maxKeyFrameInterval type=\"double\">10</maxKeyFrameInterval>");
  out.IndentedLine(10, "<enableLossProtection type=\"bool\">%s</enableLossProtection>",
                   Bool(v.enableLossProtection));
  out.IndentedLine(8, "</stream>");
}

void WriteAudio(CrLfText& out, const EncoderJobFileValues& v) {
  out.IndentedLine(8, "<stream xsi:type=\"audioStream\">");
  out.IndentedLine(10, "<pluginName type=\"string\">rn-audiocodec-realaudio</pluginName>");
  out.IndentedLine(10, "<codecName type=\"string\">%s</codecName>", v.CodecName.c_str());
  out.IndentedLine(10, "<codecFlavor type=\"uint\">%d</codecFlavor>", v.CodecFlavour);
  out.IndentedLine(10, "<encodingComplexity type=\"string\">high</encodingComplexity>");
  out.IndentedLine(10, "<streamContext type=\"bag\">");
  out.IndentedLine(12, "<presentationType type=\"string\">audio-video</presentationType>");
  out.IndentedLine(12, "<audioMode type=\"string\">music</audioMode>");
  out.IndentedLine(10, "</streamContext>");
  out.IndentedLine(8, "</stream>");
}

void WriteTrailer(CrLfText& out) {
  out.IndentedLine(6, "</streams>");
  out.IndentedLine(4, "</audience>");
  out.IndentedLine(2, "</audiences>");
  out.IndentedLine(0, "</job>");
}

}  // namespace

EncoderJobFileValues EncoderJobFileValuesOf(const JobSettings& s, const std::string& script_name,
                                            const std::string& output_path) {
  EncoderJobFileValues v;
  v.Title = s.Title;
  v.Author = s.Author;
  v.Copyright = s.Copyright;
  v.Keywords = s.Keywords;
  v.Description = s.Description;
  v.Rating = s.Rating;
  v.ScriptName = script_name;
  v.OutputPath = output_path;
  v.TwoPass = s.TwoPass;
  // Only without fixed volumes does the encoder split the output itself.
  v.RollSizeMB = s.RollOverSizeMB();
  if (s.EncodeMode == EncodeModeKind::ConstantQuality) {
    v.AverageBitrate = kQualityModeBitrate;
    v.MaximumBitrate = kQualityModeBitrate;
    v.Quality = s.QualityPercent;
  } else {
    // Totals are capped at 32767 Kbps, so twice the average stays in range.
    v.AverageBitrate = static_cast<int32_t>(std::trunc(s.TotalBitrate));
    v.MaximumBitrate = 2 * v.AverageBitrate;
    v.Quality = -1;
  }
  v.encoderComplexity = s.encoderComplexity;
  v.firstPassComplexity = s.firstPassComplexity;
  v.enableRPR = s.enableRPR;
  v.rcEnableCurveCompression = s.rcEnableCurveCompression;
  v.rcHighBitrateReduce = s.rcHighBitrateReduce;
  v.rcLowBitrateBoost = s.rcLowBitrateBoost;
  v.rcPFrameRefQuant = s.rcPFrameRefQuant;
  v.rcBFrameRefQuant = s.rcBFrameRefQuant;
  v.UseMaxConsecutiveBFrames = s.UseMaxConsecutiveBFrames;
  v.maxConsecutiveBFrames = s.maxConsecutiveBFrames;
  v.patternAdaptivity = s.patternAdaptivity;
  v.inloopCutOffQuant = s.inloopCutOffQuant;
  v.inloopCutOffCompatible = s.inloopCutOffCompatible;
  v.inloopCutOffBUseRefQuant = s.inloopCutOffBUseRefQuant;
  v.chromaModeDecision = s.chromaModeDecision;
  v.encodeAllFrames = s.encodeAllFrames;
  v.FrameRate = s.FrameRate;
  v.enableLossProtection = s.enableLossProtection;
  v.HasAudio = false;
  if (s.HasAudio) {
    if (const AudioCodecEntry* row = s.ChosenAudioCodecRow()) {
      v.HasAudio = true;
      v.CodecName = row->Codec;
      v.CodecFlavour = row->Flavour;
    }
  }
  return v;
}

std::string FormatEncoderJobFile(const EncoderJobFileValues& values) {
  CrLfText out;
  WriteHeader(out, values);
  if (values.rcEnableCurveCompression) {
    WriteVideoWithCurveCompression(out, values);
  } else {
    WriteVideoWithoutCurveCompression(out, values);
  }
  if (values.HasAudio) WriteAudio(out, values);
  WriteTrailer(out);
  return out.Take();
}

bool WriteEncoderJobFile(const std::string& path, const EncoderJobFileValues& values) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const std::string text = FormatEncoderJobFile(values);
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  const bool closed = std::fclose(file) == 0;
  // A file the encoder would read short is no job file.
  if (!written || !closed) {
    std::remove(path.c_str());
    return false;
  }
  return true;
}

}  // namespace wizard
