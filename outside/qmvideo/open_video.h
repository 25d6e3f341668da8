// The process-wide open video behind the three exports, as the frameserver
// plug-in inside the same library reaches it.
#pragma once

#include <cstdint>

struct AVFrame;

namespace qmvideo {

// Frame `frame` of the open video as planar 4:2:0 (a new reference, freed
// with av_frame_free); null on failure or when no video is open.
AVFrame* OpenVideoPlanarFrame(int32_t frame);

}  // namespace qmvideo
