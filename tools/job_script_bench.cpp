// A complete job script served by the frameserver against FFmpeg doing the
// same work on the same bytes, in one run:
//
//   job_script_bench <VIDEO_TS folder> [passes] [audio stream] [sub-picture stream]
//
// The title set is indexed and program chain 1 cut out with tessmar into a
// temporary folder. The script, in the job writer's shape: complex inverse
// telecine (Telecide, Decimate), crop of 8 pixels left and right,
// LanczosResize to 640 x 480, VobSub, and the AC-3 stream mixed to stereo;
// every frame and, after each frame, its samples are fetched through
// avisynth.dll as an encoder does. FFmpeg does the equivalent (fieldmatch,
// decimate, crop, lanczos scale, the sub-picture stream drawn on a canvas,
// scaled and overlaid, with the index's palette; AC-3 decoded and mixed to
// stereo samples of 16 bits) twice: with its libraries in this process, as
// the frameserver runs in it (demuxing, decoding and filtering on one
// thread, each frame and its samples taken from the graph's sinks), and as
// the ffmpeg command into a null output, whose count includes its start
// (loading its libraries, probing the streams). The runs alternate; the
// processor time and the wall time of each are reported, with the median
// ratio of neighbouring passes; on a loaded machine the processor time is
// the fair measure, and the in-process run the like-for-like peer.
#include <dlfcn.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "outside/frameserver/include/frameserver.h"
#include "tessmar/formats/index_text.h"
#include "tessmar/formats/virtual_file.h"
#include "tessmar/formats/virtual_file_map.h"
#include "tessmar/formats/vobsub_index.h"
#include "tessmar/include/tessmar.h"
#include "tessmar/vob_list.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

extern char** environ;

namespace {

// What a run delivered: frames, sample frames and a byte sum that keeps the
// work from being optimised away.
struct Served {
  uint64_t sum = 0;
  int64_t frames = 0, samples = 0;
};

struct Cost {
  double cpu = 0;   // seconds of processor time
  double wall = 0;  // seconds
};

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double SelfCpu() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return Seconds(u.ru_utime) + Seconds(u.ru_stime);
}

std::vector<std::string> VobPaths(const std::string& video_ts) {
  std::vector<std::string> list;
  for (int part = 1; part <= 9; ++part) {
    const std::string path = video_ts + "/VTS_01_" + std::to_string(part) + ".VOB";
    if (access(path.c_str(), R_OK) != 0) break;
    list.push_back(path);
  }
  return list;
}

// The concatenation of a map's byte ranges (the title's program stream).
bool WriteTitleBytes(const std::string& map_path, const std::string& out_path) {
  namespace formats = tessmar::formats;
  std::string text;
  formats::VirtualFileMap map;
  formats::VirtualFile title;
  if (!formats::ReadWholeFile(map_path, &text) || !formats::ParseVirtualFileMap(text, &map) ||
      !title.Open(map))
    return false;
  std::ofstream out(out_path, std::ios::binary);
  std::vector<uint8_t> buffer(1 << 20);
  for (int64_t at = 0; out && at < title.Size();) {
    const size_t n = title.Read(at, buffer.data(), buffer.size());
    if (n == 0) return false;
    out.write(reinterpret_cast<const char*>(buffer.data()), static_cast<std::streamsize>(n));
    at += static_cast<int64_t>(n);
  }
  return static_cast<bool>(out);
}

// The VobSub index's palette as FFmpeg's "palette" option takes it
// ("rrggbb,rrggbb,..."); empty when the index cannot be read.
std::string FfmpegPalette(const std::string& idx_path) {
  namespace formats = tessmar::formats;
  std::string text;
  formats::VobSubIndex index;
  if (!formats::ReadWholeFile(idx_path, &text) || !formats::ParseVobSubIndex(text, &index))
    return "";
  std::string palette;
  for (const formats::Rgb& c : index.palette) {
    char colour[8];
    std::snprintf(colour, sizeof colour, "%02x%02x%02x", c.red, c.green, c.blue);
    palette += (palette.empty() ? "" : ",") + std::string(colour);
  }
  return palette;
}

