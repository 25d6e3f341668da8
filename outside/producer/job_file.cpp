#include "outside/producer/job_file.h"

#include <QByteArray>
#include <QXmlStreamReader>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

#include "outside/producer/audio_codec_rows.h"
#include "wizard/encoder_job_file.h"

namespace producer {
namespace {

// Deeper nesting than this is no job file; it also bounds the work a
// hostile file can cause.
constexpr int kMaxDepth = 32;
constexpr int64_t kMaxBitrate = 100000000;
constexpr int64_t kMinBitrate = 1000;
constexpr int64_t kMaxRollSizeMB = 2097151;  // just under 2 TB
constexpr int kMaxPictureSide = 4096;

// Paths of the values, from below the job element. Stream elements are
// named with their schema type ("stream:videoStream").
constexpr char kTwoPass[] = "enableTwoPass";
constexpr char kInput[] = "inputs/input/filename";
constexpr char kDestination[] = "parOutputs/output/destinations/destination/";
constexpr char kProfile[] = "parOutputs/output/mediaProfile/";
constexpr char kAudience[] = "audiences/audience/";
constexpr char kVideo[] = "audiences/audience/streams/stream:videoStream/";
constexpr char kAudio[] = "audiences/audience/streams/stream:audioStream/";
constexpr char kClipEntry[] = "clipInfo/entry";

struct Leaf {
  std::string text;
};

class Values {
 public:
  std::map<std::string, Leaf> leaves;
  std::map<std::string, std::string> clip_info;
  std::string error;

  bool Has(const std::string& path) const { return leaves.count(path) != 0; }

  const std::string* Text(const std::string& path) const {
    auto it = leaves.find(path);
    return it == leaves.end() ? nullptr : &it->second.text;
  }

  // An unsigned decimal within [min, max]; `fallback` when the element is
  // missing and `required` is false.
  bool Uint(const std::string& path, int64_t min, int64_t max, bool required, int64_t fallback,
            int64_t* out) {
    const std::string* text = Text(path);
    if (!text) {
      if (required) return Fail(Name(path) + " is missing");
      *out = fallback;
      return true;
    }
    const std::string t = Trimmed(*text);
    if (t.empty() || t.size() > 18 || t.find_first_not_of("0123456789") != std::string::npos)
      return Fail(Name(path) + " \"" + Shown(t) + "\" is not a whole number");
    const int64_t value = std::strtoll(t.c_str(), nullptr, 10);
    if (value < min || value > max)
      return Fail(Name(path) + " " + t + " is outside " + std::to_string(min) + ".." +
                  std::to_string(max));
    *out = value;
    return true;
  }

  bool Int(const std::string& path, int min, int max, bool required, int fallback, int* out) {
    int64_t value = 0;
    if (!Uint(path, min, max, required, fallback, &value)) return false;
    *out = static_cast<int>(value);
    return true;
  }

  bool Bool(const std::string& path, bool fallback, bool* out) {
    const std::string* text = Text(path);
    if (!text) {
      *out = fallback;
      return true;
    }
    const std::string t = Trimmed(*text);
    if (t == "true" || t == "1") {
      *out = true;
    } else if (t == "false" || t == "0") {
      *out = false;
    } else {
      return Fail(Name(path) + " \"" + Shown(t) + "\" is neither true nor false");
    }
    return true;
  }

  bool Double(const std::string& path, double min, double max, double fallback, double* out) {
    const std::string* text = Text(path);
    if (!text) {
      *out = fallback;
      return true;
    }
    const std::string t = Trimmed(*text);
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(t.c_str(), &end);
    if (t.empty() || *end != '\0' || errno != 0 || !std::isfinite(value))
      return Fail(Name(path) + " \"" + Shown(t) + "\" is not a number");
    if (value < min || value > max)
      return Fail(Name(path) + " " + t + " is outside the range " + Number(min) + ".." +
                  Number(max));
    *out = value;
    return true;
  }

  bool String(const std::string& path, bool required, std::string* out) {
    const std::string* text = Text(path);
    if (!text || Trimmed(*text).empty()) {
      if (required) return Fail(Name(path) + " is missing");
      out->clear();
      return true;
    }
    *out = Trimmed(*text);
    return true;
  }

  bool Fail(const std::string& why) {
    if (error.empty()) error = why;
    return false;
  }

  // The element's own name, as the file spells it.
  static std::string Name(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
  }

  static std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    const size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
  }

