// Decomb.dll's script functions, each registered through the host table.
#pragma once

#include "outside/frameserver/include/frameserver_plugin.h"

namespace decomb {

// Telecide(clip, [order], [guide], [post]): field matching. Every frame
// keeps its first field (top with order=1, bottom with order=0) and takes
// the other field from the previous, same or next frame, whichever combs
// least; guide=1 prefers the match of the 3:2 cadence (that of five frames
// before) when it combs about as little. With post (default 2) a frame
// still combed after matching has its combed pixels interpolated.
void Telecide(kvfs_call* call, void*);
// Decimate(clip, [cycle], [mode], [threshold]): the duplicate of every cycle
// of frames, the frame most like its predecessor. A cycle holds a film
// duplicate when that frame's largest block difference is below threshold
// (in percent); a cycle of video holds none.
//   mode 0 (and 2): the duplicate goes; frames × (cycle - 1) / cycle frames,
//     the rate scaled alike.
//   mode 1, for titles of mostly video: the frame count and rate stay; a film
//     duplicate is replaced by the blend of its neighbours, video is
//     untouched.
//   mode 3, for titles of mostly film: as mode 0 in film cycles; a video
//     cycle is blended into one frame fewer, so the count and rate are those
//     of mode 0.
void Decimate(kvfs_call* call, void*);
// FieldDeinterlace(clip, [full]): interpolates the combed pixels of the
// bottom field; with full=false only in frames found combed, the others are
// served untouched.
void FieldDeinterlace(kvfs_call* call, void*);

inline constexpr const char* kTelecideSignature = "clip clip, [int order], [int guide], [int post]";
inline constexpr const char* kDecimateSignature =
    "clip clip, [int cycle], [int mode], [float threshold]";
inline constexpr const char* kFieldDeinterlaceSignature = "clip clip, [bool full]";

// A frame counts as combed when a 16 x 16 block holds this many combed
// pixels of its 128 second-field pixels.
inline constexpr int kCombedBlockPixels = 24;

}  // namespace decomb