Cost Frameserver(void* library, const std::string& script, Served* served_out) {
  auto open = reinterpret_cast<kvfs_open_script_fn>(dlsym(library, "kvfs_open_script"));
  auto info = reinterpret_cast<kvfs_script_info_fn>(dlsym(library, "kvfs_script_info"));
  auto frame = reinterpret_cast<kvfs_get_frame_fn>(dlsym(library, "kvfs_get_frame"));
  auto audio = reinterpret_cast<kvfs_get_audio_fn>(dlsym(library, "kvfs_get_audio"));
  auto close = reinterpret_cast<kvfs_close_script_fn>(dlsym(library, "kvfs_close_script"));
  const double wall = Now(), cpu = SelfCpu();
  kvfs_open_error error{};
  kvfs_script* s = open(script.c_str(), &error);
  if (!s) {
    std::fprintf(stderr, "job_script_bench: %s\n", error.text);
    std::exit(1);
  }
  kvfs_clip_info clip{};
  info(s, &clip);
  std::vector<int16_t> samples;
  int64_t served = 0;
  for (int64_t n = 0; n < clip.frame_count; ++n) {
    const kvfs_frame* f = frame(s, n);
    if (!f) std::exit(1);
    served_out->sum += f->data[0][static_cast<size_t>(f->pitch[0]) * (f->height / 2) + n % 100];
    ++served_out->frames;
    // The samples up to the end of this frame.
    const int64_t end =
        (n + 1) * clip.audio_rate * int64_t{clip.fps_denominator} / clip.fps_numerator;
    const int64_t count = std::min(end, clip.sample_count) - served;
    if (count > 0) {
      samples.resize(static_cast<size_t>(count * clip.channels));
      if (audio(s, served, count, KVFS_SAMPLE_S16, samples.data()) != 0) std::exit(1);
      served_out->sum += static_cast<uint16_t>(samples[0]);
      served += count;
      served_out->samples += count;
    }
  }
  close(s);
  return {SelfCpu() - cpu, Now() - wall};
}

// What FFmpeg is given: the title's program stream and the streams' ids.
struct PeerJob {
  std::string mpg;
  std::string palette;  // the index's colours, "rrggbb,..."
  int audio_id = 0x80;
  int sub_id = 0x20;
  std::string video_graph;  // [in] and [sub] in, [out] out
  std::string audio_graph;
};

[[noreturn]] void PeerFailed(const char* what) {
  std::fprintf(stderr, "job_script_bench: FFmpeg in process: %s\n", what);
  std::exit(1);
}

AVCodecContext* OpenDecoder(const AVStream* st, AVDictionary** options) {
  const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
  AVCodecContext* c = codec ? avcodec_alloc_context3(codec) : nullptr;
  if (!c || avcodec_parameters_to_context(c, st->codecpar) < 0) PeerFailed("decoder");
  c->pkt_timebase = st->time_base;
  c->thread_count = 1;
  if (avcodec_open2(c, codec, options) < 0) PeerFailed("decoder");
  return c;
}

// A source named `name` with `args`, linked as the graph text's input `name`.
AVFilterContext* Source(AVFilterGraph* graph, const char* filter, const char* name,
                        const std::string& args, AVFilterInOut** inputs) {
  AVFilterContext* src = nullptr;
  if (avfilter_graph_create_filter(&src, avfilter_get_by_name(filter), name, args.c_str(), nullptr,
                                   graph) < 0)
    PeerFailed(filter);
  AVFilterInOut* io = avfilter_inout_alloc();
  io->name = av_strdup(name);
  io->filter_ctx = src;
  io->pad_idx = 0;
  io->next = *inputs;
  *inputs = io;
  return src;
}

