// qmvideo.dll as a frameserver plug-in: qmVideoSource(path, idct, force_film)
// serves a title through the library's own exports. The library keeps one
// title open at a time, so the source whose title is open is remembered and
// another source reopens its own before it reads. Frames are served in the
// library's own buffer without a copy; before the buffer changes, a frame
// still held elsewhere gets a copy of its own.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "outside/frameserver/include/frameserver_plugin.h"
#include "outside/qmvideo/qmvideo.h"

namespace {

const kvfs_host* host = nullptr;

struct Source {
  std::string path;
  unsigned char film;
  kvfs_clip_info info;
};

const Source* open_source = nullptr;
kvfs_frame* served = nullptr;  // the frame that shows the library's buffer

// Called before every call that may change or free the library's buffer.
void LetGoOfBuffer() {
  if (!served) return;
  host->frame_detach(served);
  host->frame_release(served);
  served = nullptr;
}

bool Matches(const QmVideoRecord* r, const kvfs_clip_info& info) {
  return r && r->width == info.width && r->height == info.height && r->frames == info.frame_count;
}

kvfs_frame* GetFrame(void* self, int64_t n, char* error, size_t size) {
  auto* source = static_cast<Source*>(self);
  LetGoOfBuffer();
  if (open_source != source) {
    open_source = nullptr;
    if (!Matches(openMPEG2Source(source->path.c_str(), source->film), source->info)) {
      std::snprintf(error, size, "qmVideoSource: cannot reopen \"%s\"", source->path.c_str());
      return nullptr;
    }
    open_source = source;
  }
  unsigned char* rgb = getRGBFrame(static_cast<int32_t>(n));
  if (!rgb) {
    std::snprintf(error, size, "qmVideoSource: frame %lld of \"%s\" cannot be decoded",
                  static_cast<long long>(n), source->path.c_str());
    return nullptr;
  }
  uint8_t* const data[3] = {rgb, nullptr, nullptr};
  const int32_t pitch[3] = {source->info.width * 3, 0, 0};
  kvfs_frame* frame = host->frame_wrap(source->info.width, source->info.height, KVFS_PIXEL_BGR24,
                                       data, pitch, nullptr, nullptr);
  if (!frame) {
    std::snprintf(error, size, "qmVideoSource: out of memory");
    return nullptr;
  }
  served = host->frame_retain(frame);
  return frame;
}

void Destroy(void* self) {
  auto* source = static_cast<Source*>(self);
  if (open_source == source) {
    LetGoOfBuffer();
    closeVideo();
    open_source = nullptr;
  }
  delete source;
}

const kvfs_clip_ops kOps = {GetFrame, nullptr, nullptr, Destroy};

void QmVideoSource(kvfs_call* call, void*) {
  const char* name = host->arg_string(call, 0, "");
  const int64_t idct = host->arg_int(call, 1, 0);
  // The decoder picks its own transform; the value is checked and kept for
  // the scripts' sake.
  if (idct < 0 || idct > 7) return host->fail(call, "idct must be from 0 to 7");
  const std::string path = host->resolve_path(call, name);
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    const std::string why = "cannot find the video index \"" + path + "\"";
    return host->fail(call, why.c_str());
  }
  auto* source = new Source{path, static_cast<unsigned char>(host->arg_bool(call, 2, 0) ? 1 : 0),
                            kvfs_clip_info{}};
  LetGoOfBuffer();
  open_source = nullptr;
  const QmVideoRecord* record = openMPEG2Source(path.c_str(), source->film);
  if (!record || record->width <= 0 || record->height <= 0 || record->frames <= 0 ||
      record->rateNumerator <= 0 || record->rateDenominator <= 0) {
    delete source;
    const std::string why = "cannot open the title of \"" + path + "\"";
    return host->fail(call, why.c_str());
  }
  open_source = source;
  source->info.width = record->width;
  source->info.height = record->height;
  source->info.pixel_format = KVFS_PIXEL_BGR24;
  source->info.fps_numerator = static_cast<uint32_t>(record->rateNumerator);
  source->info.fps_denominator = static_cast<uint32_t>(record->rateDenominator);
  source->info.frame_count = record->frames;
  host->return_clip(call, &source->info, &kOps, source);
}

}  // namespace

extern "C" KVFS_PLUGIN_EXPORT int kvfs_register_plugin(const kvfs_host* h,
                                                       kvfs_registrar* registrar) {
  if (!h || h->version < KVFS_INTERFACE_VERSION) return -1;
  host = h;
  return host->add_function(registrar, "qmVideoSource",
                            "string path, [int idct], [bool force_film]", QmVideoSource, nullptr);
}
