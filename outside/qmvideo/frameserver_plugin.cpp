// qmvideo.dll as a frameserver plug-in: qmVideoSource(path, idct, force_film)
// serves a title through a decoder of its own: every clip opens the title
// for itself, so that several clips (of one script, or of several scripts
// served side by side on their own threads) never disturb each other's
// position, nor the process-wide open video of the library's exports. A
// clip is served by one thread at a time, as its script is. Frames are the
// decoder's planar 4:2:0 pictures, served without a copy: each served frame
// holds a reference to the decoder's picture until the frameserver lets it
// go.
#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <string>

extern "C" {
#include <libavutil/frame.h>
}

#include "outside/frameserver/include/frameserver_plugin.h"
#include "outside/frameserver/include/plugin_host_table.h"
#include "outside/qmvideo/video_source.h"

namespace {

kvfs::PluginHostTable host;

struct Source {
  std::string path;
  std::unique_ptr<qmvideo::VideoSource> video;
  kvfs_clip_info info;
};

void FreePicture(void* opaque) {
  AVFrame* picture = static_cast<AVFrame*>(opaque);
  av_frame_free(&picture);
}

kvfs_frame* GetFrame(void* self, int64_t n, char* error, size_t size) {
  auto* source = static_cast<Source*>(self);
  AVFrame* picture = source->video->PlanarFrame(static_cast<int>(n));
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
  delete static_cast<Source*>(self);
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
  auto source = std::make_unique<Source>();
  source->path = path;
  source->video = qmvideo::VideoSource::Open(path, host->arg_bool(call, 2, 0) != 0);
  const QmVideoRecord* record = source->video ? &source->video->Record() : nullptr;
  if (!record || record->width <= 0 || record->height <= 0 || record->frames <= 0 ||
      record->rateNumerator <= 0 || record->rateDenominator <= 0) {
    const std::string why = "cannot open the title of \"" + path + "\"";
    return host->fail(call, why.c_str());
  }
  source->info = kvfs_clip_info{};
  source->info.width = record->width;
  source->info.height = record->height;
  source->info.pixel_format = KVFS_PIXEL_I420;
  source->info.fps_numerator = static_cast<uint32_t>(record->rateNumerator);
  source->info.fps_denominator = static_cast<uint32_t>(record->rateDenominator);
  source->info.frame_count = record->frames;
  Source* clip = source.release();
  host->return_clip(call, &clip->info, &kOps, clip);
}

}  // namespace

extern "C" KVFS_PLUGIN_EXPORT int kvfs_register_plugin(const kvfs_host* h,
                                                       kvfs_registrar* registrar) {
  if (!h || h->version < KVFS_INTERFACE_VERSION) return -1;
  host.Set(h);
  return host->add_function(registrar, "qmVideoSource",
                            "string path, [int idct], [bool force_film]", QmVideoSource, nullptr);
}
