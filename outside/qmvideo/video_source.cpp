#include "outside/qmvideo/video_source.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <numeric>

namespace qmvideo {

namespace {

constexpr size_t kReadChunk = 256 * 1024;
constexpr size_t kMaxPacket = 6 + 65535;
// Decoded pictures kept around the last request: two GOPs and a bit.
constexpr size_t kCachedFrames = 40;
// A request that needs more than this after a restart is given up (damaged
// or mislabelled data): GOPs of a DVD are well under a megabyte.
constexpr int64_t kMaxReadPerSeek = 48 << 20;
constexpr int64_t kMaxIndexBytes = 256 << 20;
// The headers before an I-picture may start a few packs before the pack the
// index names for it.
constexpr int64_t kPlaceSlack = 8 * 2048;

bool ReadWholeFile(const std::string& path, std::string* text) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  text->clear();
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    text->append(buf, n);
    if (text->size() > static_cast<size_t>(kMaxIndexBytes)) break;
  }
  const bool ok = !std::ferror(f) && text->size() <= static_cast<size_t>(kMaxIndexBytes);
  std::fclose(f);
  return ok;
}

// Picture coding type of the first picture header in a packet: 1 I, 2 P,
// 3 B, 4 D; 0 when there is none.
int PictureType(const uint8_t* data, int size) {
  for (int i = 0; i + 5 < size; ++i) {
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] == 0)
      return (data[i + 5] >> 3) & 7;
  }
  return 0;
}

}  // namespace

std::unique_ptr<VideoSource> VideoSource::Open(const std::string& index_path, bool film) {
  std::unique_ptr<VideoSource> source(new VideoSource());
  if (!source->Init(index_path, film)) return nullptr;
  return source;
}

VideoSource::~VideoSource() {
  DropDecoderState();
  for (auto& [c, f] : cache_) av_frame_free(&f);
  av_parser_close(parser_);
  avcodec_free_context(&codec_);
  av_packet_free(&packet_);
  av_frame_free(&received_);
  av_frame_free(&woven_);
  sws_freeContext(sws_);
  sws_freeContext(planar_sws_);
}

bool VideoSource::Init(const std::string& index_path, bool film) {
  std::string text;
  if (!ReadWholeFile(index_path, &text) || !ParseVideoIndex(text, &index_)) return false;
  // The map is named by bare name and lies beside the index.
  const size_t slash = index_path.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : index_path.substr(0, slash + 1);
  VirtualFileMap map;
  if (!ReadWholeFile(folder + index_.map_name, &text) || !ParseVirtualFileMap(text, &map) ||
      !file_.Open(map))
    return false;
  for (const Gop& g : index_.gops)
    if (g.position >= file_.Size()) return false;

  film_ = film;
  if (!film_) shown_ = DisplayedFrames(index_.flags);
  const int64_t frames = film_ ? index_.flags.size() : shown_.size();
  if (frames <= 0 || frames > INT32_MAX) return false;

  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG2VIDEO);
  if (!codec) return false;
  codec_ = avcodec_alloc_context3(codec);
  packet_ = av_packet_alloc();
  received_ = av_frame_alloc();
  woven_ = av_frame_alloc();
  if (!codec_ || !packet_ || !received_ || !woven_) return false;
  codec_->thread_count = 1;
  if (avcodec_open2(codec_, codec, nullptr) < 0) return false;
  parser_ = av_parser_init(AV_CODEC_ID_MPEG2VIDEO);
  if (!parser_) return false;
  buffer_.resize(kReadChunk + kMaxPacket);
  if (!FindSequenceHeader()) return false;

  record_.width = index_.width;
  record_.height = index_.height;
  record_.frames = static_cast<int32_t>(frames);
  record_.filmFlag = film_ ? 1 : 0;
  record_.codedFrames = static_cast<int32_t>(index_.flags.size());
  record_.aspectCode = index_.aspect_code;
  int num = index_.frame_rate_milli, den = 1000;
  if (num == 29970 || num == 23976 || num == 59940) {
    num = (num + 30) / 1000 * 1000;  // 30000, 24000, 60000
    den = 1001;
  }
  // Forced film: telecined NTSC delivers its film frames.
  if (film_ && index_.frame_rate_milli == 29970 &&
      DisplayedFrames(index_.flags).size() > index_.flags.size()) {
    num = 24000;
    den = 1001;
  }
  const int divisor = std::gcd(num, den);
  record_.rateNumerator = num / divisor;
  record_.rateDenominator = den / divisor;
  rgb_.resize(static_cast<size_t>(record_.width) * record_.height * 3);
  return true;
}

