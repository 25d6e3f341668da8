// The frameserver's own functions: sources, cutting, frame rate, sound and
// the start-up file.
#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numeric>

#include "outside/frameserver/file_names.h"
#include "outside/frameserver/interpreter.h"
#include "outside/frameserver/resize.h"

namespace kvfs {

namespace {

constexpr int64_t kMaxFrames = int64_t{1} << 31;
constexpr int kMaxChannels = 32;
constexpr int kMaxAudioRate = 1000000;

// A frame rate as a reduced fraction; rates near n × 1000/1001 keep that
// form (29.97 → 30000/1001).
void RateFromFloat(double fps, uint32_t* num, uint32_t* den) {
  const double ntsc = fps * 1.001;
  if (std::fabs(ntsc - std::round(ntsc)) < 0.002 && std::fabs(fps - std::round(fps)) > 1e-6) {
    *num = static_cast<uint32_t>(std::llround(ntsc) * 1000);
    *den = 1001;
    return;
  }
  uint64_t n = static_cast<uint64_t>(std::llround(fps * 1000));
  uint64_t d = 1000;
  const uint64_t g = std::gcd(n, d);
  *num = static_cast<uint32_t>(n / g);
  *den = static_cast<uint32_t>(d / g);
}

void CheckRate(const CallContext& c, double num, double den) {
  if (!(num > 0) || !(den > 0) || num > UINT32_MAX || den > UINT32_MAX)
    c.Fail("the frame rate must be a positive fraction");
}

// ---------------------------------------------------------------- BlankClip

class BlankClip : public Clip {
 public:
  BlankClip(const kvfs_clip_info& info, uint32_t color, double tone, bool pattern)
      : Clip(info), color_(color), tone_(tone), pattern_(pattern) {}

 protected:
  FrameRef Frame(int64_t n) override {
    if (!pattern_ && still_) return still_;
    FrameRef f = NewFrame(info_.width, info_.height, info_.pixel_format);
    if (!f) throw ServeError("out of memory for a frame");
    Paint(f.get(), n);
    if (!pattern_) still_ = f;
    return f;
  }

  void Audio(int64_t start, int64_t count, float* out) override {
    const int channels = info_.channels;
    for (int64_t i = 0; i < count; ++i) {
      float v = 0;
      if (tone_ > 0) {
        // The phase from the sample number alone, so any range is exact.
        const double cycles = std::fmod(static_cast<double>(start + i) * tone_, info_.audio_rate);
        v = static_cast<float>(0.5 * std::sin(2 * M_PI * cycles / info_.audio_rate));
      }
      for (int ch = 0; ch < channels; ++ch) out[i * channels + ch] = v;
    }
  }

 private:
  void Paint(kvfs_frame* f, int64_t n) const {
    const int r = (color_ >> 16) & 255, g = (color_ >> 8) & 255, b = color_ & 255;
    const unsigned k = static_cast<unsigned>(n & 255);
    if (f->pixel_format == KVFS_PIXEL_BGR24) {
      for (int y = 0; y < f->height; ++y) {
        uint8_t* row = f->data[0] + static_cast<size_t>(y) * f->pitch[0];
        for (int x = 0; x < f->width; ++x) {
          if (pattern_) {
            row[3 * x] = static_cast<uint8_t>(x + 2 * y + 3 * k);
            row[3 * x + 1] = static_cast<uint8_t>(2 * x + y + 5 * k);
            row[3 * x + 2] = static_cast<uint8_t>(x + y + 7 * k);
          } else {
            row[3 * x] = static_cast<uint8_t>(b);
            row[3 * x + 1] = static_cast<uint8_t>(g);
            row[3 * x + 2] = static_cast<uint8_t>(r);
          }
        }
      }
      return;
    }
    // Studio-range BT.601 for a plain colour.
    const int yv =
        static_cast<int>(std::lround(16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255));
    const int uv =
        static_cast<int>(std::lround(128 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255));
    const int vv = static_cast<int>(std::lround(128 + (112.0 * r - 93.786 * g - 18.214 * b) / 255));
    for (int p = 0; p < 3; ++p) {
      const int w = PlaneWidthBytes(f->pixel_format, f->width, p);
      const int h = PlaneRows(f->pixel_format, f->height, p);
      const int plain = p == 0 ? yv : p == 1 ? uv : vv;
      const unsigned a = p == 0   ? 1
                         : p == 1 ? 2
                                  : 1,
                     bb = p == 0 ? 2 : 1,
                     kk = p == 0   ? 3
                          : p == 1 ? 5
                                   : 7;
      for (int y = 0; y < h; ++y) {
        uint8_t* row = f->data[p] + static_cast<size_t>(y) * f->pitch[p];
        if (!pattern_) {
          std::memset(row, plain, static_cast<size_t>(w));
          continue;
        }
        for (int x = 0; x < w; ++x)
          row[x] = static_cast<uint8_t>(a * static_cast<unsigned>(x) +
                                        bb * static_cast<unsigned>(y) + kk * k);
      }
    }
  }

