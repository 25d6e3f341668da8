// Frame access times of qmvideo.dll on a title, against FFmpeg's libraries
// doing the same in this process.
//
//   qmvideo_bench <DVD folder (holding VIDEO_TS)> <work-folder> [vts] [pgc] [film flag]
//
// Indexes the title set with tessmar and cuts out the program chain
// (default VTS 1, PGC 1, film flag 0). The peer opens the title's bytes
// (the ranges its ".vfm" names, written out) with libavformat, seeks with
// av_seek_frame to the frame's time and decodes with libavcodec (one thread,
// as qmvideo) up to the frame, converted to blue-green-red rows as
// getRGBFrame gives them. Both are asked for the same frames, turn about:
//   - random frames, each far from the one before (median and worst);
//   - every frame in order, from the start;
//   - border detection's sampling: open, 20 frames at i x (N / 21), close.
// Times are processor time of this thread, medians of the paired requests;
// a ratio below 1 means qmvideo is faster. The number of requests where the
// two gave different bytes is printed too (the peer seeks by time stamp).
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "outside/qmvideo/qmvideo.h"
#include "tessmar/formats/index_text.h"
#include "tessmar/formats/virtual_file.h"
#include "tessmar/include/tessmar.h"
#include "tessmar/vob_list.h"

namespace {

// Processor time of this thread: the figures of a busy machine without the
// waits.
double CpuNow() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// The bytes the ".vfm" names, in order, into `out`.
bool WriteTitleBytes(const std::string& vfm, const std::string& out) {
  namespace formats = tessmar::formats;
  std::string text;
  formats::VirtualFileMap map;
  formats::VirtualFile title;
  if (!formats::ReadWholeFile(vfm, &text) || !formats::ParseVirtualFileMap(text, &map) ||
      !title.Open(map))
    return false;
  FILE* o = std::fopen(out.c_str(), "wb");
  bool ok = o != nullptr;
  std::vector<uint8_t> buf(1 << 20);
  for (int64_t at = 0; ok && at < title.Size();) {
    const size_t n = title.Read(at, buf.data(), buf.size());
    ok = n > 0 && std::fwrite(buf.data(), 1, n, o) == n;
    at += static_cast<int64_t>(n);
  }
  if (o) std::fclose(o);
  return ok;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

uint32_t Crc(const uint8_t* bgr, size_t size) {
  return static_cast<uint32_t>(crc32(0, bgr, static_cast<uInt>(size)));
}

// Frames of the title's bytes by libavformat and libavcodec: seek to the
// frame's time, decode up to it, convert.
class FfmpegPeer {
 public:
  ~FfmpegPeer() { Close(); }
  bool Open(const std::string& path, AVRational frame_rate) {
    Close();
    frame_rate_ = frame_rate;
    if (avformat_open_input(&format_, path.c_str(), nullptr, nullptr) < 0 ||
        avformat_find_stream_info(format_, nullptr) < 0)
      return false;
    stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (stream_ < 0) return false;
    const AVStream* s = format_->streams[stream_];
    const AVCodec* codec = avcodec_find_decoder(s->codecpar->codec_id);
    codec_ = avcodec_alloc_context3(codec);
    if (!codec_ || avcodec_parameters_to_context(codec_, s->codecpar) < 0) return false;
    codec_->thread_count = 1;
    if (avcodec_open2(codec_, codec, nullptr) < 0) return false;
    time_base_ = s->time_base;
    start_ = s->start_time == AV_NOPTS_VALUE ? 0 : s->start_time;
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    next_ = 0;
    return packet_ && frame_;
  }
  void Close() {
    sws_freeContext(sws_);
    sws_ = nullptr;
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    avcodec_free_context(&codec_);
    if (format_) avformat_close_input(&format_);
  }
  // Frame n as blue-green-red rows; null when it cannot be had. After a seek
  // the decoding starts at a key frame at or before the frame (the seek goes
  // further back while the first key frame lies after it), as an accurate
  // seek must.
  const uint8_t* Frame(int n) {
    const int64_t target = start_ + av_rescale_q(n, av_inv_q(frame_rate_), time_base_);
    const int64_t half = av_rescale_q(1, av_inv_q(frame_rate_), time_base_) / 2;
    const int64_t second = av_rescale_q(1, AVRational{1, 1}, time_base_);
    int64_t back = 0;
    bool wait_key = false;
    auto seek = [&]() {
      wait_key = true;
      avcodec_flush_buffers(codec_);
      return back <= 60 * second &&
             av_seek_frame(format_, stream_, target - back, AVSEEK_FLAG_BACKWARD) >= 0;
    };
    if (n != next_ && !seek()) return nullptr;
    for (;;) {
      int r = avcodec_receive_frame(codec_, frame_);
      if (r == 0) {
        const int64_t t = frame_->best_effort_timestamp;
        if (t == AV_NOPTS_VALUE) continue;
        if (wait_key) {
          if (!frame_->key_frame) continue;
          wait_key = false;
        }
        if (t < target - half) continue;
        if (t > target + half) {  // started past it
          back += second;
          if (!seek()) return nullptr;
          continue;
        }
        next_ = n + 1;
        return Convert();
      }
      if (r != AVERROR(EAGAIN)) return nullptr;
      if (av_read_frame(format_, packet_) < 0) {
        avcodec_send_packet(codec_, nullptr);  // drain at the end
        continue;
      }
      if (packet_->stream_index == stream_) avcodec_send_packet(codec_, packet_);
      av_packet_unref(packet_);
    }
  }

 private:
  const uint8_t* Convert() {
    sws_ = sws_getCachedContext(
        sws_, frame_->width, frame_->height, static_cast<AVPixelFormat>(frame_->format),
        frame_->width, frame_->height, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!sws_) return nullptr;
    // As FFmpeg's command line converts: video levels stretched to 0-255.
    sws_setColorspaceDetails(sws_, sws_getCoefficients(frame_->colorspace),
                             frame_->color_range == AVCOL_RANGE_JPEG,
                             sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    bgr_.resize(static_cast<size_t>(frame_->width) * frame_->height * 3);
    uint8_t* dst[4] = {bgr_.data(), nullptr, nullptr, nullptr};
    int stride[4] = {frame_->width * 3, 0, 0, 0};
    if (sws_scale(sws_, frame_->data, frame_->linesize, 0, frame_->height, dst, stride) !=
        frame_->height)
      return nullptr;
    return bgr_.data();
  }

  AVFormatContext* format_ = nullptr;
  AVCodecContext* codec_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* frame_ = nullptr;
  SwsContext* sws_ = nullptr;
  int stream_ = -1;
  AVRational frame_rate_{25, 1};
  AVRational time_base_{1, 90000};
  int64_t start_ = 0;
  int next_ = 0;
  std::vector<uint8_t> bgr_;
};

// Times of the same requests made of both; the bytes compared.
struct Paired {
  std::vector<double> ours, theirs;  // ms of processor time
  int failures = 0;
  int differing = 0;
};

// The title of the disc indexed and cut out into the work folder: its
// video index and its bytes as one MPEG file for the peer. Empty on failure.
std::string PrepareTitle(const std::string& dvd, const std::string& work, int vts, int pgc) {
  char name[64];
  std::vector<std::string> vobs;
  for (int k = 1; k <= 9; ++k) {
    std::snprintf(name, sizeof name, "/VIDEO_TS/VTS_%02d_%d.VOB", vts, k);
    if (!Exists(dvd + name)) break;
    vobs.push_back(dvd + name);
  }
  std::snprintf(name, sizeof name, "/vts%02d", vts);
  const std::string vts_base = work + name;
  static TessmarStatus status;
  if (vobs.empty() ||
      Tessmar(tessmar::VobList(vobs).Files(), vts_base.c_str(), 0, 0, &status) != 0) {
    std::fprintf(stderr, "cannot index %s\n", dvd.c_str());
    return {};
  }
  while (std::atomic_ref<uint8_t>(status.running).load()) usleep(2000);
  std::snprintf(name, sizeof name, "/VIDEO_TS/VTS_%02d_0.IFO", vts);
  const std::string ifo = dvd + name;
  std::snprintf(name, sizeof name, "/vts%02d_pgc%02d_a0", vts, pgc);
  const std::string title = work + name;
  if (!qmRebuild(vts_base.c_str(), ifo.c_str(), title.c_str(), 1, 0, 0, pgc, 0)) {
    std::fprintf(stderr, "cannot rebuild the title\n");
    return {};
  }
  if (!WriteTitleBytes(title + ".vfm", title + ".mpg")) return {};
  return title;
}

// The title as both decoders serve it.
struct Sources {
  std::string qmvi, mpg;
  unsigned char film = 0;
  int frames = 0;
  size_t frame_bytes = 0;
  AVRational rate{0, 1};
  FfmpegPeer peer;
};

// One request of each, turn about (ours first on even requests).
void Request(Sources& s, Paired* p, int n, int i) {
  uint32_t crcs[2] = {0, 0};
  for (int k = 0; k < 2; ++k) {
    const bool ours = (k == 0) == (i % 2 == 0);
    const double c0 = CpuNow();
    const uint8_t* f = ours ? getRGBFrame(n) : s.peer.Frame(n);
    (ours ? p->ours : p->theirs).push_back((CpuNow() - c0) * 1000);
    if (!f) ++p->failures;
    crcs[ours ? 0 : 1] = f ? Crc(f, s.frame_bytes) : 0;
  }
  if (crcs[0] != crcs[1]) ++p->differing;
}

void ReportPaired(const char* what, const Paired& p) {
  std::printf(
      "%s: qmvideo median %.2f ms (worst %.2f), FFmpeg median %.2f ms (worst %.2f), ratio %.3f",
      what, Median(p.ours), *std::max_element(p.ours.begin(), p.ours.end()), Median(p.theirs),
      *std::max_element(p.theirs.begin(), p.theirs.end()), Median(p.ours) / Median(p.theirs));
  std::printf(" (%zu requests, %d failed, %d differing)\n", p.ours.size(), p.failures, p.differing);
}

// Random frames, each far from the one before.
int RandomFrames(Sources& s) {
  std::mt19937 random(2026);
  Paired random_frames;
  int previous = s.frames / 2;
  for (int i = 0; i < 200; ++i) {
    int n;
    do n = static_cast<int>(random() % s.frames);
    while (s.frames > 60 && std::abs(n - previous) < 30);
    previous = n;
    Request(s, &random_frames, n, i);
  }
  ReportPaired("random frames", random_frames);
  return random_frames.failures;
}

// Every frame in order, both from the start.
int SequentialFrames(Sources& s) {
  openMPEG2Source(s.qmvi.c_str(), s.film);
  s.peer.Open(s.mpg, s.rate);
  Paired sequential;
  const int count = std::min(s.frames, 3000);
  for (int n = 0; n < count; ++n) Request(s, &sequential, n, n);
  double ours_total = 0, theirs_total = 0;
  for (double t : sequential.ours) ours_total += t;
  for (double t : sequential.theirs) theirs_total += t;
  std::printf(
      "sequential: qmvideo %.1f frames per processor second, FFmpeg %.1f, ratio %.3f "
      "(%d frames, %d differing)\n",
      count / ours_total * 1000, count / theirs_total * 1000, ours_total / theirs_total, count,
      sequential.differing);
  closeVideo();
  return sequential.failures;
}

// Border detection's sampling: open, 20 frames at i x (N / 21), close; five
// rounds, turn about.
int BorderSampling(Sources& s) {
  std::vector<double> ours_rounds, theirs_rounds;
  int failures = 0;
  for (int round = 0; round < 6; ++round) {
    for (int k = 0; k < 2; ++k) {
      const bool ours = (k == 0) == (round % 2 == 0);
      const double c0 = CpuNow();
      const bool opened =
          ours ? openMPEG2Source(s.qmvi.c_str(), s.film) != nullptr : s.peer.Open(s.mpg, s.rate);
      for (int i = 1; i <= 20 && opened; ++i) {
        const int n = i * (s.frames / 21);
        if (!(ours ? getRGBFrame(n) : s.peer.Frame(n))) ++failures;
      }
      if (ours)
        closeVideo();
      else
        s.peer.Close();
      if (!opened) ++failures;
      (ours ? ours_rounds : theirs_rounds).push_back(CpuNow() - c0);
    }
  }
  std::printf(
      "border sampling (open, 20 frames, close): qmvideo %.3f s, FFmpeg %.3f s, ratio %.3f\n",
      Median(ours_rounds), Median(theirs_rounds), Median(ours_rounds) / Median(theirs_rounds));
  return failures;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <DVD folder> <work-folder> [vts] [pgc] [film flag]\n", argv[0]);
    return 2;
  }
  // Absolute paths: the index files name the VOBs as given.
  mkdir(argv[2], 0755);
  char dvd_path[PATH_MAX], work_path[PATH_MAX];
  if (!realpath(argv[1], dvd_path) || !realpath(argv[2], work_path)) {
    std::fprintf(stderr, "no such folder\n");
    return 1;
  }
  const int vts = argc > 3 ? std::atoi(argv[3]) : 1;
  const int pgc = argc > 4 ? std::atoi(argv[4]) : 1;
  Sources s;
  s.film = argc > 5 ? static_cast<unsigned char>(std::atoi(argv[5])) : 0;
  const std::string title = PrepareTitle(dvd_path, work_path, vts, pgc);
  if (title.empty()) return 1;
  s.qmvi = title + ".qmvi";
  s.mpg = title + ".mpg";

  const QmVideoRecord* r = openMPEG2Source(s.qmvi.c_str(), s.film);
  if (!r) {
    std::fprintf(stderr, "cannot open %s\n", s.qmvi.c_str());
    return 1;
  }
  s.frames = r->frames;
  s.frame_bytes = static_cast<size_t>(r->width) * r->height * 3;
  s.rate = AVRational{r->rateNumerator, r->rateDenominator};
  std::printf("title %s: %dx%d, %d frames at %.3f/s, film flag %d\n", s.qmvi.c_str(), r->width,
              r->height, s.frames, av_q2d(s.rate), s.film);
  if (s.film == 0 && r->frames != r->codedFrames)
    std::printf("note: the title repeats fields; the peer's frames are coded frames\n");
  if (!s.peer.Open(s.mpg, s.rate)) {
    std::fprintf(stderr, "FFmpeg cannot open %s\n", s.mpg.c_str());
    return 1;
  }

  int failures = RandomFrames(s);
  failures += SequentialFrames(s);
  failures += BorderSampling(s);
  if (failures) std::printf("%d requests failed\n", failures);
  return failures ? 1 : 0;
}