bool VideoSource::FindSequenceHeader() {
  Seek(0);
  positioned_ = false;
  std::vector<uint8_t> es;
  const uint8_t* data;
  size_t size;
  size_t scanned = 0;  // no header starts before this
  while (es.size() < (4u << 20) && NextVideoPayload(&data, &size)) {
    es.insert(es.end(), data, data + size);
    size_t i = scanned;
    scanned = es.size() > 3 ? es.size() - 3 : 0;
    for (; i + 3 < es.size(); ++i) {
      if (es[i] != 0 || es[i + 1] != 0 || es[i + 2] != 1 || es[i + 3] != 0xB3) continue;
      // The header and its extensions, up to the next other start code.
      size_t j = i + 4;
      for (; j + 3 < es.size(); ++j) {
        if (es[j] == 0 && es[j + 1] == 0 && es[j + 2] == 1 && es[j + 3] != 0xB5 &&
            es[j + 3] != 0xB2)
          break;
      }
      if (j + 3 >= es.size()) {  // the header goes on in the next payload
        scanned = i;
        break;
      }
      if (j - i < 12 || j - i > 1024) return false;
      const int width = (es[i + 4] << 4) | (es[i + 5] >> 4);
      const int height = ((es[i + 5] & 0x0F) << 8) | es[i + 6];
      if (width == 0 || height == 0) return false;
      sequence_header_.assign(es.begin() + i, es.begin() + j);
      return true;
    }
  }
  return false;
}

int VideoSource::GopOf(int32_t c) const {
  auto it = std::upper_bound(index_.gops.begin(), index_.gops.end(), c,
                             [](int32_t f, const Gop& g) { return f < g.first_frame; });
  return static_cast<int>(it - index_.gops.begin()) - 1;
}

void VideoSource::DropDecoderState() {
  for (auto& [k, f] : unplaced_) av_frame_free(&f);
  unplaced_.clear();
  key_frame_.clear();
}

void VideoSource::Seek(int gop) {
  if (codec_) avcodec_flush_buffers(codec_);
  if (parser_) {
    av_parser_close(parser_);
    parser_ = av_parser_init(AV_CODEC_ID_MPEG2VIDEO);
  }
  DropDecoderState();
  buffer_start_ = buffer_end_ = 0;
  next_read_ = index_.gops[gop].position;
  read_since_seek_ = 0;
  at_end_ = false;
  sync_bytes_.clear();
  fed_.clear();
  fed_bytes_ = 0;
  parsed_bytes_ = 0;
  positioned_ = parser_ != nullptr;
  stream_synced_ = false;
  picture_synced_ = false;
  beyond_index_ = false;
  start_gop_ = gop;
  table_ = gop;
  slot_ = 0;
  pending_ = -1;
  newest_ = -1;
  skip_below_ = -1;
}

size_t VideoSource::Available(size_t wanted) {
  if (buffer_end_ - buffer_start_ >= wanted || at_end_) return buffer_end_ - buffer_start_;
  if (buffer_start_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + buffer_start_, buffer_end_ - buffer_start_);
    buffer_end_ -= buffer_start_;
    buffer_start_ = 0;
  }
  while (buffer_end_ < wanted && !at_end_) {
    const size_t room = std::min(kReadChunk, buffer_.size() - buffer_end_);
    const size_t got = file_.Read(next_read_, buffer_.data() + buffer_end_, room);
    if (got == 0) at_end_ = true;
    buffer_end_ += got;
    next_read_ += static_cast<int64_t>(got);
    read_since_seek_ += static_cast<int64_t>(got);
  }
  return buffer_end_ - buffer_start_;
}