AVFilterContext* Graph(AVFilterGraph* graph, const char* sink_filter, const std::string& text,
                       AVFilterInOut* inputs) {
  AVFilterContext* sink = nullptr;
  if (avfilter_graph_create_filter(&sink, avfilter_get_by_name(sink_filter), "out", nullptr,
                                   nullptr, graph) < 0)
    PeerFailed(sink_filter);
  AVFilterInOut* outputs = avfilter_inout_alloc();
  outputs->name = av_strdup("out");
  outputs->filter_ctx = sink;
  outputs->pad_idx = 0;
  // The text's open inputs are the sources, its open output the sink.
  if (avfilter_graph_parse_ptr(graph, text.c_str(), &outputs, &inputs, nullptr) < 0 ||
      avfilter_graph_config(graph, nullptr) < 0)
    PeerFailed("filter graph");
  avfilter_inout_free(&inputs);
  avfilter_inout_free(&outputs);
  return sink;
}

// Takes what the sink holds, summing a byte of each.
void Drain(AVFilterContext* sink, AVFrame* frame, Served* served) {
  while (av_buffersink_get_frame(sink, frame) >= 0) {
    served->sum += frame->data[0][frame->linesize[0] > 0 ? frame->linesize[0] : 0];
    if (frame->nb_samples > 0)
      served->samples += frame->nb_samples;
    else
      ++served->frames;
    av_frame_unref(frame);
  }
}

// A transparent canvas of the picture's size, as FFmpeg draws sub-pictures
// on for its filter graphs, with `sub`'s bitmaps drawn on it.
AVFrame* Canvas(int width, int height, const AVSubtitle* sub) {
  AVFrame* f = av_frame_alloc();
  f->format = AV_PIX_FMT_RGB32;
  f->width = width;
  f->height = height;
  if (av_frame_get_buffer(f, 0) < 0) PeerFailed("canvas");
  for (int y = 0; y < height; ++y)
    std::fill_n(f->data[0] + static_cast<ptrdiff_t>(y) * f->linesize[0], width * 4, 0);
  for (unsigned r = 0; sub && r < sub->num_rects; ++r) {
    const AVSubtitleRect* rect = sub->rects[r];
    if (rect->type != SUBTITLE_BITMAP) continue;
    const auto* colours = reinterpret_cast<const uint32_t*>(rect->data[1]);
    for (int y = 0; y < rect->h && rect->y + y < height; ++y) {
      auto* row = reinterpret_cast<uint32_t*>(f->data[0] + static_cast<ptrdiff_t>(rect->y + y) *
                                                               f->linesize[0]) +
                  rect->x;
      const uint8_t* in = rect->data[0] + static_cast<ptrdiff_t>(y) * rect->linesize[0];
      for (int x = 0; x < rect->w && rect->x + x < width; ++x) row[x] = colours[in[x]];
    }
  }
  return f;
}