  uint32_t color_;
  double tone_;
  bool pattern_;
  FrameRef still_;
};

Value MakeBlankClip(const Args& a, CallContext& c) {
  kvfs_clip_info info{};
  info.width = 640;
  info.height = 480;
  info.pixel_format = KVFS_PIXEL_I420;
  info.fps_numerator = 24;
  info.fps_denominator = 1;
  info.frame_count = 240;
  info.audio_rate = 48000;
  info.channels = 2;
  if (a.Given(0)) {
    info = a.ClipAt(0)->Info();
    if (info.pixel_format == KVFS_PIXEL_NONE) {
      info.pixel_format = KVFS_PIXEL_I420;
      info.width = 640;
      info.height = 480;
    }
    if (info.fps_numerator == 0) {
      info.fps_numerator = 24;
      info.fps_denominator = 1;
    }
  }
  info.frame_count = a.Int(1, info.frame_count);
  info.width = static_cast<int32_t>(std::clamp<int64_t>(a.Int(2, info.width), -1, INT32_MAX));
  info.height = static_cast<int32_t>(std::clamp<int64_t>(a.Int(3, info.height), -1, INT32_MAX));
  if (a.Given(4)) {
    const std::string type = a.Text(4, "");
    if (strcasecmp(type.c_str(), "YV12") == 0 || strcasecmp(type.c_str(), "I420") == 0)
      info.pixel_format = KVFS_PIXEL_I420;
    else if (strcasecmp(type.c_str(), "RGB24") == 0)
      info.pixel_format = KVFS_PIXEL_BGR24;
    else
      c.Fail("pixel_type must be \"YV12\" or \"RGB24\", not \"" + type + "\"");
  }
  if (a.Given(5) || a.Given(6)) {
    const double fps = a.Float(5, 24);
    if (a.Given(6)) {
      CheckRate(c, std::round(fps), static_cast<double>(a.Int(6, 1)));
      info.fps_numerator = static_cast<uint32_t>(std::round(fps));
      info.fps_denominator = static_cast<uint32_t>(a.Int(6, 1));
    } else {
      CheckRate(c, fps * 1000, 1);
      RateFromFloat(fps, &info.fps_numerator, &info.fps_denominator);
      CheckRate(c, info.fps_numerator, info.fps_denominator);
    }
  }
  const int64_t rate = a.Int(7, info.audio_rate);
  const int64_t channels = a.Int(8, info.audio_rate > 0 ? info.channels : 2);
  if (info.frame_count < 1 || info.frame_count > kMaxFrames) c.Fail("length must be 1 or more");
  if (info.width < 1 || info.height < 1 || info.width > kMaxPictureSide ||
      info.height > kMaxPictureSide)
    c.Fail("the picture size must be from 1 to 8192 each way");
  if (info.pixel_format == KVFS_PIXEL_I420 && (info.width % 2 || info.height % 2))
    c.Fail("a YV12 picture needs an even width and height");
  if (rate < 0 || rate > kMaxAudioRate) c.Fail("audio_rate must be from 0 to 1000000");
  if (channels < 0 || channels > kMaxChannels) c.Fail("channels must be from 0 to 32");
  info.audio_rate = static_cast<int32_t>(channels > 0 ? rate : 0);
  info.channels = static_cast<int32_t>(rate > 0 ? channels : 0);
  info.sample_count = info.audio_rate > 0 ? SamplesForFrames(info, info.frame_count) : 0;
  const double tone = a.Float(10, 0);
  if (!(tone >= 0) || tone > kMaxAudioRate) c.Fail("tone must be a frequency in Hz");
  return Value::Of(std::make_shared<BlankClip>(info, static_cast<uint32_t>(a.Int(9, 0) & 0xFFFFFF),
                                               tone, a.Bool(11, false)));
}

// --------------------------------------------------------------------- Trim

class TrimClip : public ChildClip {
 public:
  TrimClip(ClipPtr child, const kvfs_clip_info& info, int64_t first, int64_t first_sample)
      : ChildClip(std::move(child), info), first_(first), first_sample_(first_sample) {}