bool VideoSource::NextVideoPayload(const uint8_t** data, size_t* size) {
  for (;;) {
    if (read_since_seek_ > kMaxReadPerSeek) return false;
    size_t have = Available(kMaxPacket);
    if (have < 4) return false;
    const uint8_t* p = buffer_.data() + buffer_start_;
    if (p[0] != 0 || p[1] != 0 || p[2] != 1) {
      // Resynchronise at the next start code prefix.
      const uint8_t* q = p + 1;
      const uint8_t* end = p + have;
      while (q + 2 < end && !(q[0] == 0 && q[1] == 0 && q[2] == 1)) {
        q = static_cast<const uint8_t*>(std::memchr(q + 1, 0, end - q - 1));
        if (!q) {
          q = end - 2;
          break;
        }
      }
      buffer_start_ += std::max<size_t>(1, q - p);
      continue;
    }
    const int code = p[3];
    if (code == 0xBA) {  // pack header, MPEG-2 or MPEG-1
      size_t length = 12;
      if (have >= 14 && (p[4] >> 6) == 1) length = 14 + (p[13] & 7);
      buffer_start_ += std::min(length, have);
      continue;
    }
    if (code < 0xBB) {  // end code or a stray elementary start code
      buffer_start_ += 4;
      continue;
    }
    if (have < 6) return false;
    const size_t total = 6 + ((p[4] << 8) | p[5]);
    if (total > have) return false;  // cut off at the end of the title
    payload_position_ = next_read_ - static_cast<int64_t>(buffer_end_ - buffer_start_);
    buffer_start_ += total;
    if (code != video_stream_) continue;
    size_t header = 6;
    if (total >= 9 && (p[6] & 0xC0) == 0x80) {
      header = 9 + p[8];
    } else {  // MPEG-1 packet header
      while (header < total && p[header] == 0xFF && header < 6 + 16) ++header;
      if (header < total && (p[header] & 0xC0) == 0x40) header += 2;
      if (header < total) {
        if ((p[header] & 0xF0) == 0x20)
          header += 5;
        else if ((p[header] & 0xF0) == 0x30)
          header += 10;
        else if (p[header] == 0x0F)
          header += 1;
      }
    }
    if (header >= total) continue;
    *data = p + header;
    *size = total - header;
    return true;
  }
}

void VideoSource::FeedElementaryStream(const uint8_t* data, size_t size) {
  if (!stream_synced_) {
    // Bytes before the first sequence, GOP or picture header belong to a
    // picture before the GOP.
    sync_bytes_.insert(sync_bytes_.end(), data, data + size);
    size_t i = 0;
    for (; i + 3 < sync_bytes_.size(); ++i) {
      if (sync_bytes_[i] == 0 && sync_bytes_[i + 1] == 0 && sync_bytes_[i + 2] == 1 &&
          (sync_bytes_[i + 3] == 0xB3 || sync_bytes_[i + 3] == 0xB8 || sync_bytes_[i + 3] == 0))
        break;
    }
    if (i + 3 >= sync_bytes_.size()) {
      if (sync_bytes_.size() > 3) sync_bytes_.erase(sync_bytes_.begin(), sync_bytes_.end() - 3);
      return;
    }
    stream_synced_ = true;
    std::vector<uint8_t> rest(sync_bytes_.begin() + i, sync_bytes_.end());
    sync_bytes_.clear();
    // Without its own sequence header the GOP is decoded with the title's.
    if (rest[3] != 0xB3) FeedElementaryStream(sequence_header_.data(), sequence_header_.size());
    FeedElementaryStream(rest.data(), rest.size());
    return;
  }
  if (size > 0) {
    fed_.push_back({fed_bytes_, payload_position_});
    fed_bytes_ += static_cast<int64_t>(size);
  }
  while (size > 0 && parser_) {
    uint8_t* out = nullptr;
    int out_size = 0;
    const int chunk = static_cast<int>(std::min<size_t>(size, 1 << 20));
    const int used = av_parser_parse2(parser_, codec_, &out, &out_size, data, chunk, AV_NOPTS_VALUE,
                                      AV_NOPTS_VALUE, payload_position_);
    if (used < 0) return;
    data += used;
    size -= static_cast<size_t>(used);
    if (out_size > 0) Parsed(out, out_size);
    if (used == 0 && out_size == 0) return;
  }
}