// The ffmpeg command's work done with the libraries in this process: one
// thread decodes the title's streams and runs them through the same filter
// graphs.
class InProcessPeer {
 public:
  InProcessPeer(const PeerJob& job, Served* sum) : job_(job), sum_(sum) {
    OpenStreams();
    BuildVideoGraph();
    BuildAudioGraph();
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    out_ = av_frame_alloc();
    blank_ = Canvas(width_, height_, nullptr);
  }
  ~InProcessPeer() {
    av_frame_free(&shown_);
    av_frame_free(&blank_);
    av_frame_free(&out_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    avfilter_graph_free(&vgraph_);
    avfilter_graph_free(&agraph_);
    avcodec_free_context(&vdec_);
    avcodec_free_context(&adec_);
    avcodec_free_context(&sdec_);
    avformat_close_input(&format_);
  }

  void Run() {
    while (av_read_frame(format_, packet_) >= 0) {
      if (packet_->stream_index == video_) {
        if (avcodec_send_packet(vdec_, packet_) < 0) PeerFailed("video decoding");
        VideoFrames();
      } else if (packet_->stream_index == audio_) {
        if (avcodec_send_packet(adec_, packet_) >= 0) AudioFrames();
      } else if (packet_->stream_index == subs_) {
        SubtitlePacket();
      }
      av_packet_unref(packet_);
    }
    avcodec_send_packet(vdec_, nullptr);
    VideoFrames();
    avcodec_send_packet(adec_, nullptr);
    AudioFrames();
    for (AVFilterContext* src : {vsrc_, ssrc_, asrc_})
      if (av_buffersrc_add_frame(src, nullptr) < 0) PeerFailed("the end of the filters");
    Drain(vsink_, out_, sum_);
    Drain(asink_, out_, sum_);
  }

 private:
  void OpenStreams() {
    if (avformat_open_input(&format_, job_.mpg.c_str(), nullptr, nullptr) < 0 ||
        avformat_find_stream_info(format_, nullptr) < 0)
      PeerFailed("cannot read the title");
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
      const AVStream* st = format_->streams[i];
      if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && video_ < 0)
        video_ = static_cast<int>(i);
      if (st->id == job_.audio_id) audio_ = static_cast<int>(i);
      if (st->id == job_.sub_id) subs_ = static_cast<int>(i);
    }
    if (video_ < 0 || audio_ < 0 || subs_ < 0) PeerFailed("a stream is missing");
    vst_ = format_->streams[video_];
    sst_ = format_->streams[subs_];
    vdec_ = OpenDecoder(vst_, nullptr);
    adec_ = OpenDecoder(format_->streams[audio_], nullptr);
    AVDictionary* sub_options = nullptr;
    av_dict_set(&sub_options, "palette", job_.palette.c_str(), 0);
    sdec_ = OpenDecoder(sst_, &sub_options);
    av_dict_free(&sub_options);
    width_ = vdec_->width;
    height_ = vdec_->height;
  }

  void BuildVideoGraph() {
    const AVRational rate = av_guess_frame_rate(format_, const_cast<AVStream*>(vst_), nullptr);
    char args[512];
    vgraph_ = avfilter_graph_alloc();
    vgraph_->nb_threads = 1;
    AVFilterInOut* inputs = nullptr;
    std::snprintf(args, sizeof args,
                  "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:frame_rate=%d/%d:pixel_aspect=%d/%d",
                  width_, height_, vdec_->pix_fmt, vst_->time_base.num, vst_->time_base.den,
                  rate.num, rate.den, std::max(vdec_->sample_aspect_ratio.num, 1),
                  std::max(vdec_->sample_aspect_ratio.den, 1));
    vsrc_ = Source(vgraph_, "buffer", "in", args, &inputs);
    std::snprintf(args, sizeof args, "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d", width_, height_,
                  AV_PIX_FMT_RGB32, vst_->time_base.num, vst_->time_base.den);
    ssrc_ = Source(vgraph_, "buffer", "sub", args, &inputs);
    vsink_ = Graph(vgraph_, "buffersink", job_.video_graph, inputs);
  }

  void BuildAudioGraph() {
    char args[512];
    agraph_ = avfilter_graph_alloc();
    agraph_->nb_threads = 1;
    AVFilterInOut* inputs = nullptr;
    char layout[64];
    av_channel_layout_describe(&adec_->ch_layout, layout, sizeof layout);
    std::snprintf(
        args, sizeof args, "time_base=1/%d:sample_rate=%d:sample_fmt=%s:channel_layout=%s",
        adec_->sample_rate, adec_->sample_rate, av_get_sample_fmt_name(adec_->sample_fmt), layout);
    asrc_ = Source(agraph_, "abuffer", "in", args, &inputs);
    asink_ = Graph(agraph_, "abuffersink", job_.audio_graph, inputs);
  }

  void VideoFrames() {
    while (avcodec_receive_frame(vdec_, frame_) >= 0) {
      frame_->pts = frame_->best_effort_timestamp;
      // The canvas of this instant goes in when it changes or when the
      // overlay has asked for a newer one, as the ffmpeg command feeds it.
      AVFrame* canvas = shown_ && frame_->pts >= start_ && frame_->pts < end_ ? shown_ : blank_;
      if (canvas != pushed_ || av_buffersrc_get_nb_failed_requests(ssrc_) > 0) {
        canvas->pts = frame_->pts;
        if (av_buffersrc_add_frame_flags(ssrc_, canvas, AV_BUFFERSRC_FLAG_KEEP_REF) < 0)
          PeerFailed("sub-picture filters");
        pushed_ = canvas;
      }
      if (av_buffersrc_add_frame(vsrc_, frame_) < 0) PeerFailed("video filters");
      Drain(vsink_, out_, sum_);
    }
  }

  void AudioFrames() {
    while (avcodec_receive_frame(adec_, frame_) >= 0) {
      if (av_buffersrc_add_frame(asrc_, frame_) < 0) PeerFailed("audio filters");
      Drain(asink_, out_, sum_);
    }
  }

  void SubtitlePacket() {
    AVSubtitle sub{};
    int got = 0;
    if (avcodec_decode_subtitle2(sdec_, &sub, &got, packet_) < 0 || !got) return;
    const int64_t pts = packet_->pts;
    start_ = pts + av_rescale_q(sub.start_display_time, {1, 1000}, sst_->time_base);
    end_ = sub.end_display_time == UINT32_MAX
               ? INT64_MAX
               : pts + av_rescale_q(sub.end_display_time, {1, 1000}, sst_->time_base);
    if (pushed_ == shown_) pushed_ = nullptr;
    av_frame_free(&shown_);
    shown_ = Canvas(width_, height_, &sub);
    avsubtitle_free(&sub);
  }

  const PeerJob& job_;
  Served* sum_;
  AVFormatContext* format_ = nullptr;
  int video_ = -1, audio_ = -1, subs_ = -1;
  const AVStream* vst_ = nullptr;
  const AVStream* sst_ = nullptr;
  AVCodecContext *vdec_ = nullptr, *adec_ = nullptr, *sdec_ = nullptr;
  int width_ = 0, height_ = 0;
  AVFilterGraph *vgraph_ = nullptr, *agraph_ = nullptr;
  AVFilterContext *vsrc_ = nullptr, *ssrc_ = nullptr, *vsink_ = nullptr;
  AVFilterContext *asrc_ = nullptr, *asink_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame *frame_ = nullptr, *out_ = nullptr, *blank_ = nullptr;
  AVFrame* shown_ = nullptr;  // the sub-picture on its canvas, from `start_` to `end_`
  int64_t start_ = 0, end_ = 0;
  AVFrame* pushed_ = nullptr;  // the canvas the graph holds
};