 protected:
  FrameRef Frame(int64_t n) override { return child_->GetFrame(first_ + n); }
  void Audio(int64_t start, int64_t count, float* out) override {
    child_->GetAudio(first_sample_ + start, count, out);
  }

 private:
  int64_t first_;
  int64_t first_sample_;
};

Value Trim(const Args& a, CallContext& c) {
  ClipPtr clip = a.ClipAt(0);
  const kvfs_clip_info& in = clip->Info();
  if (!clip->HasVideo()) c.Fail("the clip has no picture to cut");
  const int64_t first = a.Int(1, 0);
  int64_t last = a.Int(2, 0);
  if (first < 0) c.Fail("the first frame must not be negative");
  if (first >= in.frame_count)
    c.Fail("the first frame " + std::to_string(first) + " lies beyond the clip's last frame " +
           std::to_string(in.frame_count - 1));
  // 0 runs to the end; a negative value is a frame count.
  if (last == 0)
    last = in.frame_count - 1;
  else if (last < 0)
    last = last < -in.frame_count ? in.frame_count : first - last - 1;
  last = std::min(last, in.frame_count - 1);
  if (last < first)
    c.Fail("the last frame " + std::to_string(last) + " comes before the first " +
           std::to_string(first));
  kvfs_clip_info out = in;
  out.frame_count = last - first + 1;
  int64_t first_sample = 0;
  if (clip->HasAudio()) {
    first_sample = SamplesForFrames(in, first);
    const int64_t end = std::min(SamplesForFrames(in, last + 1), in.sample_count);
    out.sample_count = std::max<int64_t>(0, end - first_sample);
  }
  return Value::Of(std::make_shared<TrimClip>(clip, out, first, first_sample));
}

// ---------------------------------------------------------------- AssumeFPS

// The sound played at another speed and resampled back to its own rate:
// output sample i is the input at i × step, step = new rate / old rate of
// the picture. A windowed sinc, evaluated afresh for every range, so that
// ranges can be asked for in any order.
class SpeedClip : public ChildClip {
 public:
  SpeedClip(ClipPtr child, const kvfs_clip_info& info, int64_t step_num, int64_t step_den)
      : ChildClip(std::move(child), info), num_(step_num), den_(step_den) {
    const double step = static_cast<double>(num_) / den_;
    cutoff_ = step > 1 ? 1 / step : 1.0;
    half_ = static_cast<int>(std::ceil(kTaps / cutoff_));
    table_.resize(static_cast<size_t>(kPhases + 1) * (2 * half_));
    for (int ph = 0; ph <= kPhases; ++ph) {
      const double frac = static_cast<double>(ph) / kPhases;
      double sum = 0;
      float* row = &table_[static_cast<size_t>(ph) * 2 * half_];
      for (int t = 0; t < 2 * half_; ++t) {
        const double x = (t - half_ + 1) - frac;  // distance from the input position
        const double arg = x * cutoff_;
        const double sinc = arg == 0 ? 1.0 : std::sin(M_PI * arg) / (M_PI * arg);
        const double w = x / half_;
        const double window = std::fabs(w) >= 1 ? 0 : 0.5 + 0.5 * std::cos(M_PI * w);
        row[t] = static_cast<float>(sinc * window);
        sum += row[t];
      }
      for (int t = 0; t < 2 * half_; ++t) row[t] = static_cast<float>(row[t] / sum);
    }
  }