void VideoSource::Parsed(const uint8_t* data, int size) {
  // The parser hands the elementary stream back in order and without gaps,
  // so a picture starts where the one before it ended; the packet that
  // holds that byte is the picture's place in the title.
  while (fed_.size() > 1 && fed_[1].first <= parsed_bytes_) fed_.pop_front();
  picture_position_ = fed_.empty() ? payload_position_ : fed_.front().second;
  parsed_bytes_ += size;
  SendPicture(data, size);
}

void VideoSource::Assign(int64_t key, int slot) {
  const Gop& gop = index_.gops[table_];
  int32_t c = -1;
  if (slot < gop.frame_count) {
    c = gop.first_frame + slot;
    // The leading B-frames of the first GOP miss their forward reference.
    if (table_ == start_gop_ && !(index_.flags[c] & kDecodableInGop)) c = -1;
  }
  auto early = unplaced_.find(key);
  if (early != unplaced_.end()) {
    Store(early->second, c);
    unplaced_.erase(early);
  } else {
    key_frame_[key] = c;
  }
}

bool VideoSource::InPlace(int gop, int64_t position) const {
  // An I-picture found outside its GOP's bytes means a damaged or missing
  // picture: counting on would give other frames under these numbers.
  if (position + kPlaceSlack < index_.gops[gop].position) return false;
  return gop + 1 >= static_cast<int>(index_.gops.size()) ||
         position < index_.gops[gop + 1].position;
}

void VideoSource::SendPicture(const uint8_t* data, int size) {
  if (beyond_index_) return;
  const int type = PictureType(data, size);
  if (!picture_synced_) {
    if (type != 1) return;  // nothing decodes before the GOP's I-picture
    if (!InPlace(table_, picture_position_)) {
      beyond_index_ = true;
      return;
    }
    picture_synced_ = true;
  } else if (type == 1) {
    if (pending_ >= 0) Assign(pending_, slot_++);
    pending_ = -1;
    if (table_ + 1 >= static_cast<int>(index_.gops.size()) ||
        !InPlace(table_ + 1, picture_position_)) {
      beyond_index_ = true;
      return;
    }
    ++table_;
    slot_ = 0;
  }
  // More pictures than the GOP has frames (a lost I-picture header glues
  // two GOPs together): numbering on would put other pictures under them.
  const int needs = (pending_ >= 0 ? 1 : 0) + (type >= 1 && type <= 3 ? 1 : 0);
  if (slot_ + needs > index_.gops[table_].frame_count) {
    beyond_index_ = true;
    return;
  }
  const int64_t key = next_key_++;
  if (type == 1 || type == 2) {
    if (pending_ >= 0) Assign(pending_, slot_++);
    pending_ = key;
  } else if (type == 3) {
    // B-pictures are no references: after a restart only the wanted one
    // and those after it are decoded.
    const Gop& gop = index_.gops[table_];
    const int32_t c = gop.first_frame + slot_;
    if (slot_ < gop.frame_count && c < skip_below_) {
      ++slot_;
      return;
    }
    Assign(key, slot_++);
  }
  packet_->data = const_cast<uint8_t*>(data);
  packet_->size = size;
  packet_->pts = key;
  packet_->dts = AV_NOPTS_VALUE;
  avcodec_send_packet(codec_, packet_);  // undecodable pictures give no frame
  packet_->data = nullptr;
  packet_->size = 0;
  ReceiveFrames();
}

