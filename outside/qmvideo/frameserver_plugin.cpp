// qmvideo.dll as a frameserver plug-in: qmVideoSource(path, idct, force_film)
// serves a title through the library's open video. The library keeps one
// title open at a time, so the source whose title is open is remembered and
// another source reopens its own before it reads. Frames are the decoder's
// planar 4:2:0 pictures, served without a copy: each served frame holds a
// reference to the decoder's picture until the frameserver lets it go.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

extern "C" {
#include <libavutil/frame.h>
}

#include "outside/frameserver/include/frameserver_plugin.h"
#include "outside/qmvideo/open_video.h"
#include "outside/qmvideo/qmvideo.h"

namespace {

const kvfs_host* host = nullptr;

struct Source {
  std::string path;
  unsigned char film;
  kvfs_clip_info info;
};

const Source* open_source = nullptr;

bool Matches(const QmVideoRecord* r, const kvfs_clip_info& info) {
  return r && r->width == info.width && r->height == info.height && r->frames == info.frame_count;
}

void FreePicture(void* opaque) {
  AVFrame* picture = static_cast<AVFrame*>(opaque);
  av_frame_free(&picture);
}

kvfs_frame* GetFrame(void* self, int64_t n, char* error, size_t size) {
  auto* source = static_cast<Source*>(self);
  if (open_source != source) {
    open_source = nullptr;
    if (!Matches(qmvideo::OpenVideo(source->path.c_str(), source->film != 0), source->info)) {
      std::snprintf(error, size, "qmVideoSource: cannot reopen \"%s\"", source->path.c_str());
      return nullptr;
    }
    open_source = source;
  }
  AVFrame* picture = qmvideo::OpenVideoPlanarFrame(static_cast<int32_t>(n));
  if (!picture) {
    std::snprintf(error, size, "qmVideoSource: frame %lld of \"%s\" cannot be decoded",
                  static_cast<long long>(n), source->path.c_str());
    return nullptr;
  }
  uint8_t* const data[3] = {picture->data[0], picture->data[1], picture->data[2]};
  const int32_t pitch[3] = {picture->linesize[0], picture->linesize[1], picture->linesize[2]};
  kvfs_frame* frame = host->frame_wrap(source->info.width, source->info.height, KVFS_PIXEL_I420,
                                       data, pitch, FreePicture, picture);
  if (!frame) std::snprintf(error, size, "qmVideoSource: out of memory");
  return frame;
}

void Destroy(void* self) {
  auto* source = static_cast<Source*>(self);
  if (open_source == source) {
    qmvideo::CloseVideo();
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
  open_source = nullptr;
  const QmVideoRecord* record = qmvideo::OpenVideo(path.c_str(), source->film != 0);
  if (!record || record->width <= 0 || record->height <= 0 || record->frames <= 0 ||
      record->rateNumerator <= 0 || record->rateDenominator <= 0) {
    delete source;
    const std::string why = "cannot open the title of \"" + path + "\"";
    return host->fail(call, why.c_str());
  }
  open_source = source;
  source->info.width = record->width;
  source->info.height = record->height;
  source->info.pixel_format = KVFS_PIXEL_I420;
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