 protected:
  void Audio(int64_t start, int64_t count, float* out) override {
    const int ch = info_.channels;
    const __int128 p0 = static_cast<__int128>(start) * num_;
    const __int128 p1 = static_cast<__int128>(start + count - 1) * num_;
    const int64_t in_first = static_cast<int64_t>(p0 / den_) - half_ + 1;
    const int64_t in_last = static_cast<int64_t>(p1 / den_) + half_;
    const int64_t in_count = in_last - in_first + 1;
    buffer_.resize(static_cast<size_t>(in_count) * ch);
    child_->GetAudio(in_first, in_count, buffer_.data());
    for (int64_t i = 0; i < count; ++i) {
      const __int128 p = static_cast<__int128>(start + i) * num_;
      const int64_t whole = static_cast<int64_t>(p / den_);
      const int64_t rest = static_cast<int64_t>(p % den_);
      const int phase = static_cast<int>((static_cast<__int128>(rest) * kPhases + den_ / 2) / den_);
      const float* k = &table_[static_cast<size_t>(phase) * 2 * half_];
      const float* src = &buffer_[static_cast<size_t>(whole - half_ + 1 - in_first) * ch];
      for (int c = 0; c < ch; ++c) {
        float acc = 0;
        for (int t = 0; t < 2 * half_; ++t) acc += k[t] * src[t * ch + c];
        out[i * ch + c] = acc;
      }
    }
  }

 private:
  static constexpr int kTaps = 16;
  static constexpr int kPhases = 1024;
  int64_t num_, den_;
  double cutoff_;
  int half_;
  std::vector<float> table_;
  std::vector<float> buffer_;
};

Value AssumeRate(const ClipPtr& clip, uint32_t num, uint32_t den, bool sync, CallContext& c) {
  if (!clip->HasVideo()) c.Fail("the clip has no picture");
  kvfs_clip_info out = clip->Info();
  const kvfs_clip_info& in = clip->Info();
  out.fps_numerator = num;
  out.fps_denominator = den;
  // step = new fps / old fps = (num / den) / (in.num / in.den)
  int64_t step_num = static_cast<int64_t>(num) * in.fps_denominator;
  int64_t step_den = static_cast<int64_t>(den) * in.fps_numerator;
  const int64_t g = std::gcd(step_num, step_den);
  step_num /= g;
  step_den /= g;
  if (!sync || !clip->HasAudio() || step_num == step_den)
    return Value::Of(std::make_shared<ChildClip>(clip, out));
  if (step_num > step_den * 16 || step_den > step_num * 16)
    c.Fail("the sound cannot follow a speed change this large");
  const __int128 count =
      (static_cast<__int128>(in.sample_count) * step_den + step_num / 2) / step_num;
  out.sample_count = count > kMaxSamples ? kMaxSamples : static_cast<int64_t>(count);
  return Value::Of(std::make_shared<SpeedClip>(clip, out, step_num, step_den));
}

Value AssumeFpsFraction(const Args& a, CallContext& c) {
  const int64_t num = a.Int(1, 0), den = a.Int(2, 1);
  CheckRate(c, static_cast<double>(num), static_cast<double>(den));
  return AssumeRate(a.ClipAt(0), static_cast<uint32_t>(num), static_cast<uint32_t>(den),
                    a.Bool(3, false), c);
}

Value AssumeFpsFloat(const Args& a, CallContext& c) {
  const double fps = a.Float(1, 0);
  CheckRate(c, fps * 1000, 1);
  uint32_t num, den;
  RateFromFloat(fps, &num, &den);
  CheckRate(c, num, den);
  return AssumeRate(a.ClipAt(0), num, den, a.Bool(2, false), c);
}

// ----------------------------------------------------------------- AudioDub

class DubClip : public Clip {
 public:
  DubClip(ClipPtr video, ClipPtr audio, const kvfs_clip_info& info)
      : Clip(info), video_(std::move(video)), audio_(std::move(audio)) {}
  std::vector<ClipPtr> Children() const override { return {video_, audio_}; }

 protected:
  FrameRef Frame(int64_t n) override { return video_->GetFrame(n); }
  void Audio(int64_t start, int64_t count, float* out) override {
    audio_->GetAudio(start, count, out);
  }

