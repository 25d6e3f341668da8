// The process-wide open video behind the three exports, as the frameserver
// plug-in inside the same library reaches it. The plug-in calls these and
// never the exports: an export is looked up process-wide, so in a process
// that has another copy of the library loaded already (a program linked to
// the program folder's copy, loading the job folder's copy as a plug-in) the
// exports would open the video of that other copy.
#pragma once

#include <cstdint>

#include "outside/qmvideo/qmvideo.h"

struct AVFrame;

namespace qmvideo {

// What openMPEG2Source and closeVideo do, for this copy of the library.
QmVideoRecord* OpenVideo(const char* path, bool film);
void CloseVideo();

// Frame `frame` of the open video as planar 4:2:0 (a new reference, freed
// with av_frame_free); null on failure or when no video is open.
AVFrame* OpenVideoPlanarFrame(int32_t frame);

}  // namespace qmvideo
