// devil.dll: the frameserver's image library. ImageSource serves a still
// picture, or a numbered series of pictures, decoded with FFmpeg.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "outside/frameserver/include/frameserver_plugin.h"
#include "outside/frameserver/include/plugin_host_table.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace {

kvfs::PluginHostTable host;

struct Picture {
  int width = 0;
  int height = 0;
  kvfs_frame* frame = nullptr;  // in the clip's format
};

// Decodes the first picture of an image file into a new frame.
bool Decode(const std::string& path, int pixel_format, Picture* out, std::string* why) {
  AVFormatContext* format = nullptr;
  if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) {
    *why = "cannot open the picture \"" + path + "\"";
    return false;
  }
  std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> format_guard(
      format, [](AVFormatContext* f) { avformat_close_input(&f); });
  if (avformat_find_stream_info(format, nullptr) < 0 || format->nb_streams < 1) {
    *why = "\"" + path + "\" holds no picture";
    return false;
  }
  const int stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (stream < 0) {
    *why = "\"" + path + "\" holds no picture";
    return false;
  }
  const AVCodecParameters* par = format->streams[stream]->codecpar;
  const AVCodec* codec = avcodec_find_decoder(par->codec_id);
  if (!codec) {
    *why = "the picture format of \"" + path + "\" is not known";
    return false;
  }
  std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> decoder(
      avcodec_alloc_context3(codec), [](AVCodecContext* c) { avcodec_free_context(&c); });
  if (!decoder || avcodec_parameters_to_context(decoder.get(), par) < 0 ||
      avcodec_open2(decoder.get(), codec, nullptr) < 0) {
    *why = "cannot decode \"" + path + "\"";
    return false;
  }
  std::unique_ptr<AVFrame, void (*)(AVFrame*)> picture(av_frame_alloc(),
                                                       [](AVFrame* f) { av_frame_free(&f); });
  std::unique_ptr<AVPacket, void (*)(AVPacket*)> packet(av_packet_alloc(),
                                                        [](AVPacket* p) { av_packet_free(&p); });
  bool have = false;
  while (!have && av_read_frame(format, packet.get()) >= 0) {
    if (packet->stream_index == stream && avcodec_send_packet(decoder.get(), packet.get()) >= 0)
      have = avcodec_receive_frame(decoder.get(), picture.get()) >= 0;
    av_packet_unref(packet.get());
  }
  if (!have) {
    avcodec_send_packet(decoder.get(), nullptr);
    have = avcodec_receive_frame(decoder.get(), picture.get()) >= 0;
  }
  if (!have || picture->width < 1 || picture->height < 1) {
    *why = "cannot decode \"" + path + "\"";
    return false;
  }
  int width = picture->width, height = picture->height;
  if (pixel_format == KVFS_PIXEL_I420) {
    width &= ~1;
    height &= ~1;
    if (width < 2 || height < 2) {
      *why = "\"" + path + "\" is too small for YV12";
      return false;
    }
  }
  kvfs_frame* frame = host->frame_new(width, height, pixel_format);
  if (!frame) {
    *why = "\"" + path + "\" is too large";
    return false;
  }
  SwsContext* sws =
      sws_getContext(width, height, static_cast<AVPixelFormat>(picture->format), width, height,
                     pixel_format == KVFS_PIXEL_I420 ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_BGR24,
                     SWS_POINT, nullptr, nullptr, nullptr);
  if (!sws) {
    host->frame_release(frame);
    *why = "cannot convert the picture of \"" + path + "\"";
    return false;
  }
  // Same sizes: a pure format conversion (for YV12 an odd last row or
  // column is left out).
  int dst_pitch[4] = {frame->pitch[0], frame->pitch[1], frame->pitch[2], 0};
  uint8_t* dst[4] = {frame->data[0], frame->data[1], frame->data[2], nullptr};
  sws_scale(sws, picture->data, picture->linesize, 0, height, dst, dst_pitch);
  sws_freeContext(sws);
  out->width = width;
  out->height = height;
  out->frame = frame;
  return true;
}

