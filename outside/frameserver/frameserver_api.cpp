// The exported client interface of avisynth.dll.
#include <dlfcn.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "outside/frameserver/file_names.h"
#include "outside/frameserver/include/frameserver.h"
#include "outside/frameserver/interpreter.h"
#include "platform/registry_store.h"

struct kvfs_script {
  kvfs::ClipPtr clip;
  kvfs_clip_info info;
  kvfs::FrameRef frame;
  std::vector<float> samples;
  std::string error;
};

namespace {

constexpr size_t kMaxScriptBytes = 16 << 20;

void SetOpenError(kvfs_open_error* error, const std::string& name, int line, int column,
                  const std::string& message) {
  if (!error) return;
  error->line = line;
  error->column = column;
  if (line > 0)
    std::snprintf(error->text, sizeof error->text, "%s, line %d, column %d: %s", name.c_str(), line,
                  column, message.c_str());
  else
    std::snprintf(error->text, sizeof error->text, "%s: %s", name.c_str(), message.c_str());
}

// The plug-in folder the frameserver's registration names.
std::string RegisteredPluginFolder() {
  auto store = platform::RegistryStore::Open(platform::RegistryStore::DefaultPath());
  if (!store) return std::string();
  auto folder =
      store->ReadString(platform::RegistryRoot::LocalMachine, "SOFTWARE\\AviSynth", "plugindir2_5");
  return folder ? *folder : std::string();
}

// The image library lives beside this library.
std::string ImageLibraryPath() {
  Dl_info info{};
  if (!::dladdr(reinterpret_cast<void*>(&kvfs_open_script), &info) || !info.dli_fname)
    return std::string();
  const std::string found = kvfs::FindInFolder(kvfs::FolderOf(info.dli_fname), "devil.dll");
  return found;
}

kvfs_script* Open(const std::string& text, const std::string& folder, const std::string& name,
                  kvfs_open_error* error) {
  kvfs::InterpreterOptions options;
  options.folder = folder;
  options.plugin_folder = RegisteredPluginFolder;
  options.autoload = ImageLibraryPath();
  try {
    auto script = std::make_unique<kvfs_script>();
    script->clip = kvfs::OpenScript(text, std::move(options));
    script->info = script->clip->Info();
    return script.release();
  } catch (const kvfs::ScriptError& e) {
    SetOpenError(error, name, e.line(), e.column(), e.what());
  } catch (const std::exception& e) {
    SetOpenError(error, name, 0, 0, e.what());
  }
  return nullptr;
}

}  // namespace

extern "C" {

KVFS_API kvfs_script* kvfs_open_script(const char* path, kvfs_open_error* error) {
  if (error) std::memset(error, 0, sizeof *error);
  if (!path || !path[0]) {
    SetOpenError(error, "(script)", 0, 0, "no script file named");
    return nullptr;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    SetOpenError(error, path, 0, 0, std::string("cannot read the script: ") + std::strerror(errno));
    return nullptr;
  }
  std::string text;
  std::vector<char> chunk(65536);
  while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0) {
    text.append(chunk.data(), static_cast<size_t>(in.gcount()));
    if (text.size() > kMaxScriptBytes) {
      SetOpenError(error, path, 0, 0, "the script is too large");
      return nullptr;
    }
  }
  return Open(text, kvfs::FolderOf(path), path, error);
}

KVFS_API kvfs_script* kvfs_open_script_text(const char* text, const char* folder,
                                            kvfs_open_error* error) {
  if (error) std::memset(error, 0, sizeof *error);
  return Open(text ? text : "", folder ? folder : "", "(script)", error);
}

KVFS_API void kvfs_script_info(const kvfs_script* script, kvfs_clip_info* info) {
  if (script && info) *info = script->info;
}

KVFS_API const kvfs_frame* kvfs_get_frame(kvfs_script* script, int64_t n) {
  if (!script) return nullptr;
  script->frame = kvfs::FrameRef();
  try {
    script->frame = script->clip->GetFrame(n);
    return script->frame.get();
  } catch (const std::exception& e) {
    script->error = e.what();
    return nullptr;
  }
}

KVFS_API int kvfs_get_audio(kvfs_script* script, int64_t start, int64_t count, int32_t sample_type,
                            void* buffer) {
  if (!script) return -1;
  if (count < 0 || count > (int64_t{1} << 32) || !buffer ||
      (sample_type != KVFS_SAMPLE_S16 && sample_type != KVFS_SAMPLE_FLOAT) ||
      script->info.channels <= 0) {
    script->error = "bad audio request";
    return -1;
  }
  const size_t values = static_cast<size_t>(count) * static_cast<size_t>(script->info.channels);
  try {
    if (sample_type == KVFS_SAMPLE_FLOAT) {
      script->clip->GetAudio(start, count, static_cast<float*>(buffer));
      return 0;
    }
    script->samples.resize(values);
    script->clip->GetAudio(start, count, script->samples.data());
    int16_t* out = static_cast<int16_t*>(buffer);
    for (size_t i = 0; i < values; ++i) {
      float v = std::nearbyint(script->samples[i] * 32768.0f);
      if (std::isnan(v)) v = 0;
      out[i] = static_cast<int16_t>(v > 32767.0f ? 32767.0f : v < -32768.0f ? -32768.0f : v);
    }
    return 0;
  } catch (const std::exception& e) {
    script->error = e.what();
    return -1;
  }
}

KVFS_API const char* kvfs_last_error(const kvfs_script* script) {
  return script ? script->error.c_str() : "no script";
}

KVFS_API void kvfs_close_script(kvfs_script* script) {
  delete script;
}

}  // extern "C"