Cost FfmpegInProcess(const PeerJob& job, Served* sum) {
  const double wall = Now(), cpu = SelfCpu();
  {
    InProcessPeer peer(job, sum);
    peer.Run();
  }
  return {SelfCpu() - cpu, Now() - wall};
}

Cost FfmpegCommand(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const double wall = Now();
  pid_t pid;
  if (posix_spawnp(&pid, "ffmpeg", nullptr, nullptr, argv.data(), environ) != 0) std::exit(1);
  int status = 0;
  rusage u{};
  if (wait4(pid, &status, 0, &u) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "job_script_bench: ffmpeg failed\n");
    std::exit(1);
  }
  return {Seconds(u.ru_utime) + Seconds(u.ru_stime), Now() - wall};
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The title cut out of the disc: its bytes as one MPEG file for the peer,
// its sub-picture stream and the palette as ffmpeg takes it.
struct PreparedTitle {
  std::string folder;  // the temporary work folder
  std::string title;   // the title's base name in it
  std::string st;      // "_stN" of the sub-picture stream
  std::string palette;
};

bool PrepareTitle(const std::string& video_ts, int sub_stream, PreparedTitle* out) {
  char folder_template[] = "/tmp/kv-job-bench-XXXXXX";
  if (!mkdtemp(folder_template)) return false;
  out->folder = folder_template;
  const std::string vts = out->folder + "/vts01";
  out->title = out->folder + "/vts01_pgc01_a0";
  TessmarStatus status{};
  if (Tessmar(tessmar::VobList(VobPaths(video_ts)).Files(), vts.c_str(), 1, 1, &status) != 0)
    return false;
  while (__atomic_load_n(&status.running, __ATOMIC_ACQUIRE) ||
         !__atomic_load_n(&status.ended, __ATOMIC_ACQUIRE))
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (qmRebuild(vts.c_str(), (video_ts + "/VTS_01_0.IFO").c_str(), out->title.c_str(), 1, 1, 1, 1,
                0) != 1) {
    std::fprintf(stderr, "job_script_bench: cannot cut out the title\n");
    return false;
  }
  out->st = "_st" + std::to_string(sub_stream);
  std::rename((vts + out->st + ".sub").c_str(), (out->title + out->st + ".sub").c_str());
  if (!WriteTitleBytes(out->title + ".vfm", out->title + ".mpg")) return false;
  out->palette = FfmpegPalette(out->title + out->st + ".idx");
  if (out->palette.empty()) {
    std::fprintf(stderr, "job_script_bench: the title has no sub-picture stream %d\n", sub_stream);
    return false;
  }
  return true;
}