void VideoSource::ReceiveFrames() {
  while (avcodec_receive_frame(codec_, received_) == 0) {
    const int64_t key = received_->pts;
    AVFrame* frame = av_frame_clone(received_);
    av_frame_unref(received_);
    if (!frame) continue;
    auto it = key_frame_.find(key);
    if (it != key_frame_.end()) {
      Store(frame, it->second);
      key_frame_.erase(it);
    } else if (key != AV_NOPTS_VALUE && unplaced_.size() < 8) {
      unplaced_[key] = frame;
    } else {
      av_frame_free(&frame);
    }
  }
}

void VideoSource::Drain() {
  if (!positioned_) return;
  uint8_t* out = nullptr;
  int out_size = 0;
  av_parser_parse2(parser_, codec_, &out, &out_size, nullptr, 0, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
  if (out_size > 0) Parsed(out, out_size);
  if (pending_ >= 0 && picture_synced_) Assign(pending_, slot_++);
  pending_ = -1;
  avcodec_send_packet(codec_, nullptr);
  ReceiveFrames();
  positioned_ = false;  // a drained decoder starts again with a seek
}

void VideoSource::Store(AVFrame* frame, int32_t c) {
  if (c < 0) {
    av_frame_free(&frame);
    return;
  }
  newest_ = std::max(newest_, c);
  auto [it, inserted] = cache_.emplace(c, frame);
  if (!inserted) {
    av_frame_free(&it->second);
    it->second = frame;
  }
  while (cache_.size() > kCachedFrames) {
    // Keep the pictures nearest the newest one.
    auto first = cache_.begin();
    auto last = std::prev(cache_.end());
    auto drop = (c - first->first >= last->first - c) ? first : last;
    av_frame_free(&drop->second);
    cache_.erase(drop);
  }
}

bool VideoSource::DecodeUntil(int32_t c, int gop) {
  while (!cache_.count(c)) {
    if (!positioned_) return false;
    if (beyond_index_ || (picture_synced_ && table_ >= gop + 2)) return false;
    const uint8_t* data;
    size_t size;
    if (!NextVideoPayload(&data, &size)) {
      Drain();
      break;
    }
    FeedElementaryStream(data, size);
  }
  return cache_.count(c) > 0;
}

AVFrame* VideoSource::CodedFrame(int32_t c) {
  auto hit = cache_.find(c);
  if (hit == cache_.end()) {
    const int gop = GopOf(c);
    if (gop < 0) return nullptr;
    if (gop == 0 && !(index_.flags[c] & kDecodableInGop)) {
      // Leading B-frames of an open first GOP have nothing to refer to: the
      // title shows its first decodable frame in their place.
      const Gop& first = index_.gops[0];
      int32_t shown = first.first_frame;
      while (shown < first.first_frame + first.frame_count - 1 &&
             !(index_.flags[shown] & kDecodableInGop))
        ++shown;
      if (shown == c) return nullptr;
      return CodedFrame(shown);
    }
    const bool leading = !(index_.flags[c] & kDecodableInGop) && gop > 0;
    const int start = leading ? gop - 1 : gop;
    // Ahead of the decoder and near enough: go on decoding.
    const bool ahead =
        positioned_ && c > newest_ && gop <= table_ + 2 && !(leading && gop == start_gop_);
    if (!ahead) {
      Seek(start);
      skip_below_ = c;
    }
    if (!DecodeUntil(c, gop) && ahead) {
      Seek(start);
      skip_below_ = c;
      DecodeUntil(c, gop);
    }
    hit = cache_.find(c);
    if (hit == cache_.end()) return nullptr;
  }
  return av_frame_clone(hit->second);
}

bool VideoSource::Weave(const AVFrame* top, const AVFrame* bottom) {
  if (top->width != bottom->width || top->height != bottom->height || top->format != bottom->format)
    return false;
  // A woven picture still held by a frameserver client keeps its memory; the
  // next one gets new memory.
  if (woven_->width != top->width || woven_->height != top->height ||
      woven_->format != top->format || !woven_->data[0] || !av_frame_is_writable(woven_)) {
    av_frame_unref(woven_);
    woven_->width = top->width;
    woven_->height = top->height;
    woven_->format = top->format;
    if (av_frame_get_buffer(woven_, 0) < 0) return false;
  }
  av_frame_copy_props(woven_, top);
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(top->format));
  if (!desc) return false;
  const int planes = av_pix_fmt_count_planes(static_cast<AVPixelFormat>(top->format));
  for (int p = 0; p < planes; ++p) {
    const int rows =
        (p == 1 || p == 2) ? AV_CEIL_RSHIFT(top->height, desc->log2_chroma_h) : top->height;
    const int bytes = av_image_get_linesize(static_cast<AVPixelFormat>(top->format), top->width, p);
    if (bytes <= 0) return false;
    for (int y = 0; y < rows; ++y) {
      const AVFrame* from = (y & 1) ? bottom : top;
      std::memcpy(woven_->data[p] + static_cast<ptrdiff_t>(y) * woven_->linesize[p],
                  from->data[p] + static_cast<ptrdiff_t>(y) * from->linesize[p], bytes);
    }
  }
  return true;
}

