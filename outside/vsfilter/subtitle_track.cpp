#include "outside/vsfilter/subtitle_track.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/dict.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

#include "outside/vsfilter/sub_stream.h"

namespace vsfilter {

namespace {

constexpr size_t kMaxIndexBytes = 64 << 20;
constexpr size_t kMaxStreamBytes = size_t{1} << 31;
constexpr size_t kCachedUnits = 4;
// A sub-picture without a stop time shows until the next, at most this long.
constexpr int64_t kLongestShow = 90000 * 10;

bool ReadFile(const std::string& path, size_t limit, std::string* text) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  text->clear();
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0 && text->size() <= limit)
    text->append(buffer, n);
  const bool ok = !std::ferror(f) && text->size() <= limit;
  std::fclose(f);
  return ok;
}

// Studio-range BT.601, as the picture is coded.
void ToYuv(uint32_t argb, uint8_t* y, uint8_t* cb, uint8_t* cr) {
  const double r = (argb >> 16) & 255, g = (argb >> 8) & 255, b = argb & 255;
  *y = static_cast<uint8_t>(std::lround(16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255));
  *cb = static_cast<uint8_t>(std::lround(128 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255));
  *cr = static_cast<uint8_t>(std::lround(128 + (112.0 * r - 93.786 * g - 18.214 * b) / 255));
}

}  // namespace

std::unique_ptr<SubtitleTrack> SubtitleTrack::Open(const std::string& idx_path, uint32_t start_pts,
                                                   int picture_width, int picture_height,
                                                   std::string* error) {
  std::unique_ptr<SubtitleTrack> track(new SubtitleTrack());
  std::string text;
  if (!ReadFile(idx_path, kMaxIndexBytes, &text)) {
    *error = "cannot read the index \"" + idx_path + "\"";
    return nullptr;
  }
  if (!tessmar::formats::ParseVobSubIndex(text, &track->index_) || track->index_.width <= 0 ||
      track->index_.height <= 0) {
    *error = "\"" + idx_path + "\" is not a VobSub index";
    return nullptr;
  }
  const size_t dot = idx_path.rfind('.');
  const std::string sub_path =
      idx_path.substr(0, dot == std::string::npos ? idx_path.size() : dot) + ".sub";
  if (!ReadFile(sub_path, kMaxStreamBytes, &track->stream_)) {
    *error = "cannot read the sub-picture stream \"" + sub_path + "\"";
    return nullptr;
  }
  track->width_ = picture_width;
  track->height_ = picture_height;
  // Entries in time order; a later entry with the same time replaces it.
  std::stable_sort(track->index_.entries.begin(), track->index_.entries.end(),
                   [](const auto& a, const auto& b) { return a.milliseconds < b.milliseconds; });
  for (const auto& e : track->index_.entries)
    track->times_.push_back(e.milliseconds * 90 - static_cast<int64_t>(start_pts));

  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_DVD_SUBTITLE);
  track->decoder_ = codec ? avcodec_alloc_context3(codec) : nullptr;
  std::string palette;
  for (const auto& c : track->index_.palette) {
    char colour[8];
    std::snprintf(colour, sizeof colour, "%02x%02x%02x", c.red, c.green, c.blue);
    palette += (palette.empty() ? "" : ",") + std::string(colour);
  }
  AVDictionary* options = nullptr;
  av_dict_set(&options, "palette", palette.c_str(), 0);
  const bool opened = track->decoder_ && avcodec_open2(track->decoder_, codec, &options) == 0;
  av_dict_free(&options);
  if (!opened) {
    *error = "the DVD subtitle decoder cannot be opened";
    return nullptr;
  }
  return track;
}

SubtitleTrack::~SubtitleTrack() {
  avcodec_free_context(&decoder_);
}

