// Plug-ins: loading the shared object, the host table it is handed, and
// the clips it makes.
#include <dlfcn.h>
#include <stdlib.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>

#include "outside/frameserver/interpreter.h"

struct kvfs_clip {
  kvfs::ClipPtr clip;
};

struct kvfs_registrar {
  kvfs::Interpreter* interpreter;
  std::string error;
};

struct kvfs_call {
  const kvfs::Args* args;
  kvfs::CallContext* context;
  kvfs::Value result;
  bool failed = false;
  std::string error;
  std::deque<kvfs_clip> borrowed;  // stable addresses
  std::deque<std::string> texts;
  std::vector<kvfs::ClipPtr> retained;  // children of a clip made by this call
};

namespace kvfs {

namespace {

thread_local kvfs_call* current_call = nullptr;

void CopyError(char* error, size_t size, const char* text) {
  if (error && size > 0) std::snprintf(error, size, "%s", text);
}

bool ValidInfo(const kvfs_clip_info& i, std::string* why) {
  if (i.pixel_format != KVFS_PIXEL_NONE) {
    if (PlaneCount(i.pixel_format) == 0) {
      *why = "an unknown picture format";
      return false;
    }
    if (i.width < 1 || i.height < 1 || i.width > kMaxPictureSide || i.height > kMaxPictureSide) {
      *why = "a bad picture size";
      return false;
    }
    if (i.frame_count < 1 || i.fps_numerator == 0 || i.fps_denominator == 0) {
      *why = "no frames or no frame rate";
      return false;
    }
  }
  if (i.audio_rate < 0 || i.audio_rate > 1000000 || i.channels < 0 || i.channels > 32 ||
      i.sample_count < 0 || i.sample_count > kMaxSamples) {
    *why = "a bad sound format";
    return false;
  }
  if (i.pixel_format == KVFS_PIXEL_NONE && (i.audio_rate == 0 || i.channels == 0)) {
    *why = "neither picture nor sound";
    return false;
  }
  return true;
}

class PluginClip : public Clip {
 public:
  PluginClip(const kvfs_clip_info& info, const kvfs_clip_ops& ops, void* self,
             std::vector<ClipPtr> children)
      : Clip(info), ops_(ops), self_(self), children_(std::move(children)) {}
  ~PluginClip() override {
    if (ops_.destroy) ops_.destroy(self_);
  }
  std::vector<ClipPtr> Children() const override { return children_; }
  void Start() override {
    if (!ops_.start) return;
    char error[512] = "";
    if (ops_.start(self_, error, sizeof error) != 0)
      throw ServeError(error[0] ? error : "the plug-in's clip failed to start");
  }

 protected:
  FrameRef Frame(int64_t n) override {
    char error[512] = "";
    kvfs_frame* f = ops_.get_frame ? ops_.get_frame(self_, n, error, sizeof error) : nullptr;
    if (!f) throw ServeError(error[0] ? error : "the plug-in gave no frame");
    FrameRef frame = FrameRef::Adopt(f);
    if (f->width != info_.width || f->height != info_.height ||
        f->pixel_format != info_.pixel_format)
      throw ServeError("the plug-in gave a frame of another size or format");
    return frame;
  }
  void Audio(int64_t start, int64_t count, float* out) override {
    if (!ops_.get_audio) return Clip::Audio(start, count, out);
    char error[512] = "";
    if (ops_.get_audio(self_, start, count, out, error, sizeof error) != 0)
      throw ServeError(error[0] ? error : "the plug-in gave no sound");
  }

