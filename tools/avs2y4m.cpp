// avs2y4m: serves a script's picture as YUV4MPEG2 (or raw frames) on
// standard output and its sound as a WAV file, through the video-file
// layer, as the encoder and the preview player do.
//
//   avs2y4m [--raw] [--wav FILE] [--frames FIRST-LAST] [--info] SCRIPT.avs
#include <signal.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "outside/frameserver/video_file.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: avs2y4m [--raw] [--wav FILE] [--frames FIRST-LAST] [--info] SCRIPT.avs\n"
               "  picture on standard output: YUV4MPEG2 4:2:0, or with --raw the frames as\n"
               "  they are served (I420 planes or BGR24 rows); --wav writes the sound\n");
  return 2;
}

bool WriteAll(FILE* out, const void* data, size_t size) {
  return std::fwrite(data, 1, size, out) == size;
}

void Put16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

bool WriteWav(kv_video_file::VideoFile& file, const std::string& path) {
  const kvfs_clip_info& info = file.Info();
  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) {
    std::fprintf(stderr, "avs2y4m: cannot write %s\n", path.c_str());
    return false;
  }
  const uint64_t bytes = static_cast<uint64_t>(info.sample_count) * info.channels * 2;
  const uint32_t data_size = bytes > 0xFFFFFFF0u ? 0xFFFFFFF0u : static_cast<uint32_t>(bytes);
  std::vector<uint8_t> header;
  for (char c : std::string("RIFF")) header.push_back(static_cast<uint8_t>(c));
  Put32(header, 36 + data_size);
  for (char c : std::string("WAVEfmt ")) header.push_back(static_cast<uint8_t>(c));
  Put32(header, 16);
  Put16(header, 1);  // PCM
  Put16(header, static_cast<uint32_t>(info.channels));
  Put32(header, static_cast<uint32_t>(info.audio_rate));
  Put32(header, static_cast<uint32_t>(info.audio_rate * info.channels * 2));
  Put16(header, static_cast<uint32_t>(info.channels * 2));
  Put16(header, 16);
  for (char c : std::string("data")) header.push_back(static_cast<uint8_t>(c));
  Put32(header, data_size);
  bool ok = WriteAll(out, header.data(), header.size());
  const int64_t chunk = 65536;
  std::vector<int16_t> samples(static_cast<size_t>(chunk) * info.channels);
  for (int64_t at = 0; ok && at < info.sample_count; at += chunk) {
    const int64_t count = std::min(chunk, info.sample_count - at);
    if (!file.Audio(at, count, KVFS_SAMPLE_S16, samples.data())) {
      std::fprintf(stderr, "avs2y4m: sound at sample %" PRId64 ": %s\n", at, file.Error().c_str());
      ok = false;
      break;
    }
    ok = WriteAll(out, samples.data(), static_cast<size_t>(count) * info.channels * 2);
  }
  if (std::fclose(out) != 0) ok = false;
  return ok;
}