// "name%03d.png"-style file names number the pictures of a series.
bool IsSeries(const std::string& pattern) {
  const size_t percent = pattern.find('%');
  if (percent == std::string::npos) return false;
  size_t i = percent + 1;
  while (i < pattern.size() && (pattern[i] == '0' || (pattern[i] >= '1' && pattern[i] <= '9'))) ++i;
  return i < pattern.size() && pattern[i] == 'd' && pattern.find('%', i) == std::string::npos &&
         i - percent <= 4;
}

std::string SeriesName(const std::string& pattern, int64_t number) {
  char name[4096];
  std::snprintf(name, sizeof name, pattern.c_str(), static_cast<int>(number));
  return name;
}

struct ImageClip {
  std::string pattern;
  bool series = false;
  int64_t first = 0;
  kvfs_clip_info info{};
  kvfs_frame* still = nullptr;
};

kvfs_frame* GetFrame(void* self, int64_t n, char* error, size_t size) {
  auto* clip = static_cast<ImageClip*>(self);
  if (!clip->series) return host->frame_retain(clip->still);
  Picture picture;
  std::string why;
  if (!Decode(SeriesName(clip->pattern, clip->first + n), clip->info.pixel_format, &picture,
              &why)) {
    std::snprintf(error, size, "ImageSource: %s", why.c_str());
    return nullptr;
  }
  if (picture.width != clip->info.width || picture.height != clip->info.height) {
    host->frame_release(picture.frame);
    std::snprintf(error, size, "ImageSource: the pictures of the series differ in size");
    return nullptr;
  }
  return picture.frame;
}

void Destroy(void* self) {
  auto* clip = static_cast<ImageClip*>(self);
  if (clip->still) host->frame_release(clip->still);
  delete clip;
}

const kvfs_clip_ops kOps = {GetFrame, nullptr, nullptr, Destroy};

void ImageSource(kvfs_call* call, void*) {
  const std::string name = host->arg_string(call, 0, "");
  const int64_t start = host->arg_int(call, 1, 0);
  const int64_t end = host->arg_int(call, 2, 1000);
  const double fps = host->arg_float(call, 3, 24.0);
  const std::string type = host->arg_string(call, 4, "RGB24");
  if (start < 0 || end < start || end - start >= (int64_t{1} << 31))
    return host->fail(call, "start and end must number the pictures from 0 on, start <= end");
  if (!(fps > 0.001) || fps > 1000000) return host->fail(call, "fps must be a positive rate");
  int pixel_format;
  if (type == "RGB24" || type == "rgb24")
    pixel_format = KVFS_PIXEL_BGR24;
  else if (type == "YV12" || type == "yv12")
    pixel_format = KVFS_PIXEL_I420;
  else
    return host->fail(call, "pixel_type must be \"RGB24\" or \"YV12\"");

  auto* clip = new ImageClip;
  clip->pattern = host->resolve_path(call, name.c_str());
  clip->series = IsSeries(clip->pattern);
  clip->first = start;
  Picture picture;
  std::string why;
  const std::string first_name = clip->series ? SeriesName(clip->pattern, start) : clip->pattern;
  if (!Decode(first_name, pixel_format, &picture, &why)) {
    delete clip;
    return host->fail(call, why.c_str());
  }
  clip->info.width = picture.width;
  clip->info.height = picture.height;
  clip->info.pixel_format = pixel_format;
  clip->info.fps_numerator = static_cast<uint32_t>(fps * 1000 + 0.5);
  clip->info.fps_denominator = 1000;
  clip->info.frame_count = end - start + 1;
  if (clip->series)
    host->frame_release(picture.frame);
  else
    clip->still = picture.frame;
  host->return_clip(call, &clip->info, &kOps, clip);
}

}  // namespace

extern "C" KVFS_PLUGIN_EXPORT int kvfs_register_plugin(const kvfs_host* h,
                                                       kvfs_registrar* registrar) {
  if (!h || h->version < KVFS_INTERFACE_VERSION) return -1;
  host.Set(h);
  return host->add_function(registrar, "ImageSource",
                            "string file, [int start], [int end], [float fps], [string pixel_type]",
                            ImageSource, nullptr);
}