Bitmap SubtitleTrack::Sized(const uint8_t* indices, int stride, const uint32_t* palette, int x,
                            int y, int w, int h) const {
  uint8_t table[4][4];  // per colour: luma, cb, cr, opacity
  for (int i = 0; i < 4; ++i) {
    ToYuv(palette[i], &table[i][0], &table[i][1], &table[i][2]);
    table[i][3] = static_cast<uint8_t>(palette[i] >> 24);
  }
  Bitmap at_index;  // in the index's picture size
  at_index.width = w;
  at_index.height = h;
  for (auto* plane : {&at_index.luma, &at_index.cb, &at_index.cr, &at_index.alpha})
    plane->resize(static_cast<size_t>(w) * h);
  for (int row = 0; row < h; ++row)
    for (int col = 0; col < w; ++col) {
      const uint8_t* c = table[indices[static_cast<ptrdiff_t>(row) * stride + col] & 3];
      const size_t i = static_cast<size_t>(row) * w + col;
      at_index.luma[i] = c[0];
      at_index.cb[i] = c[1];
      at_index.cr[i] = c[2];
      at_index.alpha[i] = c[3];
    }
  if (width_ == index_.width && height_ == index_.height) {
    at_index.x = x;
    at_index.y = y;
    return at_index;
  }
  // Drawn on a picture of another size (resized after decoding): the place
  // and the pixels scale with it.
  const double sx = static_cast<double>(width_) / index_.width;
  const double sy = static_cast<double>(height_) / index_.height;
  Bitmap out;
  out.x = static_cast<int>(std::lround(x * sx));
  out.y = static_cast<int>(std::lround(y * sy));
  out.width = std::max(1, static_cast<int>(std::lround((x + w) * sx)) - out.x);
  out.height = std::max(1, static_cast<int>(std::lround((y + h) * sy)) - out.y);
  for (auto* plane : {&out.luma, &out.cb, &out.cr, &out.alpha})
    plane->resize(static_cast<size_t>(out.width) * out.height);
  SwsContext* sws = sws_getContext(w, h, AV_PIX_FMT_YUVA444P, out.width, out.height,
                                   AV_PIX_FMT_YUVA444P, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (!sws) return Bitmap();
  const uint8_t* src[4] = {at_index.luma.data(), at_index.cb.data(), at_index.cr.data(),
                           at_index.alpha.data()};
  const int src_stride[4] = {w, w, w, w};
  uint8_t* dst[4] = {out.luma.data(), out.cb.data(), out.cr.data(), out.alpha.data()};
  const int dst_stride[4] = {out.width, out.width, out.width, out.width};
  sws_scale(sws, src, src_stride, 0, h, dst, dst_stride);
  sws_freeContext(sws);
  return out;
}

const Shown& SubtitleTrack::Decode(size_t i) {
  for (const Cached& c : cache_)
    if (c.entry == i) return c.shown;
  Shown shown;
  shown.start = shown.end = times_[i];
  std::vector<uint8_t> unit;
  AVSubtitle sub{};
  int got = 0;
  if (ReadSubpictureUnit(stream_, index_.entries[i].file_position, &unit)) {
    unit.resize(unit.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    AVPacket* packet = av_packet_alloc();
    if (packet) {
      packet->data = unit.data();
      packet->size = static_cast<int>(unit.size() - AV_INPUT_BUFFER_PADDING_SIZE);
      if (avcodec_decode_subtitle2(decoder_, &sub, &got, packet) < 0) got = 0;
      packet->data = nullptr;
      packet->size = 0;
      av_packet_free(&packet);
    }
  }
  if (got) {
    shown.start = times_[i] + int64_t{sub.start_display_time} * 90;
    // Until the stop time, or the next entry, whichever comes first.
    const int64_t next = i + 1 < times_.size() ? times_[i + 1] : shown.start + kLongestShow;
    shown.end = sub.end_display_time > sub.start_display_time && sub.end_display_time != UINT32_MAX
                    ? std::min(next, times_[i] + int64_t{sub.end_display_time} * 90)
                    : std::min(next, shown.start + kLongestShow);
    for (unsigned r = 0; r < sub.num_rects; ++r) {
      const AVSubtitleRect* rect = sub.rects[r];
      if (rect->type != SUBTITLE_BITMAP || rect->w <= 0 || rect->h <= 0 || rect->nb_colors < 4 ||
          !rect->data[0] || !rect->data[1])
        continue;
      // Only the part on the index's picture can show; scaled with the
      // picture, the rest could be far larger than the picture itself.
      const int x0 = std::max(rect->x, 0), y0 = std::max(rect->y, 0);
      const int x1 = std::min(rect->x + rect->w, index_.width);
      const int y1 = std::min(rect->y + rect->h, index_.height);
      if (x0 >= x1 || y0 >= y1) continue;
      const uint8_t* indices =
          rect->data[0] + static_cast<ptrdiff_t>(y0 - rect->y) * rect->linesize[0] + (x0 - rect->x);
      Bitmap b = Sized(indices, rect->linesize[0], reinterpret_cast<const uint32_t*>(rect->data[1]),
                       x0, y0, x1 - x0, y1 - y0);
      if (b.width > 0) shown.bitmaps.push_back(std::move(b));
    }
    avsubtitle_free(&sub);
  }
  if (cache_.size() >= kCachedUnits) cache_.erase(cache_.begin());
  cache_.push_back({i, std::move(shown)});
  return cache_.back().shown;
}

const Shown* SubtitleTrack::At(int64_t t) {
  // The latest entry at or before t, or the one before it while its unit
  // has not started yet.
  const size_t after = std::upper_bound(times_.begin(), times_.end(), t) - times_.begin();
  for (size_t back = 0; back < 2 && back < after; ++back) {
    const Shown& s = Decode(after - 1 - back);
    if (t >= s.start && t < s.end) return s.bitmaps.empty() ? nullptr : &s;
    if (t >= s.start) break;  // it has ended: nothing earlier shows either
  }
  return nullptr;
}

void Draw(const Bitmap& b, uint8_t* const planes[3], const int32_t pitches[3], int width,
          int height) {
  const int x0 = std::max(0, b.x), y0 = std::max(0, b.y);
  const int x1 = std::min(width, b.x + b.width), y1 = std::min(height, b.y + b.height);
  if (x0 >= x1 || y0 >= y1) return;
  auto at = [&](int x, int y) { return static_cast<size_t>(y - b.y) * b.width + (x - b.x); };
  for (int y = y0; y < y1; ++y) {
    uint8_t* row = planes[0] + static_cast<ptrdiff_t>(y) * pitches[0];
    for (int x = x0; x < x1; ++x) {
      const int a = b.alpha[at(x, y)];
      row[x] = static_cast<uint8_t>((row[x] * (255 - a) + b.luma[at(x, y)] * a + 127) / 255);
    }
  }
  for (int cy = y0 / 2; cy <= (y1 - 1) / 2; ++cy) {
    uint8_t* cb = planes[1] + static_cast<ptrdiff_t>(cy) * pitches[1];
    uint8_t* cr = planes[2] + static_cast<ptrdiff_t>(cy) * pitches[2];
    for (int cx = x0 / 2; cx <= (x1 - 1) / 2; ++cx) {
      int alpha = 0, weight_cb = 0, weight_cr = 0;
      for (int dy = 0; dy < 2; ++dy)
        for (int dx = 0; dx < 2; ++dx) {
          const int x = 2 * cx + dx, y = 2 * cy + dy;
          if (x < x0 || x >= x1 || y < y0 || y >= y1) continue;
          const int a = b.alpha[at(x, y)];
          alpha += a;
          weight_cb += a * b.cb[at(x, y)];
          weight_cr += a * b.cr[at(x, y)];
        }
      if (alpha == 0) continue;
      const int mean = (alpha + 2) / 4;
      cb[cx] =
          static_cast<uint8_t>((cb[cx] * (255 - mean) + (weight_cb / alpha) * mean + 127) / 255);
      cr[cx] =
          static_cast<uint8_t>((cr[cx] * (255 - mean) + (weight_cr / alpha) * mean + 127) / 255);
    }
  }
}

}  // namespace vsfilter