 private:
  kvfs_clip_ops ops_;
  void* self_;
  std::vector<ClipPtr> children_;
};

// --- the host table

int AddFunctionEntry(kvfs_registrar* registrar, const char* name, const char* signature,
                     kvfs_function function, void* user_data) {
  if (!registrar || !name || !signature || !function || !name[0]) return -1;
  std::vector<Param> params;
  try {
    params = ParseSignature(signature);
  } catch (const std::exception& e) {
    registrar->error = e.what();
    return -1;
  }
  const std::string function_name = name;
  registrar->interpreter->AddFunction(
      Function{name, std::move(params),
               [function, user_data, function_name](const Args& args, CallContext& context) {
                 kvfs_call call;
                 call.args = &args;
                 call.context = &context;
                 struct Current {
                   kvfs_call* outer = current_call;
                   explicit Current(kvfs_call* c) { current_call = c; }
                   ~Current() { current_call = outer; }
                 };
                 {
                   Current current(&call);
                   function(&call, user_data);
                 }
                 if (call.failed) context.Fail(call.error.empty() ? "failed" : call.error);
                 return std::move(call.result);
               }});
  return 0;
}

bool InRange(kvfs_call* call, int index) {
  return call && index >= 0 && static_cast<size_t>(index) < call->args->Count();
}

int ArgGiven(kvfs_call* call, int index) {
  return InRange(call, index) && call->args->Given(static_cast<size_t>(index)) ? 1 : 0;
}

kvfs_clip* ArgClip(kvfs_call* call, int index) {
  if (!ArgGiven(call, index)) return nullptr;
  const Value& v = call->args->At(static_cast<size_t>(index));
  if (v.type != ValueType::Clip) return nullptr;
  call->borrowed.push_back(kvfs_clip{v.clip});
  return &call->borrowed.back();
}

int64_t ArgInt(kvfs_call* call, int index, int64_t fallback) {
  if (!ArgGiven(call, index)) return fallback;
  const Value& v = call->args->At(static_cast<size_t>(index));
  return v.type == ValueType::Int ? v.integer : fallback;
}

double ArgFloat(kvfs_call* call, int index, double fallback) {
  if (!ArgGiven(call, index)) return fallback;
  const Value& v = call->args->At(static_cast<size_t>(index));
  return v.type == ValueType::Int || v.type == ValueType::Float ? v.AsFloat() : fallback;
}

int ArgBool(kvfs_call* call, int index, int fallback) {
  if (!ArgGiven(call, index)) return fallback;
  const Value& v = call->args->At(static_cast<size_t>(index));
  return v.type == ValueType::Bool ? (v.boolean ? 1 : 0) : fallback;
}

const char* ArgString(kvfs_call* call, int index, const char* fallback) {
  if (!ArgGiven(call, index)) return fallback;
  const Value& v = call->args->At(static_cast<size_t>(index));
  return v.type == ValueType::String ? v.text.c_str() : fallback;
}

const char* ResolvePath(kvfs_call* call, const char* name) {
  if (!call || !name) return nullptr;
  call->texts.push_back(call->context->Resolve(name));
  return call->texts.back().c_str();
}

void ReturnClip(kvfs_call* call, const kvfs_clip_info* info, const kvfs_clip_ops* ops, void* self) {
  if (!call || !info || !ops) {
    if (ops && ops->destroy) ops->destroy(self);
    if (call) {
      call->failed = true;
      call->error = "returned a clip without its description";
    }
    return;
  }
  std::string why;
  if (!ValidInfo(*info, &why)) {
    if (ops->destroy) ops->destroy(self);
    call->failed = true;
    call->error = "returned a clip with " + why;
    return;
  }
  call->result = Value::Of(std::make_shared<PluginClip>(*info, *ops, self, call->retained));
}

void ReturnInt(kvfs_call* call, int64_t value) {
  if (call) call->result = Value::Int(value);
}
void ReturnFloat(kvfs_call* call, double value) {
  if (call) call->result = Value::Float(value);
}
void ReturnBool(kvfs_call* call, int value) {
  if (call) call->result = Value::Bool(value != 0);
}
void ReturnString(kvfs_call* call, const char* value) {
  if (call) call->result = Value::Text(value ? value : "");
}
void FailCall(kvfs_call* call, const char* message) {
  if (!call) return;
  call->failed = true;
  call->error = message ? message : "";
}

kvfs_clip* ClipRetain(kvfs_clip* clip) {
  if (!clip) return nullptr;
  if (current_call) current_call->retained.push_back(clip->clip);
  return new kvfs_clip{clip->clip};
}
void ClipRelease(kvfs_clip* clip) {
  delete clip;
}
void ClipInfo(kvfs_clip* clip, kvfs_clip_info* info) {
  if (clip && info) *info = clip->clip->Info();
}
kvfs_frame* ClipGetFrame(kvfs_clip* clip, int64_t n, char* error, size_t size) {
  if (!clip) return nullptr;
  try {
    return clip->clip->GetFrame(n).Release();
  } catch (const std::exception& e) {
    CopyError(error, size, e.what());
    return nullptr;
  }
}
int ClipGetAudio(kvfs_clip* clip, int64_t start, int64_t count, float* out, char* error,
                 size_t size) {
  if (!clip || !out || count < 0) return -1;
  try {
    clip->clip->GetAudio(start, count, out);
    return 0;
  } catch (const std::exception& e) {
    CopyError(error, size, e.what());
    return -1;
  }
}
kvfs_frame* FrameNew(int32_t width, int32_t height, int32_t format) {
  return NewFrame(width, height, format).Release();
}
kvfs_frame* FrameWrap(int32_t width, int32_t height, int32_t format, uint8_t* const data[3],
                      const int32_t pitch[3], void (*release)(void*), void* opaque) {
  return WrapFrame(width, height, format, data, pitch, release, opaque).Release();
}
kvfs_frame* FrameRetain(kvfs_frame* frame) {
  return frame ? RetainFrame(frame) : nullptr;
}
void FrameRelease(kvfs_frame* frame) {
  if (frame) ReleaseFrame(frame);
}
void FrameDetach(kvfs_frame* frame) {
  if (!frame) return;
  try {
    DetachFrame(frame);
  } catch (const std::exception&) {
    // Out of memory: the holders keep the shared pixels.
  }
}

const kvfs_host kHost = {
    KVFS_INTERFACE_VERSION,
    AddFunctionEntry,
    ArgGiven,
    ArgClip,
    ArgInt,
    ArgFloat,
    ArgBool,
    ArgString,
    ResolvePath,
    ReturnClip,
    ReturnInt,
    ReturnFloat,
    ReturnBool,
    ReturnString,
    FailCall,
    ClipRetain,
    ClipRelease,
    ClipInfo,
    ClipGetFrame,
    ClipGetAudio,
    FrameNew,
    FrameWrap,
    FrameRetain,
    FrameRelease,
    FrameDetach,
};

}  // namespace

void Interpreter::LoadPlugin(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  const std::string key = real ? real : path;
  std::free(real);
  if (loaded_.count(key)) return;
  // Plug-ins stay loaded for the life of the process: clips made by them
  // may outlive this script.
  // A name without a folder is a file of the current folder (a script
  // opened there by its bare name); dlopen would look for it on the
  // library search path instead.
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = ::dlerror();
    throw std::runtime_error("cannot load \"" + path + "\": " + (why ? why : "unknown reason"));
  }
  auto entry =
      reinterpret_cast<kvfs_register_plugin_fn>(::dlsym(handle, KVFS_REGISTER_PLUGIN_NAME));
  if (!entry)
    throw std::runtime_error("\"" + path + "\" is not a frameserver plug-in (it has no " +
                             KVFS_REGISTER_PLUGIN_NAME + ")");
  kvfs_registrar registrar{this, std::string()};
  if (entry(&kHost, &registrar) != 0)
    throw std::runtime_error("the plug-in \"" + path + "\" failed to register" +
                             (registrar.error.empty() ? "" : ": " + registrar.error));
  loaded_.insert(key);
}

}  // namespace kvfs
