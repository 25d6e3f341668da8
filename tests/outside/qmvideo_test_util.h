#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kv_test {

// A title of a sample disc, cut out by tessmar: index run over the title
// set, then qmRebuild of the program chain (video only) into `folder`.
struct SampleTitle {
  const char* disc;
  int vts;
  int pgc;
};
// Every title of the sample discs.
const std::vector<SampleTitle>& AllSampleTitles();
std::string TitleName(const SampleTitle& t);

// Path of the title's ".qmvi" in `folder` (made on first use; the title
// set's index is shared between the titles of one folder). Empty on failure.
std::string PrepareSampleTitle(const std::string& folder, const SampleTitle& t);

// The bytes the title's ".vfm" names, written beside it as ".mpg".
std::string WriteTitleBytes(const std::string& qmvi_path);

// CRC-32 of every frame FFmpeg decodes from `mpg` in order, converted to
// blue-green-red rows of width x height: the coded frames, or with `shown`
// the frames a player shows: FFmpeg's frames split into fields in the order
// their flags give (first field, second field, the first again when
// repeated) and paired in order from the first field. Empty on failure.
std::vector<uint32_t> FfmpegFrameCrcs(const std::string& mpg, bool shown, int width, int height);

uint32_t FrameCrc(const uint8_t* bgr, int width, int height);

// The same for FFmpeg's planar 4:2:0 pictures (the decoder's own format):
// CRC-32 of each frame's three planes without padding.
std::vector<uint32_t> FfmpegPlanarFrameCrcs(const std::string& mpg, bool shown, int width,
                                            int height);

// Width and height of the first video stream by ffprobe.
bool FfprobePictureSize(const std::string& url, int* width, int* height);

// key=value facts of <root>/<disc>.info.txt.
std::string SampleFact(const std::string& disc, const std::string& key);

}  // namespace kv_test