// The job's script, as the job writer makes it for such a title.
void WriteScript(const std::string& program, const std::string& script, const std::string& st,
                 int audio_stream) {
  FILE* f = std::fopen(script.c_str(), "wb");
  std::fprintf(f,
               "LoadPlugin(\"%sqmvideo.dll\")\r\nLoadPlugin(\"%sDecomb.dll\")\r\n"
               "LoadPlugin(\"%sqmaudio_ac3.dll\")\r\nLoadPlugin(\"%sVSFilter.dll\")\r\n\r\n"
               "video = qmVideoSource(\"vts01_pgc01_a0.qmvi\", idct=4, force_film=false)\r\n"
               "video = Telecide(video, order=1).Decimate(cycle=5)\r\n"
               "video = LanczosResize(video, 640, 480, 8, 0, 704, 480)\r\n"
               "video = VobSub(video, \"vts01_pgc01_a0%s.idx\")\r\n\r\n"
               "audio = qmAudioAC3Source(\"vts01_pgc01_a0_at%d.vfm\", channels=2)\r\n\r\n"
               "AudioDub(video, audio)\r\n",
               program.c_str(), program.c_str(), program.c_str(), program.c_str(), st.c_str(),
               audio_stream);
  std::fclose(f);
}

// The same work for ffmpeg: the filter graphs of the libraries in process,
// and the command line.
struct Peer {
  PeerJob job;
  std::vector<std::string> command;
};

Peer MakePeer(const PreparedTitle& title, int audio_stream, int sub_stream) {
  char level[32];
  std::snprintf(level, sizeof level, "%.17g", 0.70710678118654752440);
  const std::string video_graph =
      "fieldmatch=order=tff,decimate=cycle=5,crop=704:480:8:0,scale=640:480:flags=lanczos";
  const std::string audio_graph = std::string("aresample=ochl=stereo:rematrix_maxval=1:") +
                                  "center_mix_level=" + level + ":surround_mix_level=" + level +
                                  ":lfe_mix_level=" + level;
  Peer peer;
  peer.job.mpg = title.title + ".mpg";
  peer.job.palette = title.palette;
  peer.job.audio_id = 0x80 + audio_stream;
  peer.job.sub_id = 0x20 + sub_stream;
  peer.job.video_graph = "[in]" + video_graph + "[v];[sub]scale=640:480[s];[v][s]overlay";
  peer.job.audio_graph = audio_graph + ",aformat=sample_fmts=s16";
  char audio_map[16];
  std::snprintf(audio_map, sizeof audio_map, "0:i:0x%x", peer.job.audio_id);
  peer.command = {"ffmpeg",
                  "-nostdin",
                  "-v",
                  "fatal",
                  "-threads",
                  "1",
                  "-palette",
                  title.palette,
                  "-i",
                  peer.job.mpg,
                  "-filter_complex_threads",
                  "1",
                  "-filter_threads",
                  "1",
                  "-filter_complex",
                  "[0:v]" + video_graph + "[v];[0:s]scale=640:480[s];[v][s]overlay[out]",
                  "-map",
                  "[out]",
                  "-map",
                  audio_map,
                  "-af",
                  audio_graph,
                  "-f",
                  "null",
                  "-"};
  return peer;
}

