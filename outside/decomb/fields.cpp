#include "outside/decomb/fields.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace decomb {

namespace {

int PlaneWidth(const kvfs_frame* f, int p) {
  return p == 0 ? f->width : (f->width + 1) / 2;
}
int PlaneHeight(const kvfs_frame* f, int p) {
  return p == 0 ? f->height : (f->height + 1) / 2;
}
const uint8_t* Row(const kvfs_frame* f, int p, int y) {
  return f->data[p] + static_cast<ptrdiff_t>(y) * f->pitch[p];
}
uint8_t* Row(kvfs_frame* f, int p, int y) {
  return f->data[p] + static_cast<ptrdiff_t>(y) * f->pitch[p];
}

// 1 where `mid` lies beyond both `above` and `below` (the other field) on
// the same side by more than `threshold`.
inline int Beyond(int above, int mid, int below, int threshold) {
  const int d1 = mid - above, d2 = mid - below;
  return ((d1 > threshold) & (d2 > threshold)) | ((d1 < -threshold) & (d2 < -threshold));
}

// Row y of a plane and the other field's rows above and below it; at the
// picture's edge the one neighbour stands for both.
struct Rows {
  const uint8_t* above;
  const uint8_t* mid;
  const uint8_t* below;
};

Rows RowsAround(const kvfs_frame* field_of_mid, const kvfs_frame* other, int p, int y, int h) {
  return {Row(other, p, y > 0 ? y - 1 : y + 1), Row(field_of_mid, p, y),
          Row(other, p, y + 1 < h ? y + 1 : y - 1)};
}

// Marks the combed pixels of row `r` in `combed` (w entries, 0 or 1): the
// pixel and its left and right neighbours lie beyond the other field's
// pixels above and below, and the row is smooth across them. A comb's
// teeth run along the row; fine texture and noise, which change from pixel
// to pixel, do not count.
void CombedRow(const Rows& r, int w, std::vector<uint8_t>* beyond, uint8_t* combed) {
  beyond->resize(static_cast<size_t>(w));
  // Plain loops over distinct arrays, so the compiler vectorises them.
  uint8_t* __restrict b = beyond->data();
  const uint8_t* __restrict above = r.above;
  const uint8_t* __restrict mid = r.mid;
  const uint8_t* __restrict below = r.below;
  uint8_t* __restrict out = combed;
  for (int x = 0; x < w; ++x)
    b[x] = static_cast<uint8_t>(Beyond(above[x], mid[x], below[x], kCombThreshold));
  auto at = [&](int l, int x, int rt) {
    return static_cast<uint8_t>(b[l] & b[x] & b[rt] &
                                (std::abs(mid[l] - mid[x]) <= kCombThreshold) &
                                (std::abs(mid[rt] - mid[x]) <= kCombThreshold));
  };
  for (int x = 1; x + 1 < w; ++x) out[x] = at(x - 1, x, x + 1);
  // At the row's ends the pixel stands in for its missing neighbour.
  if (w > 0) out[0] = at(0, 0, w > 1 ? 1 : 0);
  if (w > 1) out[w - 1] = at(w - 2, w - 1, w - 1);
}

}  // namespace

int64_t CombCount(const kvfs_frame* top, const kvfs_frame* bottom) {
  const int w = top->width, h = top->height;
  std::vector<uint8_t> beyond, combed(static_cast<size_t>(w));
  int64_t count = 0;
  for (int y = 1; y + 1 < h; y += 2) {
    CombedRow(RowsAround(bottom, top, 0, y, h), w, &beyond, combed.data());
    int row = 0;
    for (int x = 0; x < w; ++x) row += combed[static_cast<size_t>(x)];
    count += row;
  }
  return count;
}

bool IsCombed(const kvfs_frame* f, int block_limit) {
  const int w = f->width, h = f->height;
  const int blocks_x = (w + 15) / 16;
  std::vector<int> counts(static_cast<size_t>(blocks_x));
  std::vector<uint8_t> beyond, combed(static_cast<size_t>(w));
  for (int by = 0; by * 16 < h; ++by) {
    std::fill(counts.begin(), counts.end(), 0);
    for (int y = by * 16 + 1; y < std::min(h - 1, by * 16 + 16); y += 2) {
      CombedRow(RowsAround(f, f, 0, y, h), w, &beyond, combed.data());
      for (int x = 0; x < w; ++x)
        counts[static_cast<size_t>(x >> 4)] += combed[static_cast<size_t>(x)];
    }
    for (int c : counts)
      if (c >= block_limit) return true;
  }
  return false;
}

