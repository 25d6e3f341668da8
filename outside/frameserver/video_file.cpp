#include "outside/frameserver/video_file.h"

#include <dlfcn.h>

#include <cctype>
#include <map>
#include <mutex>

#include "outside/frameserver/file_names.h"
#include "platform/folders.h"
#include "platform/registry_store.h"

namespace kv_video_file {

struct VideoFile::Library {
  kvfs_open_script_fn open = nullptr;
  kvfs_script_info_fn info = nullptr;
  kvfs_get_frame_fn frame = nullptr;
  kvfs_get_audio_fn audio = nullptr;
  kvfs_last_error_fn last_error = nullptr;
  kvfs_close_script_fn close = nullptr;
};

namespace {

using platform::RegistryRoot;

// Loaded libraries stay for the life of the process, as the system's layer
// keeps them.
std::mutex libraries_mutex;
std::map<std::string, VideoFile::Library*>& Libraries() {
  static auto* libraries = new std::map<std::string, VideoFile::Library*>();
  return *libraries;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

std::unique_ptr<VideoFile> VideoFile::Open(const std::string& path, std::string* error) {
  auto fail = [&](const std::string& why) -> std::unique_ptr<VideoFile> {
    if (error) *error = why;
    return nullptr;
  };
  const size_t slash = path.rfind('/');
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    return fail("\"" + path + "\" has no file name extension");
  const std::string extension = Lower(path.substr(dot + 1));

  std::string store_error;
  auto store = platform::RegistryStore::Open(platform::RegistryStore::DefaultPath(), &store_error);
  if (!store) return fail("cannot read the registry: " + store_error);
  const std::string extension_key = "avifile\\Extensions\\" + extension;
  auto class_id = store->ReadString(RegistryRoot::ClassesRoot, extension_key, "");
  if (!class_id || class_id->empty())
    return fail("no library is registered for \"." + extension + "\" files (HKEY_CLASSES_ROOT\\" +
                extension_key + ")");
  const std::string server_key = "CLSID\\" + *class_id + "\\InProcServer32";
  auto library_name = store->ReadString(RegistryRoot::ClassesRoot, server_key, "");
  if (!library_name || library_name->empty())
    return fail("the class " + *class_id + " registered for \"." + extension +
                "\" files has no library (HKEY_CLASSES_ROOT\\" + server_key + ")");
  store.reset();

  std::string library_path;
  if (library_name->front() == '/') {
    library_path = kvfs::IsFile(*library_name) ? *library_name : std::string();
  } else {
    const std::string system = platform::SystemFolder();
    if (system.empty()) return fail("the system folder is not known");
    library_path = kvfs::FindInFolder(system, *library_name);
  }
  if (library_path.empty())
    return fail("the library \"" + *library_name + "\" registered for \"." + extension +
                "\" files is not in the system folder");

  const Library* library = nullptr;
  {
    std::lock_guard<std::mutex> lock(libraries_mutex);
    auto& libraries = Libraries();
    auto found = libraries.find(library_path);
    if (found != libraries.end()) {
      library = found->second;
    } else {
      void* handle = ::dlopen(library_path.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (!handle) {
        const char* why = ::dlerror();
        return fail("cannot load \"" + library_path + "\": " + (why ? why : "unknown reason"));
      }
      auto* l = new Library;
      l->open = reinterpret_cast<kvfs_open_script_fn>(::dlsym(handle, "kvfs_open_script"));
      l->info = reinterpret_cast<kvfs_script_info_fn>(::dlsym(handle, "kvfs_script_info"));
      l->frame = reinterpret_cast<kvfs_get_frame_fn>(::dlsym(handle, "kvfs_get_frame"));
      l->audio = reinterpret_cast<kvfs_get_audio_fn>(::dlsym(handle, "kvfs_get_audio"));
      l->last_error = reinterpret_cast<kvfs_last_error_fn>(::dlsym(handle, "kvfs_last_error"));
      l->close = reinterpret_cast<kvfs_close_script_fn>(::dlsym(handle, "kvfs_close_script"));
      if (!l->open || !l->info || !l->frame || !l->audio || !l->last_error || !l->close) {
        delete l;
        ::dlclose(handle);
        return fail("\"" + library_path + "\" does not serve video files");
      }
      libraries[library_path] = l;
      library = l;
    }
  }

  kvfs_open_error open_error{};
  kvfs_script* script = library->open(path.c_str(), &open_error);
  if (!script) return fail(open_error.text[0] ? open_error.text : "the script cannot be opened");
  std::unique_ptr<VideoFile> file(new VideoFile);
  file->library_ = library;
  file->script_ = script;
  file->library_path_ = library_path;
  library->info(script, &file->info_);
  return file;
}

VideoFile::~VideoFile() {
  if (script_) library_->close(script_);
}

const kvfs_frame* VideoFile::Frame(int64_t n) {
  return library_->frame(script_, n);
}

bool VideoFile::Audio(int64_t start, int64_t count, int sample_type, void* buffer) {
  return library_->audio(script_, start, count, sample_type, buffer) == 0;
}

std::string VideoFile::Error() const {
  return library_->last_error(script_);
}

}  // namespace kv_video_file