 private:
  ClipPtr video_, audio_;
};

Value AudioDub(const Args& a, CallContext& c) {
  ClipPtr video = a.ClipAt(0), audio = a.ClipAt(1);
  if (!video->HasVideo()) c.Fail("the first clip has no picture");
  if (!audio->HasAudio()) c.Fail("the second clip has no sound");
  kvfs_clip_info info = video->Info();
  info.audio_rate = audio->Info().audio_rate;
  info.channels = audio->Info().channels;
  info.sample_count = audio->Info().sample_count;
  return Value::Of(std::make_shared<DubClip>(video, audio, info));
}

// --------------------------------------------------------------- DelayAudio

class DelayClip : public ChildClip {
 public:
  DelayClip(ClipPtr child, const kvfs_clip_info& info, int64_t delay)
      : ChildClip(std::move(child), info), delay_(delay) {}

 protected:
  void Audio(int64_t start, int64_t count, float* out) override {
    child_->GetAudio(start - delay_, count, out);
  }

 private:
  int64_t delay_;
};

Value DelayAudio(const Args& a, CallContext& c) {
  ClipPtr clip = a.ClipAt(0);
  if (!clip->HasAudio()) c.Fail("the clip has no sound");
  const double seconds = a.Float(1, 0);
  if (!(std::fabs(seconds) <= 86400)) c.Fail("the delay must be a number of seconds");
  kvfs_clip_info info = clip->Info();
  // Positive: the sound starts later (silence first); negative: its start
  // is dropped.
  const int64_t delay = std::llround(seconds * info.audio_rate);
  info.sample_count = std::clamp<int64_t>(info.sample_count + delay, 0, kMaxSamples);
  return Value::Of(std::make_shared<DelayClip>(clip, info, delay));
}

// ---------------------------------------------------------------- AmplifydB

class GainClip : public ChildClip {
 public:
  GainClip(ClipPtr child, const kvfs_clip_info& info, std::vector<float> gains)
      : ChildClip(std::move(child), info), gains_(std::move(gains)) {}

 protected:
  void Audio(int64_t start, int64_t count, float* out) override {
    child_->GetAudio(start, count, out);
    const int ch = info_.channels;
    for (int64_t i = 0; i < count; ++i)
      for (int c = 0; c < ch; ++c) out[i * ch + c] *= gains_[static_cast<size_t>(c)];
  }

 private:
  std::vector<float> gains_;
};

Value AmplifydB(const Args& a, CallContext& c) {
  ClipPtr clip = a.ClipAt(0);
  if (!clip->HasAudio()) c.Fail("the clip has no sound");
  const int ch = clip->Info().channels;
  // One value for every channel, or one per channel from the first on.
  std::vector<float> gains(static_cast<size_t>(ch));
  double db = a.Float(1, 0);
  for (int i = 0; i < ch; ++i) {
    if (i > 0 && i + 1 < static_cast<int>(a.Count()) && a.Given(static_cast<size_t>(i + 1)))
      db = a.Float(static_cast<size_t>(i + 1), db);
    if (!(std::fabs(db) <= 200)) c.Fail("the gain must be a number of decibels up to 200");
    gains[static_cast<size_t>(i)] = static_cast<float>(std::pow(10.0, db / 20));
  }
  return Value::Of(std::make_shared<GainClip>(clip, clip->Info(), std::move(gains)));
}

// ----------------------------------------------------------- WriteFileStart

class WriteStartClip : public ChildClip {
 public:
  WriteStartClip(ClipPtr child, Interpreter* interpreter, const Node& call, std::string path,
                 std::vector<std::string> texts, bool append)
      : ChildClip(child, child->Info()),
        interpreter_(interpreter),
        line_(call.line),
        column_(call.column),
        path_(std::move(path)),
        texts_(std::move(texts)),
        append_(append) {}

  // The texts are expressions, evaluated now in the script's variables.
  void Start() override {
    std::string content;
    for (const std::string& text : texts_) {
      Value v;
      try {
        auto expression = ParseExpression(text);
        v = interpreter_->Evaluate(*expression);
      } catch (const ScriptError& e) {
        throw ScriptError(line_, column_,
                          "WriteFileStart: the text \"" + text + "\" is not a value: " + e.what());
      }
      char number[64];
      switch (v.type) {
        case ValueType::String:
          content += v.text;
          break;
        case ValueType::Int:
          std::snprintf(number, sizeof number, "%" PRId64, v.integer);
          content += number;
          break;
        case ValueType::Float:
          std::snprintf(number, sizeof number, "%f", v.number);
          content += number;
          break;
        case ValueType::Bool:
          content += v.boolean ? "true" : "false";
          break;
        default:
          throw ScriptError(line_, column_,
                            "WriteFileStart: the text \"" + text + "\" gives no writable value");
      }
      content += "\r\n";
    }
    FILE* file = std::fopen(path_.c_str(), append_ ? "ab" : "wb");
    if (!file)
      throw ScriptError(line_, column_,
                        "WriteFileStart: cannot write \"" + path_ + "\": " + std::strerror(errno));
    const bool ok = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    if (std::fclose(file) != 0 || !ok)
      throw ScriptError(line_, column_, "WriteFileStart: cannot write \"" + path_ + "\"");
  }

