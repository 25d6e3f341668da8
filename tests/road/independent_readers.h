#pragma once

#include <string>
#include <vector>

namespace kv_test {

// What ffprobe and FFmpeg find in an encoded file: they never share code
// with the encoder that wrote it.
struct ProbedVolume {
  std::string video_codec, audio_codec;
  int width = 0, height = 0;
  double frame_rate = 0;         // from the pictures' time stamps
  double header_frame_rate = 0;  // as the file's header gives it
  int channels = 0;
  double duration = 0;        // the container's
  int decoded_frames = -1;    // frames FFmpeg decodes to the end
  std::string decode_errors;  // what FFmpeg said on the way
};
ProbedVolume ProbeVolume(const std::string& file);

// Start times (s) of the frames FFmpeg decodes whose mean luma passes 128,
// one per run of bright frames.
std::vector<double> FlashTimes(const std::string& file);

// Times (s) of the first loud sample of each burst of sound of 10 ms or
// more after at least 0.1 s of quiet, in the file's sound mixed to one
// channel at 48 kHz.
std::vector<double> ToneOnsets(const std::string& file);

// The luma of the frame shown at `seconds`, as FFmpeg decodes it
// (width * height bytes; empty when it cannot be decoded).
std::string LumaAt(const std::string& file, double seconds, int width, int height);

// The mean luma of every frame FFmpeg decodes, in showing order, over the
// rectangle [x, x + w) x [y, y + h) of the picture (the whole picture when w
// is 0).
std::vector<double> FrameMeans(const std::string& file, int x = 0, int y = 0, int w = 0, int h = 0);

// The indexes of the frames whose mean luma passes 128, one per run of
// bright frames.
std::vector<int> FlashFrames(const std::vector<double>& means);

// The cells of one program chain as a player reads them through libdvdread:
// in playing order, of an angle block the cell of `angle` only (the first
// for 0), an interleaved cell unit by unit where its navigation packs lead
// (the end of each unit and the start of the angle's next one). Each cell's
// bytes go into a file of its own in `folder`; the paths in playing order,
// none when the disc cannot be read so. With `only`, just the cells of those
// numbers (from 1) are read.
std::vector<std::string> ReadTitleCells(const std::string& dvd, int vts, int pgc, int angle,
                                        const std::string& folder,
                                        const std::vector<int>& only = {});

// Share (0 to 1) of the pixels of the rectangle [x0, x1) x [y0, y1) of a
// luma plane whose value passes `level`.
double BrightShare(const std::string& luma, int width, int x0, int y0, int x1, int y1,
                   int level = 200);

}  // namespace kv_test
