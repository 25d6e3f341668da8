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

std::string VobList(const std::string& video_ts) {
  std::string list;
  for (int part = 1; part <= 9; ++part) {
    const std::string path = video_ts + "/VTS_01_" + std::to_string(part) + ".VOB";
    if (access(path.c_str(), R_OK) != 0) break;
    list += (list.empty() ? "" : "|") + path;
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

Cost FfmpegInProcess(const PeerJob& job, Served* sum) {
  const double wall = Now(), cpu = SelfCpu();
  AVFormatContext* format = nullptr;
  if (avformat_open_input(&format, job.mpg.c_str(), nullptr, nullptr) < 0 ||
      avformat_find_stream_info(format, nullptr) < 0)
    PeerFailed("cannot read the title");
  int video = -1, audio = -1, subs = -1;
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    const AVStream* st = format->streams[i];
    if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && video < 0) video = static_cast<int>(i);
    if (st->id == job.audio_id) audio = static_cast<int>(i);
    if (st->id == job.sub_id) subs = static_cast<int>(i);
  }
  if (video < 0 || audio < 0 || subs < 0) PeerFailed("a stream is missing");
  const AVStream* vst = format->streams[video];
  const AVStream* ast = format->streams[audio];
  const AVStream* sst = format->streams[subs];
  AVCodecContext* vdec = OpenDecoder(vst, nullptr);
  AVCodecContext* adec = OpenDecoder(ast, nullptr);
  AVDictionary* sub_options = nullptr;
  av_dict_set(&sub_options, "palette", job.palette.c_str(), 0);
  AVCodecContext* sdec = OpenDecoder(sst, &sub_options);
  av_dict_free(&sub_options);

  const int width = vdec->width, height = vdec->height;
  const AVRational rate = av_guess_frame_rate(format, const_cast<AVStream*>(vst), nullptr);
  char args[512];
  AVFilterGraph* vgraph = avfilter_graph_alloc();
  vgraph->nb_threads = 1;
  AVFilterInOut* vinputs = nullptr;
  std::snprintf(args, sizeof args,
                "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:frame_rate=%d/%d:pixel_aspect=%d/%d",
                width, height, vdec->pix_fmt, vst->time_base.num, vst->time_base.den, rate.num,
                rate.den, std::max(vdec->sample_aspect_ratio.num, 1),
                std::max(vdec->sample_aspect_ratio.den, 1));
  AVFilterContext* vsrc = Source(vgraph, "buffer", "in", args, &vinputs);
  std::snprintf(args, sizeof args, "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d", width, height,
                AV_PIX_FMT_RGB32, vst->time_base.num, vst->time_base.den);
  AVFilterContext* ssrc = Source(vgraph, "buffer", "sub", args, &vinputs);
  AVFilterContext* vsink = Graph(vgraph, "buffersink", job.video_graph, vinputs);

  AVFilterGraph* agraph = avfilter_graph_alloc();
  agraph->nb_threads = 1;
  AVFilterInOut* ainputs = nullptr;
  char layout[64];
  av_channel_layout_describe(&adec->ch_layout, layout, sizeof layout);
  std::snprintf(args, sizeof args, "time_base=1/%d:sample_rate=%d:sample_fmt=%s:channel_layout=%s",
                adec->sample_rate, adec->sample_rate, av_get_sample_fmt_name(adec->sample_fmt),
                layout);
  AVFilterContext* asrc = Source(agraph, "abuffer", "in", args, &ainputs);
  AVFilterContext* asink = Graph(agraph, "abuffersink", job.audio_graph, ainputs);

  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  AVFrame* out = av_frame_alloc();
  AVFrame* blank = Canvas(width, height, nullptr);
  AVFrame* shown = nullptr;  // the sub-picture on its canvas, from `start` to `end`
  int64_t start = 0, end = 0;
  AVFrame* pushed = nullptr;  // the canvas the graph holds
  auto video_frames = [&] {
    while (avcodec_receive_frame(vdec, frame) >= 0) {
      frame->pts = frame->best_effort_timestamp;
      // The canvas of this instant goes in when it changes or when the
      // overlay has asked for a newer one, as the ffmpeg command feeds it.
      AVFrame* canvas = shown && frame->pts >= start && frame->pts < end ? shown : blank;
      if (canvas != pushed || av_buffersrc_get_nb_failed_requests(ssrc) > 0) {
        canvas->pts = frame->pts;
        if (av_buffersrc_add_frame_flags(ssrc, canvas, AV_BUFFERSRC_FLAG_KEEP_REF) < 0)
          PeerFailed("sub-picture filters");
        pushed = canvas;
      }
      if (av_buffersrc_add_frame(vsrc, frame) < 0) PeerFailed("video filters");
      Drain(vsink, out, sum);
    }
  };
  auto audio_frames = [&] {
    while (avcodec_receive_frame(adec, frame) >= 0) {
      if (av_buffersrc_add_frame(asrc, frame) < 0) PeerFailed("audio filters");
      Drain(asink, out, sum);
    }
  };
  while (av_read_frame(format, packet) >= 0) {
    if (packet->stream_index == video) {
      if (avcodec_send_packet(vdec, packet) < 0) PeerFailed("video decoding");
      video_frames();
    } else if (packet->stream_index == audio) {
      if (avcodec_send_packet(adec, packet) >= 0) audio_frames();
    } else if (packet->stream_index == subs) {
      AVSubtitle sub{};
      int got = 0;
      if (avcodec_decode_subtitle2(sdec, &sub, &got, packet) >= 0 && got) {
        const int64_t pts = packet->pts;
        start = pts + av_rescale_q(sub.start_display_time, {1, 1000}, sst->time_base);
        end = sub.end_display_time == UINT32_MAX
                  ? INT64_MAX
                  : pts + av_rescale_q(sub.end_display_time, {1, 1000}, sst->time_base);
        if (pushed == shown) pushed = nullptr;
        av_frame_free(&shown);
        shown = Canvas(width, height, &sub);
        avsubtitle_free(&sub);
      }
    }
    av_packet_unref(packet);
  }
  avcodec_send_packet(vdec, nullptr);
  video_frames();
  avcodec_send_packet(adec, nullptr);
  audio_frames();
  for (AVFilterContext* src : {vsrc, ssrc, asrc})
    if (av_buffersrc_add_frame(src, nullptr) < 0) PeerFailed("the end of the filters");
  Drain(vsink, out, sum);
  Drain(asink, out, sum);

  av_frame_free(&shown);
  av_frame_free(&blank);
  av_frame_free(&out);
  av_frame_free(&frame);
  av_packet_free(&packet);
  avfilter_graph_free(&vgraph);
  avfilter_graph_free(&agraph);
  avcodec_free_context(&vdec);
  avcodec_free_context(&adec);
  avcodec_free_context(&sdec);
  avformat_close_input(&format);
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

  char folder_template[] = "/tmp/kv-job-bench-XXXXXX";
  if (!mkdtemp(folder_template)) return 1;
  const std::string folder = folder_template;
  const std::string vts = folder + "/vts01", title = folder + "/vts01_pgc01_a0";
  TessmarStatus status{};
  if (Tessmar(VobList(video_ts).c_str(), vts.c_str(), 1, 1, &status) != 0) return 1;
  while (__atomic_load_n(&status.running, __ATOMIC_ACQUIRE) ||
         !__atomic_load_n(&status.ended, __ATOMIC_ACQUIRE))
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (qmRebuild(vts.c_str(), (video_ts + "/VTS_01_0.IFO").c_str(), title.c_str(), 1, 1, 1, 1, 0) !=
      1) {
    std::fprintf(stderr, "job_script_bench: cannot cut out the title\n");
    return 1;
  }
  const std::string st = "_st" + std::to_string(sub_stream);
  std::rename((vts + st + ".sub").c_str(), (title + st + ".sub").c_str());
  if (!WriteTitleBytes(title + ".vfm", title + ".mpg")) return 1;
  const std::string palette = FfmpegPalette(title + st + ".idx");
  if (palette.empty()) {
    std::fprintf(stderr, "job_script_bench: the title has no sub-picture stream %d\n", sub_stream);
    return 1;
  }

  const std::string program = KV_PROGRAM_FOLDER "/";
  const std::string script = folder + "/out01.avs";
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
  char level[32];
  std::snprintf(level, sizeof level, "%.17g", 0.70710678118654752440);
  const std::string video_graph =
      "fieldmatch=order=tff,decimate=cycle=5,crop=704:480:8:0,scale=640:480:flags=lanczos";
  const std::string audio_graph = std::string("aresample=ochl=stereo:rematrix_maxval=1:") +
                                  "center_mix_level=" + level + ":surround_mix_level=" + level +
                                  ":lfe_mix_level=" + level;
  PeerJob peer;
  peer.mpg = title + ".mpg";
  peer.palette = palette;
  peer.audio_id = 0x80 + audio_stream;
  peer.sub_id = 0x20 + sub_stream;
  peer.video_graph = "[in]" + video_graph + "[v];[sub]scale=640:480[s];[v][s]overlay";
  peer.audio_graph = audio_graph + ",aformat=sample_fmts=s16";
  char audio_map[16];
  std::snprintf(audio_map, sizeof audio_map, "0:i:0x%x", peer.audio_id);
  const std::vector<std::string> ffmpeg = {
      "ffmpeg",
      "-nostdin",
      "-v",
      "fatal",
      "-threads",
      "1",
      "-palette",
      palette,
      "-i",
      peer.mpg,
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

  void* library = dlopen((program + "avisynth.dll").c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    std::fprintf(stderr, "job_script_bench: %s\n", dlerror());
    return 1;
  }
  Served ours_served, peer_served;
  struct Runs {
    Cost best{1e9, 1e9};
    std::vector<double> cpu_ratios, wall_ratios;  // ours / this run's
    void Add(const Cost& c, const Cost& ours) {
      best = {std::min(best.cpu, c.cpu), std::min(best.wall, c.wall)};
      cpu_ratios.push_back(ours.cpu / c.cpu);
      wall_ratios.push_back(ours.wall / c.wall);
    }
  };
  Cost best_ours{1e9, 1e9};
  Runs libraries, command;
  // The order turns about every pass, which evens out warming up and
  // drifting load.
  for (int pass = 0; pass < passes; ++pass) {
    Cost ours, in_process, child;
    if (pass % 2) {
      child = FfmpegCommand(ffmpeg);
      in_process = FfmpegInProcess(peer, &(peer_served = {}));
      ours = Frameserver(library, script, &(ours_served = {}));
    } else {
      ours = Frameserver(library, script, &(ours_served = {}));
      in_process = FfmpegInProcess(peer, &(peer_served = {}));
      child = FfmpegCommand(ffmpeg);
    }
    best_ours = {std::min(best_ours.cpu, ours.cpu), std::min(best_ours.wall, ours.wall)};
    libraries.Add(in_process, ours);
    command.Add(child, ours);
  }
  std::printf("title: %s, %d passes each\n", video_ts.c_str(), passes);
  std::printf("frameserver:               %6.2f s processor, %6.2f s wall (best pass)\n",
              best_ours.cpu, best_ours.wall);
  std::printf("ffmpeg libraries in process: %4.2f s processor, %6.2f s wall (best pass)\n",
              libraries.best.cpu, libraries.best.wall);
  std::printf("ffmpeg command:            %6.2f s processor, %6.2f s wall (best pass)\n",
              command.best.cpu, command.best.wall);
  std::printf("frameserver / ffmpeg in process: %.2f processor, %.2f wall\n",
              Median(libraries.cpu_ratios), Median(libraries.wall_ratios));
  std::printf("frameserver / ffmpeg command:    %.2f processor, %.2f wall\n",
              Median(command.cpu_ratios), Median(command.wall_ratios));
  std::printf("(medians of paired passes)\n");
  std::printf("served by the frameserver: %" PRId64 " frames, %" PRId64
              " samples (checksum %" PRIu64 ")\n",
              ours_served.frames, ours_served.samples, ours_served.sum);
  std::printf("served by ffmpeg in process: %" PRId64 " frames, %" PRId64
              " samples (checksum %" PRIu64 ")\n",
              peer_served.frames, peer_served.samples, peer_served.sum);
  std::system(("rm -rf '" + folder + "'").c_str());
  return 0;
}