 private:
  Interpreter* interpreter_;  // alive while the script is opened and started
  int line_, column_;
  std::string path_;
  std::vector<std::string> texts_;
  bool append_;
};

constexpr int kWriteTexts = 8;

Value WriteFileStart(const Args& a, CallContext& c) {
  std::vector<std::string> texts;
  for (int i = 0; i < kWriteTexts; ++i)
    if (a.Given(static_cast<size_t>(2 + i)))
      texts.push_back(a.Text(static_cast<size_t>(2 + i), ""));
  const std::string name = a.Text(1, "");
  if (name.empty()) c.Fail("the file name is empty");
  return Value::Of(std::make_shared<WriteStartClip>(a.ClipAt(0), &c.interpreter, c.call,
                                                    c.Resolve(name), std::move(texts),
                                                    a.Bool(2 + kWriteTexts, false)));
}

// --------------------------------------------------------------- LoadPlugin

Value LoadPlugin(const Args& a, CallContext& c) {
  const std::string name = a.Text(0, "");
  const InterpreterOptions& options = c.interpreter.Options();
  if (!options.allow_plugins) c.Fail("plug-ins cannot be loaded here");
  std::string path;
  if (name.find('/') == std::string::npos) {
    // A bare name: the script's folder first, then the registered plug-in
    // folder.
    path = FindInFolder(options.folder, name);
    std::string plugin_folder;
    if (path.empty() && options.plugin_folder) {
      plugin_folder = options.plugin_folder();
      if (!plugin_folder.empty()) path = FindInFolder(plugin_folder, name);
    }
    if (path.empty())
      c.Fail("cannot find \"" + name + "\" in the script's folder" +
             (plugin_folder.empty() ? std::string(" (no plug-in folder is registered)")
                                    : " nor in the plug-in folder " + plugin_folder));
  } else {
    path = c.Resolve(name);
    if (!IsFile(path)) c.Fail("cannot find \"" + path + "\"");
  }
  c.interpreter.LoadPlugin(path);
  return Value::Text(path);
}

Value ImageSourceMissing(const Args&, CallContext& c) {
  c.Fail("the image library devil.dll is not beside the frameserver");
}

}  // namespace

void AddBuiltins(Interpreter& in) {
  auto add = [&](const char* name, const char* signature, NativeFunction body) {
    in.AddFunction(Function{name, ParseSignature(signature), std::move(body)});
  };
  add("BlankClip",
      "[clip clip], [int length], [int width], [int height], [string pixel_type], [float fps], "
      "[int fps_denominator], [int audio_rate], [int channels], [int color], [float tone], "
      "[bool pattern]",
      MakeBlankClip);
  add("Trim", "clip clip, int first, int last", Trim);
  add("AssumeFPS", "clip clip, float fps, [bool sync_audio]", AssumeFpsFloat);
  add("AssumeFPS", "clip clip, int numerator, int denominator, [bool sync_audio]",
      AssumeFpsFraction);
  add("AudioDub", "clip video, clip audio", AudioDub);
  add("DelayAudio", "clip clip, float seconds", DelayAudio);
  add("AmplifydB",
      "clip clip, float db, [float db2], [float db3], [float db4], [float db5], [float db6], "
      "[float db7], [float db8]",
      AmplifydB);
  add("WriteFileStart",
      "clip clip, string filename, string text, [string text2], [string text3], [string text4], "
      "[string text5], [string text6], [string text7], [string text8], [bool append]",
      WriteFileStart);
  add("LoadPlugin", "string path", LoadPlugin);
  add("ImageSource", "string file, [int start], [int end], [float fps], [string pixel_type]",
      ImageSourceMissing);
  AddResizers(in);
}

}  // namespace kvfs
