#pragma once

#include <cstdio>
#include <string>

namespace kv_tools {

// The pictures of the RealVideo 2.0 stream ffmpeg wrote into the NUT file
// `path` (tagged "RV20": NUT's reader names no codec for the tag, and
// ffmpeg's RealMedia writer refuses frames over 64 KB), decoded by
// libavcodec with the codec bytes a RealMedia reader would hand it and
// written to `out` as raw 4:2:0 frames. The number of pictures, -1 on
// failure (with a message on stderr).
long long WriteNutRv20Pictures(const std::string& path, std::FILE* out);

}  // namespace kv_tools
