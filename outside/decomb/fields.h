// Field operations on planar 4:2:0 pictures (the frameserver's I420): the
// combing of two fields woven together, weaving, interpolating combed
// pixels of one field, frame differences and blends. Rows of one field are
// the even rows (top field) or the odd rows (bottom field) of every plane.
#pragma once

#include <cstdint>

#include "outside/frameserver/include/frameserver_plugin.h"

namespace decomb {

// A pixel of the second field is combed when it and its left and right
// neighbours lie beyond the first-field pixels above and below, on the same
// side, by more than this, and its row is smooth across the three: comb
// teeth run along the rows, while fine texture and noise change from pixel
// to pixel.
inline constexpr int kCombThreshold = 15;
// In a picture found combed, every second-field pixel that lies beyond both
// neighbours by more than this is interpolated (thin moving lines included).
inline constexpr int kInterpolateThreshold = 9;

// Combed pixels of the picture woven from the top field of `top` and the
// bottom field of `bottom` (luma). Both have the same size.
int64_t CombCount(const kvfs_frame* top, const kvfs_frame* bottom);

// Whether a picture shows combing: some 16 x 16 block of its luma holds at
// least `block_limit` combed pixels (of its 128 second-field pixels).
bool IsCombed(const kvfs_frame* frame, int block_limit);

// Writes into `out` the top field of `top` and the bottom field of `bottom`.
void Weave(const kvfs_frame* top, const kvfs_frame* bottom, kvfs_frame* out);

// Replaces the pixels of the field that is not `keep_top`'s that lie beyond
// both kept-field neighbours (kInterpolateThreshold) by their mean, in every
// plane; the kept field and the other pixels stay as they are. `out` may be
// `in`.
void InterpolateCombed(const kvfs_frame* in, bool keep_top, kvfs_frame* out);

// Frame difference on luma: the mean absolute difference in percent of
// full scale, and the largest such mean of a 32 x 32 block (differences of
// up to 3 levels, coding noise, count as none in the blocks).
struct Difference {
  double mean = 0;
  double block_max = 0;
};
Difference Compare(const kvfs_frame* a, const kvfs_frame* b);

// out = a * (1 - weight) + b * weight, every plane.
void Blend(const kvfs_frame* a, const kvfs_frame* b, double weight, kvfs_frame* out);

}  // namespace decomb