void Weave(const kvfs_frame* top, const kvfs_frame* bottom, kvfs_frame* out) {
  for (int p = 0; p < 3; ++p) {
    const size_t bytes = static_cast<size_t>(PlaneWidth(out, p));
    for (int y = 0; y < PlaneHeight(out, p); ++y)
      std::memcpy(Row(out, p, y), Row((y & 1) ? bottom : top, p, y), bytes);
  }
}

void InterpolateCombed(const kvfs_frame* in, bool keep_top, kvfs_frame* out) {
  for (int p = 0; p < 3; ++p) {
    const int w = PlaneWidth(in, p), h = PlaneHeight(in, p);
    const size_t bytes = static_cast<size_t>(w);
    // The kept field first (unchanged), then the other field from it.
    if (in != out)
      for (int y = keep_top ? 0 : 1; y < h; y += 2)
        std::memcpy(Row(out, p, y), Row(in, p, y), bytes);
    for (int y = keep_top ? 1 : 0; y < h; y += 2) {
      uint8_t* o = Row(out, p, y);
      if (h == 1) {
        if (in != out) std::memcpy(o, Row(in, p, y), bytes);
        continue;
      }
      const Rows r = RowsAround(in, in, p, y, h);
      for (int x = 0; x < w; ++x)
        o[x] = Beyond(r.above[x], r.mid[x], r.below[x], kInterpolateThreshold)
                   ? static_cast<uint8_t>((r.above[x] + r.below[x] + 1) >> 1)
                   : r.mid[x];
    }
  }
}

Difference Compare(const kvfs_frame* a, const kvfs_frame* b) {
  const int w = a->width, h = a->height;
  const int blocks_x = (w + 31) / 32;
  std::vector<int64_t> block(static_cast<size_t>(blocks_x));
  std::vector<int> block_pixels(static_cast<size_t>(blocks_x));
  int64_t total = 0;
  Difference d;
  for (int by = 0; by * 32 < h; ++by) {
    std::fill(block.begin(), block.end(), 0);
    std::fill(block_pixels.begin(), block_pixels.end(), 0);
    for (int y = by * 32; y < std::min(h, by * 32 + 32); ++y) {
      const uint8_t* ra = Row(a, 0, y);
      const uint8_t* rb = Row(b, 0, y);
      for (int bx = 0; bx < blocks_x; ++bx) {
        const int x0 = bx * 32, x1 = std::min(w, x0 + 32);
        int sum = 0, counted = 0;
        for (int x = x0; x < x1; ++x) {
          const int diff = std::abs(ra[x] - rb[x]);
          sum += diff;
          counted += diff > 3 ? diff : 0;
        }
        total += sum;
        block[static_cast<size_t>(bx)] += counted;
        block_pixels[static_cast<size_t>(bx)] += x1 - x0;
      }
    }
    for (int bx = 0; bx < blocks_x; ++bx)
      d.block_max =
          std::max(d.block_max, 100.0 * static_cast<double>(block[static_cast<size_t>(bx)]) /
                                    (255.0 * block_pixels[static_cast<size_t>(bx)]));
  }
  d.mean = 100.0 * static_cast<double>(total) / (255.0 * w * h);
  return d;
}

void Blend(const kvfs_frame* a, const kvfs_frame* b, double weight, kvfs_frame* out) {
  const int wb = static_cast<int>(weight * 256 + 0.5), wa = 256 - wb;
  for (int p = 0; p < 3; ++p) {
    const int w = PlaneWidth(out, p);
    for (int y = 0; y < PlaneHeight(out, p); ++y) {
      const uint8_t* ra = Row(a, p, y);
      const uint8_t* rb = Row(b, p, y);
      uint8_t* o = Row(out, p, y);
      for (int x = 0; x < w; ++x) o[x] = static_cast<uint8_t>((ra[x] * wa + rb[x] * wb + 128) >> 8);
    }
  }
}

}  // namespace decomb