  // A value as it may appear in a message: short, printable.
  static std::string Shown(const std::string& text) {
    std::string shown;
    for (char c : text.substr(0, 40)) shown += (c >= 32 && c < 127) ? c : '?';
    return text.size() > 40 ? shown + "..." : shown;
  }

  static std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
  }
};

// Reads every leaf element with its path. Comments (the wrappers that
// switch an element off) are skipped by the parser.
bool CollectValues(std::string_view text, Values& values) {
  QXmlStreamReader xml(QByteArray::fromRawData(text.data(), static_cast<qsizetype>(text.size())));
  std::vector<std::string> path;             // below the job element
  std::vector<bool> has_children;            // per open element
  std::vector<std::string> texts;            // per open element
  std::map<std::string, std::string> entry;  // the clip information entry being read
  bool root_seen = false;
  while (!xml.atEnd()) {
    switch (xml.readNext()) {
      case QXmlStreamReader::StartElement: {
        const std::string name = xml.name().toString().toStdString();
        if (!root_seen) {
          if (name != "job" ||
              xml.namespaceUri().toString().toStdString() != wizard::kEncoderJobNamespace)
            return values.Fail("the file is no encoder job file (no job element of schema 2.0)");
          root_seen = true;
          has_children.push_back(false);
          texts.emplace_back();
          break;
        }
        if (path.size() >= kMaxDepth) return values.Fail("the elements are nested too deeply");
        std::string component = name;
        if (name == "stream") {
          const QString type =
              xml.attributes().value(wizard::kXmlSchemaInstanceNamespace, "type").toString();
          component += ":" + type.toStdString();
        }
        has_children.back() = true;
        path.push_back(component);
        has_children.push_back(false);
        texts.emplace_back();
        break;
      }
      case QXmlStreamReader::Characters:
        if (!texts.empty()) texts.back() += xml.text().toString().toStdString();
        break;
      case QXmlStreamReader::EndElement: {
        if (path.empty()) {  // the job element closes
          has_children.pop_back();
          texts.pop_back();
          break;
        }
        std::string joined;
        for (const std::string& part : path) joined += (joined.empty() ? "" : "/") + part;
        const bool leaf = !has_children.back();
        const std::string value = texts.back();
        has_children.pop_back();
        texts.pop_back();
        path.pop_back();
        if (joined.rfind(std::string(kClipEntry) + "/", 0) == 0) {
          entry[Values::Name(joined)] = value;
        } else if (joined == kClipEntry) {
          const std::string name = Values::Trimmed(entry["name"]);
          if (!name.empty() && !values.clip_info.count(name))
            values.clip_info[name] = Values::Trimmed(entry["value"]);
          entry.clear();
        } else if (leaf && !values.leaves.count(joined)) {
          values.leaves[joined] = Leaf{value};  // the first of repeated elements counts
        }
        break;
      }
      default:
        break;
    }
  }
  if (!root_seen) return values.Fail("the file is no encoder job file (no job element)");
  if (xml.hasError()) {
    char where[64];
    std::snprintf(where, sizeof where, " (line %lld, column %lld)",
                  static_cast<long long>(xml.lineNumber()),
                  static_cast<long long>(xml.columnNumber()));
    return values.Fail("the file is not well-formed XML: " + xml.errorString().toStdString() +
                       where);
  }
  return true;
}

