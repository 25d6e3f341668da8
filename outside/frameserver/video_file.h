#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "outside/frameserver/include/frameserver.h"

namespace kv_video_file {

// The system's video-file layer: a client opens a file by name, and the
// layer finds the library that serves that kind of file through its
// registration: HKEY_CLASSES_ROOT\avifile\Extensions\<extension> names a
// class, CLSID\<class>\InProcServer32 names the library, which is loaded
// from the system folder. Scripts (".avs") are served by the frameserver.
class VideoFile {
 public:
  ~VideoFile();
  VideoFile(const VideoFile&) = delete;
  VideoFile& operator=(const VideoFile&) = delete;

  // Null on failure with a readable reason in `error`.
  static std::unique_ptr<VideoFile> Open(const std::string& path, std::string* error);

  const kvfs_clip_info& Info() const { return info_; }
  // Frame n; valid until the next Frame call. Null on failure (Error()).
  const kvfs_frame* Frame(int64_t n);
  // Samples [start, start + count) interleaved, KVFS_SAMPLE_S16 or _FLOAT.
  bool Audio(int64_t start, int64_t count, int sample_type, void* buffer);
  std::string Error() const;
  // The library that serves the file.
  const std::string& LibraryPath() const { return library_path_; }

  struct Library;  // the functions of a loaded serving library

 private:
  VideoFile() = default;

  const Library* library_ = nullptr;
  kvfs_script* script_ = nullptr;
  kvfs_clip_info info_{};
  std::string library_path_;
};

}  // namespace kv_video_file