bool WritePlanes(FILE* out, const kvfs_frame* f) {
  const int planes = f->pixel_format == KVFS_PIXEL_I420 ? 3 : 1;
  for (int p = 0; p < planes; ++p) {
    const int width = f->pixel_format == KVFS_PIXEL_BGR24 ? f->width * 3
                      : p == 0                            ? f->width
                                                          : (f->width + 1) / 2;
    const int rows = p == 0 ? f->height : (f->height + 1) / 2;
    for (int y = 0; y < rows; ++y)
      if (!WriteAll(out, f->data[p] + static_cast<ptrdiff_t>(y) * f->pitch[p],
                    static_cast<size_t>(width)))
        return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bool raw = false, info_only = false;
  std::string wav, script;
  int64_t first = 0, last = -1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--raw") {
      raw = true;
    } else if (arg == "--info") {
      info_only = true;
    } else if (arg == "--wav" && i + 1 < argc) {
      wav = argv[++i];
    } else if (arg == "--frames" && i + 1 < argc) {
      if (std::sscanf(argv[++i], "%" SCNd64 "-%" SCNd64, &first, &last) != 2 || first < 0 ||
          last < first)
        return Usage();
    } else if (!arg.empty() && arg[0] != '-' && script.empty()) {
      script = arg;
    } else {
      return Usage();
    }
  }
  if (script.empty()) return Usage();
  signal(SIGPIPE, SIG_IGN);

  std::string error;
  auto file = kv_video_file::VideoFile::Open(script, &error);
  if (!file) {
    std::fprintf(stderr, "avs2y4m: %s\n", error.c_str());
    return 1;
  }
  const kvfs_clip_info& info = file->Info();
  if (info_only) {
    std::printf("width %d\nheight %d\nformat %s\nfps %u/%u\nframes %" PRId64
                "\naudio_rate %d\nchannels %d\nsamples %" PRId64 "\nlibrary %s\n",
                info.width, info.height,
                info.pixel_format == KVFS_PIXEL_I420    ? "I420"
                : info.pixel_format == KVFS_PIXEL_BGR24 ? "BGR24"
                                                        : "none",
                info.fps_numerator, info.fps_denominator, info.frame_count, info.audio_rate,
                info.channels, info.sample_count, file->LibraryPath().c_str());
    return 0;
  }
  if (!wav.empty() && (info.audio_rate <= 0 || info.channels <= 0)) {
    std::fprintf(stderr, "avs2y4m: the script has no sound\n");
    return 1;
  }
  if (!wav.empty() && !WriteWav(*file, wav)) return 1;
  if (info.pixel_format == KVFS_PIXEL_NONE) return 0;

  if (last < 0 || last >= info.frame_count) last = info.frame_count - 1;
  std::vector<char> out_buffer(1 << 20);
  std::setvbuf(stdout, out_buffer.data(), _IOFBF, out_buffer.size());
  SwsContext* sws = nullptr;
  std::vector<uint8_t> yuv;
  const int cw = (info.width + 1) / 2, ch = (info.height + 1) / 2;
  if (!raw) {
    std::printf("YUV4MPEG2 W%d H%d F%u:%u Ip A0:0 C420jpeg\n", info.width, info.height,
                info.fps_numerator, info.fps_denominator);
    if (info.pixel_format == KVFS_PIXEL_BGR24) {
      sws = sws_getContext(info.width, info.height, AV_PIX_FMT_BGR24, info.width, info.height,
                           AV_PIX_FMT_YUV420P, SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr,
                           nullptr);
      yuv.resize(static_cast<size_t>(info.width) * info.height + 2 * cw * ch + 64);
    }
  }
  for (int64_t n = first; n <= last; ++n) {
    const kvfs_frame* f = file->Frame(n);
    if (!f) {
      std::fprintf(stderr, "avs2y4m: frame %" PRId64 ": %s\n", n, file->Error().c_str());
      return 1;
    }
    bool ok = true;
    if (!raw) ok = WriteAll(stdout, "FRAME\n", 6);
    if (ok && sws) {
      uint8_t* dst[4] = {yuv.data(), yuv.data() + info.width * info.height,
                         yuv.data() + info.width * info.height + cw * ch, nullptr};
      int dst_pitch[4] = {info.width, cw, cw, 0};
      const uint8_t* src[4] = {f->data[0], nullptr, nullptr, nullptr};
      int src_pitch[4] = {f->pitch[0], 0, 0, 0};
      sws_scale(sws, src, src_pitch, 0, info.height, dst, dst_pitch);
      ok =
          WriteAll(stdout, yuv.data(), static_cast<size_t>(info.width) * info.height + 2 * cw * ch);
    } else if (ok) {
      ok = WritePlanes(stdout, f);
    }
    if (!ok) {
      std::fprintf(stderr, "avs2y4m: standard output closed\n");
      return 1;
    }
  }
  sws_freeContext(sws);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