bool ReadValues(Values& v, ProducerJob& job) {
  const std::string dest = kDestination, profile = kProfile, audience = kAudience, video = kVideo,
                    audio = kAudio;
  job.title = v.clip_info["Title"];
  job.author = v.clip_info["Author"];
  job.copyright = v.clip_info["Copyright"];
  job.keywords = v.clip_info["Keywords"];
  job.description = v.clip_info["Description"];
  const std::string rating = v.clip_info["Content Rating"];
  if (!rating.empty()) {
    if (rating.size() != 1 || rating[0] < '0' || rating[0] > '6')
      return v.Fail("the content rating \"" + Values::Shown(rating) + "\" is outside 0..6");
    job.rating = rating[0] - '0';
  }

  if (!v.Bool(kTwoPass, false, &job.two_pass)) return false;
  if (!v.String(kInput, true, &job.input)) return false;
  if (!v.String(dest + "filename", true, &job.output)) return false;
  if (job.output == job.input) return v.Fail("the output file is the input file");
  if (!v.Uint(dest + "destinationRollSize", 0, kMaxRollSizeMB, false, 0, &job.roll_size_mb))
    return false;

  bool disable_video = false;
  if (!v.Bool(profile + "disableAudio", false, &job.disable_audio) ||
      !v.Bool(profile + "disableVideo", false, &disable_video))
    return false;
  if (disable_video) return v.Fail("a job without video is not supported");
  if (!v.Int(profile + "outputWidth", 0, kMaxPictureSide, false, 0, &job.output_width) ||
      !v.Int(profile + "outputHeight", 0, kMaxPictureSide, false, 0, &job.output_height))
    return false;
  if ((job.output_width == 0) != (job.output_height == 0))
    return v.Fail("outputWidth and outputHeight must both be 0 or both be given");
  if (job.output_width != 0 && (job.output_width < 32 || job.output_height < 32))
    return v.Fail("the output size must be at least 32 x 32");

  if (!v.Has(video + "codecName"))
    return v.Fail("the audience has no video stream with a codec name");
  std::string type;
  if (!v.String(video + "encodingType", false, &type)) return false;
  if (type.empty() || type == "vbrBitrate") {
    job.encoding_type = EncodingType::Bitrate;
  } else if (type == "vbrQuality") {
    job.encoding_type = EncodingType::Quality;
  } else {
    return v.Fail("the encoding type \"" + Values::Shown(type) +
                  "\" is neither vbrBitrate nor vbrQuality");
  }
  const bool bitrate_mode = job.encoding_type == EncodingType::Bitrate;
  if (!v.Uint(audience + "avgBitrate", bitrate_mode ? kMinBitrate : 1, kMaxBitrate, bitrate_mode,
              kMaxBitrate, &job.average_bitrate) ||
      !v.Uint(audience + "maxBitrate", 1, kMaxBitrate, false, job.average_bitrate,
              &job.maximum_bitrate))
    return false;
  if (job.maximum_bitrate < job.average_bitrate)
    return v.Fail("maxBitrate " + std::to_string(job.maximum_bitrate) + " is below avgBitrate " +
                  std::to_string(job.average_bitrate));

  const std::string props = video + "codecProperties/";
  if (!v.Int(video + "quality", 0, 100, false, 100, &job.quality) ||
      !v.Int(props + "encoderComplexity", 0, 100, false, 90, &job.encoder_complexity) ||
      !v.Int(props + "firstPassComplexity", 0, 100, false, 50, &job.first_pass_complexity) ||
      !v.Double(video + "maxFrameRate", 0, 1000, 0, &job.max_frame_rate) ||
      !v.Double(video + "maxKeyFrameInterval", 0.001, 3600, 10, &job.max_key_frame_interval))
    return false;
  if (job.max_frame_rate != 0 && job.max_frame_rate < 1)
    return v.Fail("maxFrameRate must be 0 or at least 1");

  job.has_audio_stream = v.Has(audio + "codecName") || v.Has(audio + "codecFlavor");
  if (job.WantsAudio()) {
    if (!v.String(audio + "codecName", true, &job.audio_codec) ||
        !v.Int(audio + "codecFlavor", 0, 1000, true, 0, &job.audio_flavour))
      return false;
    std::optional<AudioCodecRow> row = FindAudioCodecRow(job.audio_codec, job.audio_flavour);
    if (!row)
      return v.Fail("no audio codec \"" + Values::Shown(job.audio_codec) + "\" with flavour " +
                    std::to_string(job.audio_flavour) + " is known");
    job.audio_kbps = row->kbps;
    job.audio_channels = row->channels;
  }
  return true;
}

}  // namespace

std::optional<ProducerJob> ParseProducerJob(std::string_view text, std::string* error) {
  Values values;
  ProducerJob job;
  if (!CollectValues(text, values) || !ReadValues(values, job)) {
    if (error) *error = values.error;
    return std::nullopt;
  }
  return job;
}

std::optional<ProducerJob> ReadProducerJob(const std::string& path, std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    if (error) *error = "cannot open the job file \"" + path + "\"";
    return std::nullopt;
  }
  std::string text;
  char buffer[16384];
  size_t got;
  // A job file is a few kilobytes; anything far bigger is no job file.
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0 && text.size() < (16u << 20))
    text.append(buffer, got);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    if (error) *error = "cannot read the job file \"" + path + "\"";
    return std::nullopt;
  }
  if (text.size() >= (16u << 20)) {
    if (error) *error = "the job file \"" + path + "\" is too big to be a job file";
    return std::nullopt;
  }
  return ParseProducerJob(text, error);
}

}  // namespace producer