bool VideoSource::Convert(const AVFrame* frame) {
  if (frame->width <= 0 || frame->height <= 0) return false;
  sws_ = sws_getCachedContext(
      sws_, frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), record_.width,
      record_.height, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (!sws_) return false;
  // PC scale stretches video levels to 0-255; TV scale keeps them.
  const int full_in = index_.pc_scale ? frame->color_range == AVCOL_RANGE_JPEG : 1;
  const int* coefficients = sws_getCoefficients(frame->colorspace);
  sws_setColorspaceDetails(sws_, coefficients, full_in, sws_getCoefficients(SWS_CS_DEFAULT), 1, 0,
                           1 << 16, 1 << 16);
  uint8_t* dst[4] = {rgb_.data(), nullptr, nullptr, nullptr};
  int stride[4] = {record_.width * 3, 0, 0, 0};
  return sws_scale(sws_, frame->data, frame->linesize, 0, frame->height, dst, stride) ==
         record_.height;
}

AVFrame* VideoSource::Delivered(int n) {
  if (n < 0 || n >= record_.frames) return nullptr;
  const FieldPair pair = film_ ? FieldPair{n, n} : shown_[n];
  AVFrame* top = CodedFrame(pair.top);
  if (!top || pair.bottom == pair.top) return top;
  AVFrame* bottom = CodedFrame(pair.bottom);
  const bool ok = bottom && Weave(top, bottom);
  av_frame_free(&bottom);
  av_frame_free(&top);
  return ok ? av_frame_clone(woven_) : nullptr;
}

const uint8_t* VideoSource::Frame(int n) {
  AVFrame* picture = Delivered(n);
  const bool ok = picture && Convert(picture);
  av_frame_free(&picture);
  return ok ? rgb_.data() : nullptr;
}

AVFrame* VideoSource::PlanarFrame(int n) {
  AVFrame* picture = Delivered(n);
  if (!picture || (picture->format == AV_PIX_FMT_YUV420P && picture->width == record_.width &&
                   picture->height == record_.height))
    return picture;
  // Not 4:2:0 or not the indexed size: converted, so that the frameserver
  // always gets what the record says.
  AVFrame* out = av_frame_alloc();
  bool ok = out && picture->width > 0 && picture->height > 0;
  if (ok) {
    out->format = AV_PIX_FMT_YUV420P;
    out->width = record_.width;
    out->height = record_.height;
    planar_sws_ = sws_getCachedContext(
        planar_sws_, picture->width, picture->height, static_cast<AVPixelFormat>(picture->format),
        out->width, out->height, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
    ok = planar_sws_ && av_frame_get_buffer(out, 0) == 0 &&
         sws_scale(planar_sws_, picture->data, picture->linesize, 0, picture->height, out->data,
                   out->linesize) == out->height;
  }
  av_frame_free(&picture);
  if (!ok) av_frame_free(&out);
  return out;
}

}  // namespace qmvideo
