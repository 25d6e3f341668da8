#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tessmar/include/tessmar.h"

namespace kv_test {

struct CommandResult {
  int exit_code = -1;
  std::string out;
};

std::string Quote(const std::string& s);
// Runs `command` through /bin/sh, stderr discarded; stdout collected.
CommandResult RunCommand(const std::string& command);

// The VOB files 1-9 of title set `vts` of a sample disc, in order.
std::vector<std::string> SampleVobs(const std::string& disc, int vts = 1);
std::string JoinBars(const std::vector<std::string>& files);
// "concat:a|b|c" for ffmpeg and ffprobe.
std::string ConcatUrl(const std::vector<std::string>& files);

// Atomic reads of the worker's block.
template <typename T>
T Peek(T& field);
uint8_t Running(TessmarStatus& s);

// Waits until the run has ended (running 0); ctest's time-out bounds it.
void WaitForEnd(TessmarStatus& s);
// Tessmar + WaitForEnd; the result of Tessmar.
int IndexAndWait(const std::vector<std::string>& files, const std::string& out_base, bool audio,
                 bool subpictures, TessmarStatus* status);

// Lines of a text file written with CR LF; `bare_lf` counts "\n" without "\r".
std::vector<std::string> CrLfLines(const std::string& text, int* bare_lf = nullptr);

// Number of frames that the GOP lines of a ".d2v"-layout file imply (one
// frame flag per frame), the number of GOP lines, and whether the last one
// closed with " 9".
struct GopSummary {
  int64_t frames = 0;
  int lines = 0;
  bool last_has_9 = false;
  std::vector<std::vector<std::string>> fields;  // each GOP line split at spaces
};
GopSummary ReadGops(const std::string& path);

// Concatenates the payload ranges of an audio index (".qmai") or an audio
// map ("_at%d.vfm"): entries "file ... offset length" with the given columns.
std::string ConcatRanges(const std::string& index_path, int file_col, int offset_col,
                         int length_col, int columns);

// ffprobe's count of decoded video frames over `url`.
int64_t FfprobeFrameCount(const std::string& url);
// ffprobe stream entry `entry` of every stream, one line per stream.
std::vector<std::string> FfprobeStreams(const std::string& url, const std::string& entries);

// FFmpeg's demux of stream `map` ("0:N") of `url`: the packets one by one,
// and all of them in `whole`.
std::vector<std::string> FfmpegPackets(const std::string& url, const std::string& map,
                                       std::string* whole);

}  // namespace kv_test