struct Runs {
  Cost best{1e9, 1e9};
  std::vector<double> cpu_ratios, wall_ratios;  // ours / this run's
  void Add(const Cost& c, const Cost& ours) {
    best = {std::min(best.cpu, c.cpu), std::min(best.wall, c.wall)};
    cpu_ratios.push_back(ours.cpu / c.cpu);
    wall_ratios.push_back(ours.wall / c.wall);
  }
};

struct Results {
  Cost best_ours{1e9, 1e9};
  Runs libraries, command;
  Served ours_served, peer_served;
};

// The order turns about every pass, which evens out warming up and drifting
// load.
Results RunPasses(void* library, const std::string& script, const Peer& peer, int passes) {
  Results r;
  for (int pass = 0; pass < passes; ++pass) {
    Cost ours, in_process, child;
    if (pass % 2) {
      child = FfmpegCommand(peer.command);
      in_process = FfmpegInProcess(peer.job, &(r.peer_served = {}));
      ours = Frameserver(library, script, &(r.ours_served = {}));
    } else {
      ours = Frameserver(library, script, &(r.ours_served = {}));
      in_process = FfmpegInProcess(peer.job, &(r.peer_served = {}));
      child = FfmpegCommand(peer.command);
    }
    r.best_ours = {std::min(r.best_ours.cpu, ours.cpu), std::min(r.best_ours.wall, ours.wall)};
    r.libraries.Add(in_process, ours);
    r.command.Add(child, ours);
  }
  return r;
}

void Report(const std::string& video_ts, int passes, const Results& r) {
  std::printf("title: %s, %d passes each\n", video_ts.c_str(), passes);
  std::printf("frameserver:               %6.2f s processor, %6.2f s wall (best pass)\n",
              r.best_ours.cpu, r.best_ours.wall);
  std::printf("ffmpeg libraries in process: %4.2f s processor, %6.2f s wall (best pass)\n",
              r.libraries.best.cpu, r.libraries.best.wall);
  std::printf("ffmpeg command:            %6.2f s processor, %6.2f s wall (best pass)\n",
              r.command.best.cpu, r.command.best.wall);
  std::printf("frameserver / ffmpeg in process: %.2f processor, %.2f wall\n",
              Median(r.libraries.cpu_ratios), Median(r.libraries.wall_ratios));
  std::printf("frameserver / ffmpeg command:    %.2f processor, %.2f wall\n",
              Median(r.command.cpu_ratios), Median(r.command.wall_ratios));
  std::printf("(medians of paired passes)\n");
  std::printf("served by the frameserver: %" PRId64 " frames, %" PRId64
              " samples (checksum %" PRIu64 ")\n",
              r.ours_served.frames, r.ours_served.samples, r.ours_served.sum);
  std::printf("served by ffmpeg in process: %" PRId64 " frames, %" PRId64
              " samples (checksum %" PRIu64 ")\n",
              r.peer_served.frames, r.peer_served.samples, r.peer_served.sum);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: job_script_bench <VIDEO_TS folder> [passes] [audio stream] "
                 "[sub-picture stream]\n");
    return 2;
  }
  char* real = realpath(argv[1], nullptr);
  if (!real) {
    std::fprintf(stderr, "job_script_bench: no folder %s\n", argv[1]);
    return 1;
  }
  const std::string video_ts = real;
  std::free(real);
  const int passes = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  const int audio_stream = argc > 3 ? std::atoi(argv[3]) : 0;
  const int sub_stream = argc > 4 ? std::atoi(argv[4]) : 0;

  PreparedTitle title;
  if (!PrepareTitle(video_ts, sub_stream, &title)) return 1;
  const std::string program = KV_PROGRAM_FOLDER "/";
  const std::string script = title.folder + "/out01.avs";
  WriteScript(program, script, title.st, audio_stream);
  const Peer peer = MakePeer(title, audio_stream, sub_stream);

  void* library = dlopen((program + "avisynth.dll").c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    std::fprintf(stderr, "job_script_bench: %s\n", dlerror());
    return 1;
  }
  Report(video_ts, passes, RunPasses(library, script, peer, passes));
  std::system(("rm -rf '" + title.folder + "'").c_str());
  return 0;
}
