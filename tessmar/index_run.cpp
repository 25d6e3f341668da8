#include "tessmar/index_run.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "dvd/byte_order.h"
#include "tessmar/formats/audio_index.h"
#include "tessmar/formats/cell_index.h"
#include "tessmar/formats/d2v.h"
#include "tessmar/formats/index_text.h"
#include "tessmar/formats/subpicture_index.h"
#include "tessmar/stream_codes.h"

namespace tessmar {

namespace {

// Large sequential reads; the results are those of a scan that refills a
// 2048-byte buffer, since every position is kept in stream offsets.
constexpr size_t kBlockSize = 2 * 1024 * 1024;

float FrameRateOf(int code, int ext_n, int ext_d) {
  static const double kRates[9] = {0.0,  24000.0 / 1001.0, 24.0, 25.0, 30000.0 / 1001.0, 30.0,
                                   50.0, 60000.0 / 1001.0, 60.0};
  double base = code >= 1 && code <= 8 ? kRates[code] : (code == 0 ? 0.0 : -1.0);
  return static_cast<float>((ext_n + 1) * base / (ext_d + 1));
}

}  // namespace

IndexRun::IndexRun(std::vector<InputFile> inputs, std::string out_base, bool want_audio,
                   bool want_subpictures)
    : inputs_(std::move(inputs)),
      out_base_(std::move(out_base)),
      want_audio_(want_audio),
      want_subpictures_(want_subpictures) {
  int64_t at = 0;
  for (const InputFile& in : inputs_) {
    starts_.push_back(at);
    at += in.size;
  }
  total_size_ = at;
  ComputeStreamEnd();
  buf_.resize(static_cast<size_t>(std::clamp<int64_t>(stream_end_, 1, kBlockSize)));
}

IndexRun::~IndexRun() {
  CloseAll();
  // VOB handles are closed from the last to the first.
  for (size_t i = inputs_.size(); i-- > 0;)
    if (inputs_[i].fd >= 0) ::close(inputs_[i].fd);
}

// Where refills of 2048 bytes end the data: a refill that comes up short
// takes the rest from the start of the next file only, and when that one is
// short too (or there is none), the data ends there.
void IndexRun::ComputeStreamEnd() {
  stream_end_ = 0;
  if (inputs_.empty()) return;
  int64_t stream = 0;
  size_t f = 0;
  int64_t p = 0;
  for (;;) {
    int64_t avail = inputs_[f].size - p;
    if (avail >= kSectorBytes) {
      int64_t whole = avail / kSectorBytes * kSectorBytes;
      p += whole;
      stream += whole;
      continue;
    }
    if (f + 1 < inputs_.size()) {
      int64_t need = kSectorBytes - avail;
      if (inputs_[f + 1].size >= need) {
        stream += kSectorBytes;
        ++f;
        p = need;
        continue;
      }
      stream_end_ = stream + avail + inputs_[f + 1].size;
    } else {
      stream_end_ = stream + avail;
    }
    return;
  }
}

template <typename T>
void IndexRun::Put(T& field, T value) {
  if (!status_) return;
  std::lock_guard<std::mutex> lock(gate_.Mutex());
  if (!gate_.Open()) return;
  std::atomic_ref<T>(field).store(value, std::memory_order_release);
}

bool IndexRun::Park(int timeout_ms) {
  std::unique_lock<std::mutex> lock(park_mutex_);
  park_requested_ = true;
  if (park_cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return parked_; }))
    return true;
  park_requested_ = false;
  park_cv_.notify_all();
  return false;
}

void IndexRun::Unpark() {
  std::lock_guard<std::mutex> lock(park_mutex_);
  park_requested_ = false;
  park_cv_.notify_all();
}

void IndexRun::Abandon() {
  {
    std::lock_guard<std::mutex> lock(gate_.Mutex());
    gate_.Close();
  }
  stop_requested_.store(true);
  Unpark();
}

bool IndexRun::Abandoned() {
  std::lock_guard<std::mutex> lock(gate_.Mutex());
  return !gate_.Open();
}

// Checked at every refill and every picture: the stop request ends the run,
// a suspension parks the worker here until it is resumed.
void IndexRun::Checkpoint() {
  if (!index_mode_) return;
  if (stop_requested_.load(std::memory_order_relaxed)) throw EndRun{};
  std::unique_lock<std::mutex> lock(park_mutex_);
  if (!park_requested_) return;
  parked_ = true;
  park_cv_.notify_all();
  park_cv_.wait(lock, [this] { return !park_requested_; });
  parked_ = false;
  lock.unlock();
  if (stop_requested_.load(std::memory_order_relaxed)) throw EndRun{};
}

// ---------------------------------------------------------------- byte stream

void IndexRun::Restart() {
  base_ = 0;
  pos_ = 0;
  len_ = 0;
}

void IndexRun::ReadAt(int64_t offset, uint8_t* out, size_t size, size_t* got) const {
  size_t done = 0;
  while (done < size && offset < total_size_) {
    Location at = Locate(offset);
    const InputFile& in = inputs_[static_cast<size_t>(at.file)];
    if (at.offset >= in.size) break;
    size_t chunk = static_cast<size_t>(
        std::min<int64_t>(static_cast<int64_t>(size - done), in.size - at.offset));
    if (in.memory) {
      std::memcpy(out + done, in.memory + at.offset, chunk);
    } else {
      size_t part = 0;
      while (part < chunk) {
        ssize_t n = ::pread(in.fd, out + done + part, chunk - part, at.offset + part);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        part += static_cast<size_t>(n);
      }
      if (part < chunk) {
        *got = done + part;
        return;
      }
    }
    done += chunk;
    offset += static_cast<int64_t>(chunk);
  }
  *got = done;
}

void IndexRun::Refill() {
  Checkpoint();
  int64_t next = base_ + static_cast<int64_t>(len_);
  if (next >= stream_end_) throw EndRun{};
  size_t want = static_cast<size_t>(std::min<int64_t>(buf_.size(), stream_end_ - next));
  size_t got = 0;
  ReadAt(next, buf_.data(), want, &got);
  base_ = next;
  pos_ = 0;
  len_ = got;
  if (got < want) stream_end_ = next + static_cast<int64_t>(got);  // shrunk or unreadable
  if (got == 0) throw EndRun{};
}

void IndexRun::Skip(int64_t n) {
  if (n <= 0) return;
  if (n <= static_cast<int64_t>(len_ - pos_)) {
    pos_ += static_cast<size_t>(n);
    return;
  }
  int64_t target = Position() + n;
  if (target > stream_end_) throw EndRun{};  // the data ends inside the packet
  base_ = target;
  pos_ = 0;
  len_ = 0;
}

IndexRun::Location IndexRun::Locate(int64_t stream_offset) const {
  auto it = std::upper_bound(starts_.begin(), starts_.end(), stream_offset);
  int f = static_cast<int>(it - starts_.begin()) - 1;
  if (f < 0) f = 0;
  return {f, stream_offset - starts_[static_cast<size_t>(f)]};
}

// The file and the position in it after the last 2048-byte refill that
// reached the current read position.
void IndexRun::CurrentRead(int* file, int64_t* position) const {
  int64_t frontier = Position();
  if (frontier <= 0) {
    *file = 0;
    *position = 0;
    return;
  }
  int64_t end = ((frontier - 1) / kSectorBytes + 1) * kSectorBytes;
  if (end > stream_end_) end = stream_end_;
  if (end < 1) end = 1;
  Location at = Locate(end - 1);
  *file = at.file;
  *position = at.offset + 1;
}

int IndexRun::NextStartCode(int64_t* start) {
  int zeros = 0;
  for (;;) {
    if (pos_ == len_) Refill();
    uint8_t b = buf_[pos_++];
    if (b == 0) {
      ++zeros;
      continue;
    }
    if (b == 1 && zeros >= 2) {
      *start = Position() - 3;
      return Byte();
    }
    zeros = 0;
    const void* z = std::memchr(buf_.data() + pos_, 0, len_ - pos_);
    pos_ = z ? static_cast<size_t>(static_cast<const uint8_t*>(z) - buf_.data()) : len_;
  }
}

uint32_t IndexRun::ReadPts() {
  uint32_t b1 = static_cast<uint32_t>(Byte());
  uint32_t b2 = static_cast<uint32_t>(Byte());
  uint32_t b3 = static_cast<uint32_t>(Byte());
  uint32_t b4 = static_cast<uint32_t>(Byte());
  uint32_t b5 = static_cast<uint32_t>(Byte());
  return (((b1 >> 1) & 3) << 30) | (b2 << 22) | ((b3 >> 1) << 15) | (b4 << 7) | (b5 >> 1);
}

// ------------------------------------------------------- program stream packets

void IndexRun::ScrambleTest(int flag_byte) {
  if (status_ && (flag_byte & kScramblingMask) != 0) {
    Put(status_->scrambled, uint8_t{1});
    interrupted_ = true;
    throw EndRun{};
  }
}

int64_t IndexRun::NextVideoPacket() {
  for (;;) {
    int64_t start = 0;
    int code = NextStartCode(&start);
    if (code < kPackStart) continue;
    if (code == kPackStart) {
      pack_ = Locate(start);
      private2_in_pack_ = 0;
      Skip(8);
      continue;
    }
    if (code == kPrivateStream1) {
      Private1(start);
    } else if (code == kPrivateStream2) {
      Private2(start);
    } else if (code >= kMpegAudioFirst && code <= kMpegAudioLast) {
      MpegAudio(code, start);
    } else if (code == kVideoStream) {
      int64_t length = Read16();
      int flag = Byte();
      ScrambleTest(flag);
      if ((flag & kMpeg2PesMask) != kMpeg2PesBits) {
        Skip(length - 1);
        continue;
      }
      int pts_flags = Byte();
      int header = Byte();
      if (pts_flags >= kPtsPresent && !start_mark_) {
        video_pts_ = ReadPts();
        if (facts_.frame_rate != 0.0f)
          video_pts_ += static_cast<uint32_t>(
              static_cast<int64_t>(-90000.0 * facts_.b_after_first_i / facts_.frame_rate));
        Skip(header - kPtsBytes);
      } else {
        Skip(header);
      }
      return std::max<int64_t>(0, length - 3 - header);
    } else {
      Skip(Read16());
    }
  }
}

void IndexRun::Private1(int64_t start) {
  int64_t length = Read16();
  ScrambleTest(Byte());
  int pts_flags = Byte();
  int header = Byte();
  bool has_pts = false;
  if (pts_flags >= kPtsPresent) {
    audio_pts_ = ReadPts();
    has_pts = true;
    Skip(header - kPtsBytes);
  } else {
    Skip(header);
  }
  int sub = Byte();
  int64_t payload = length - 3 - header - 1;
  if (sub >= kAc3First && sub <= kAc3Last) {
    Skip(3);
    payload -= 3;
    AudioPacket(sub - kAc3First, kAudioAc3, payload, false, 0);
  } else if (sub >= kLpcmFirst && sub <= kLpcmLast) {
    Skip(4);
    int info = Byte();
    Skip(1);
    payload -= 6;
    AudioPacket(sub - kLpcmFirst, kAudioLpcm, payload, true, info);
  } else if (sub >= kDtsFirst && sub <= kDtsLast) {
    Skip(3);
    payload -= 3;
    AudioPacket(sub - kDtsFirst, kAudioDts, payload, false, 0);
  } else if (sub >= kSubpictureFirst && sub <= kSubpictureLast) {
    SubpicturePacket(sub - kSubpictureFirst, start, payload, has_pts);
  }
  Skip(payload);
}

void IndexRun::AudioPacket(int n, int format, int64_t payload, bool lpcm, int info) {
  // A packet whose headers run past its own length is damaged: nothing of it
  // is registered or indexed.
  if (!status_ || payload < 0) return;
  if (!audio_registered_[n]) {
    if (!start_mark_) return;
    audio_registered_[n] = true;
    AudioStreamInfo& rec = status_->audio[n];
    Put(rec.format, static_cast<int32_t>(format));
    int32_t count = 0;
    for (bool r : audio_registered_) count += r ? 1 : 0;
    Put(status_->audioStreamCount, count);
    uint32_t a = audio_pts_;
    uint32_t v = video_pts_;
    int32_t d = static_cast<int32_t>(a > v ? (a - v) / 90 : (v - a) / 90);
    int32_t delay = a > v ? d : -d;
    if (d > 5000) delay = 0;
    Put(rec.delayMs, delay);
    if (lpcm) {
      static const uint8_t kBits[4] = {16, 20, 24, 0};
      Put(rec.channels, static_cast<uint8_t>((info & 7) + 1));
      Put(rec.bitsPerSample, kBits[(info >> 6) & 3]);
      Put(rec.sampleRate, static_cast<int32_t>((info & 0x30) == 0 ? 48000 : 96000));
    }
    if (want_audio_) {
      OutFile& out = audio_files_[n];
      if (out.Create(formats::AudioIndexName(out_base_, n), &gate_)) {
        line_.clear();
        formats::AppendAudioIndexHead(&line_, InputPaths());
        out.Text(line_);
      }
    }
  }
  if (want_audio_ && audio_files_[n].IsOpen()) {
    Location at = Locate(Position());
    line_.clear();
    formats::AppendAudioEntry(&line_, {at.file, vob_id_, cell_id_, static_cast<uint64_t>(at.offset),
                                       static_cast<unsigned>(payload)});
    audio_files_[n].Text(line_);
  }
}

void IndexRun::SubpicturePacket(int n, int64_t start, int64_t payload, bool has_pts) {
  if (!status_ || payload < 0) return;
  if (!subpicture_registered_[n]) {
    if (!start_mark_) return;
    subpicture_registered_[n] = true;
    Put(status_->subpicturePresent[n], uint8_t{1});
    int32_t count = 0;
    for (bool r : subpicture_registered_) count += r ? 1 : 0;
    Put(status_->subpictureStreamCount, count);
    if (want_subpictures_) {
      OutFile& index = subpicture_index_[n];
      OutFile& stream = subpicture_stream_[n];
      bool ok = index.Create(formats::SubpictureIndexName(out_base_, n), &gate_) &&
                stream.Create(formats::SubpictureStreamName(out_base_, n), &gate_);
      if (ok) {
        line_.clear();
        formats::AppendSubpictureIndexHead(&line_);
        index.Text(line_);
      } else {  // an index without its stream (or the reverse) is of no use
        index.Close();
        stream.Close();
      }
    }
  }
  if (!want_subpictures_ || !subpicture_index_[n].IsOpen()) return;
  if (has_pts) {
    line_.clear();
    formats::AppendSubpictureEntry(
        &line_, {vob_id_, cell_id_, audio_pts_, static_cast<uint64_t>(subpicture_length_[n])});
    subpicture_index_[n].Text(line_);
  }
  // The pack of this packet: its pack header comes first.
  uint8_t pack[kSectorBytes] = {};
  size_t got = 0;
  ReadAt(std::max<int64_t>(0, start - kPackHeaderBytes), pack, sizeof pack, &got);
  subpicture_stream_[n].Write(pack, sizeof pack);
  subpicture_length_[n] += kSectorBytes;
}

void IndexRun::Private2(int64_t start) {
  int64_t length = Read16();
  ++private2_in_pack_;
  // The second private stream 2 packet of a pack is the DSI packet.
  if (private2_in_pack_ != 2 || length < 29) {
    Skip(length);
    return;
  }
  uint8_t b[29];
  for (uint8_t& x : b) x = static_cast<uint8_t>(Byte());
  vob_id_ = (b[25] << 8) | b[26];
  cell_id_ = b[28];
  if (cells_enabled_ && (vob_id_ != written_vob_ || cell_id_ != written_cell_)) {
    Location at = Locate(start);
    int64_t nav = std::max<int64_t>(0, at.offset - 1024);
    line_.clear();
    formats::AppendCellLine(&line_, {vob_id_, cell_id_, at.file, static_cast<uint64_t>(nav)});
    qmci_.Text(line_);
    written_vob_ = vob_id_;
    written_cell_ = cell_id_;
  }
  Skip(length - 29);
}

void IndexRun::MpegAudio(int code, int64_t /*start*/) {
  int64_t length = Read16();
  int flag = Byte();
  ScrambleTest(flag);
  if ((flag & kMpeg2PesMask) != kMpeg2PesBits) {
    Skip(length - 1);
    return;
  }
  int pts_flags = Byte();
  int header = Byte();
  if (pts_flags >= kPtsPresent) {
    audio_pts_ = ReadPts();
    Skip(header - kPtsBytes);
  } else {
    Skip(header);
  }
  int64_t payload = length - 3 - header;
  AudioPacket(code - kMpegAudioFirst, kAudioMpeg, payload, false, 0);
  Skip(payload);
}

// ------------------------------------------------------------------ bit reader

int IndexRun::FetchByte() {
  if (stream_type_ == 1) {
    while (segment_left_ <= 0) segment_left_ = NextVideoPacket();
    --segment_left_;
  }
  return Byte();
}

void IndexRun::ResetBitReader() {
  window_ = 0;
  bits_ = 0;
  segment_left_ = 0;
  Refetch();
}

// Byte-aligned search for 00 00 01; the look-ahead then holds the start code.
// Inside the current video payload the search runs over memory: candidates
// whose prefix begins in the look-ahead are tried byte by byte, the rest with
// memchr for the 01 byte.
void IndexRun::FindStartCode() {
  uint32_t w = ShowBits(32);
  for (;;) {
    if ((w & 0xFFFFFF00u) == 0x100u) break;
    size_t avail = len_ - pos_;
    if (stream_type_ == 1 && static_cast<int64_t>(avail) > segment_left_)
      avail = static_cast<size_t>(segment_left_);
    if (avail >= 8) {
      const uint8_t* s = buf_.data() + pos_;
      const uint8_t* end = s + avail;
      size_t used = 0;
      bool found = false;
      for (; used < 3 && !found; ++used) {
        w = (w << 8) | s[used];
        found = (w & 0xFFFFFF00u) == 0x100u;
      }
      if (!found) {
        const uint8_t* q = s + 2;
        const uint8_t* prefix = nullptr;
        while (q < end) {
          q = static_cast<const uint8_t*>(std::memchr(q, 1, static_cast<size_t>(end - q)));
          if (!q) break;
          if (q[-1] == 0 && q[-2] == 0) {
            prefix = q - 2;
            break;
          }
          ++q;
        }
        if (prefix && prefix + 3 < end) {
          w = dvd::Be32(prefix);
          used = static_cast<size_t>(prefix + 4 - s);
          found = true;
        } else {
          // No prefix inside, or its code byte lies beyond: take all, and let
          // the byte steps below go on across the boundary.
          w = dvd::Be32(end - 4);
          used = avail;
        }
      }
      pos_ += used;
      if (stream_type_ == 1) segment_left_ -= static_cast<int64_t>(used);
      if (found) break;
      continue;
    }
    w = (w << 8) | static_cast<uint32_t>(FetchByte());
  }
  window_ = w;
  bits_ = 32;
}

// --------------------------------------------------------------- video headers

void IndexRun::Extensions() {
  for (;;) {
    Align();
    FindStartCode();
    uint32_t code = ShowBits(32);
    if (code == kExtensionStartCode) {
      GetBits(32);
      int id = static_cast<int>(GetBits(4));
      if (id == kSequenceExtensionId) {
        GetBits(8);  // profile and level
        seq_progressive_ = static_cast<int>(GetBits(1));
        GetBits(2);  // chroma format
        int h_ext = static_cast<int>(GetBits(2));
        int v_ext = static_cast<int>(GetBits(2));
        seq_horizontal_ = (seq_horizontal_ & 0xFFF) | (h_ext << 12);
        seq_vertical_ = (seq_vertical_ & 0xFFF) | (v_ext << 12);
        GetBits(12);  // bit rate extension
        GetBits(1);
        GetBits(8);  // vbv buffer size extension
        GetBits(1);  // low delay
        frame_rate_n_ = static_cast<int>(GetBits(2));
        frame_rate_d_ = static_cast<int>(GetBits(5));
      } else if (id == kPictureCodingExtensionId) {
        GetBits(16);  // f codes
        GetBits(2);   // intra dc precision
        picture_structure_ = static_cast<int>(GetBits(2));
        int tff = static_cast<int>(GetBits(1));
        GetBits(5);
        int rff = static_cast<int>(GetBits(1));
        GetBits(1);  // chroma 420 type
        current_.progressive = static_cast<int>(GetBits(1));
        // A field picture's top_field_first is 0; which field a pair shows
        // first is the parity of its first field.
        if (picture_structure_ == kFramePicture)
          current_.flags = tff * 2 + rff;
        else if (!second_field_)
          current_.flags = pair_flags_ = (picture_structure_ == kTopField ? 2 : 0) + rff;
        else
          current_.flags = pair_flags_;
      }
    } else if (code == kUserDataStartCode) {
      GetBits(32);  // user data: passed over by the next search
    } else {
      return;
    }
  }
}

void IndexRun::SequenceHeader() {
  seq_horizontal_ = static_cast<int>(GetBits(12));
  seq_vertical_ = static_cast<int>(GetBits(12));
  seq_aspect_ = static_cast<int>(GetBits(4));
  seq_frame_rate_code_ = static_cast<int>(GetBits(4));
  frame_rate_n_ = 0;
  frame_rate_d_ = 0;
  GetBits(18);
  GetBits(1);
  GetBits(10);
  GetBits(1);
  for (int matrix = 0; matrix < 2; ++matrix)
    if (GetBits(1))
      for (int i = 0; i < 64; ++i) GetBits(8);
  Extensions();
}

void IndexRun::GetHeader() {
  for (;;) {
    Align();
    Location pack_at_search = pack_;
    FindStartCode();
    int64_t code_at = Position() - 4;
    uint32_t code = GetBits(32);
    if (code == kSequenceHeaderCode) {
      SequenceHeader();
    } else if (code == kGroupStartCode) {
      GetBits(25);  // time code
      closed_gop_ = static_cast<int>(GetBits(1));
      GetBits(1);
    } else if (code == kPictureStartCode) {
      PictureHeader(pack_at_search, code_at);
      return;
    }
  }
}

void IndexRun::PictureHeader(const Location& pack_at_search, int64_t start_code_at) {
  GetBits(10);
  picture_type_ = static_cast<int>(GetBits(3));
  current_.type = picture_type_;
  if (picture_type_ == kIPicture && index_mode_) {
    int file = 0;
    int64_t position = 0;
    CurrentRead(&file, &position);
    int last = static_cast<int>(inputs_.size()) - 1;
    const int64_t last_size = inputs_[static_cast<size_t>(last)].size;
    const int64_t near_end = (last_size / kSectorBytes - 1) * kSectorBytes;
    if (file == last && position >= near_end) throw EndRun{};
    if (start_mark_ && status_) {
      double done = static_cast<double>(starts_[static_cast<size_t>(file)] + position);
      double total = static_cast<double>(starts_[static_cast<size_t>(last)] + near_end);
      if (total > 0) Put(status_->percent, static_cast<float>(done * 100.0 / total));
      UpdateVideoKind();
    }
  }
  GetBits(16);  // vbv delay
  if (picture_type_ == kPPicture || picture_type_ == kBPicture) GetBits(4);
  if (picture_type_ == kBPicture) GetBits(4);
  while (GetBits(1)) GetBits(8);
  Extensions();
  // The position of an I-picture that begins a frame (a frame picture or the
  // first field of a pair, of either parity): the pack in which the search
  // for its start code began (the file index goes with that pack).
  if (picture_type_ == kIPicture && (picture_structure_ == kFramePicture || !second_field_))
    current_.last_i = stream_type_ == 1 ? pack_at_search : Locate(start_code_at);
}

void IndexRun::CompletePicture() {
  const bool frame = picture_structure_ == kFramePicture;
  if (frame) second_field_ = false;
  const PictureRecord before_shift = previous_ref_;
  if (current_.type != kBPicture) {
    before_previous_ = previous_ref_;
    previous_ref_ = current_;
  }
  if (index_mode_ && (frame || !second_field_)) {
    if (current_.type == kIPicture && !gop_.empty()) {
      WriteGopLine(false);
      gop_.clear();
    }
    if (static_cast<int>(gop_.size()) >= kMaxGopEntries) {
      interrupted_ = true;
      throw EndRun{};
    }
    if (gop_.empty()) gop_location_ = current_.last_i;
    gop_.push_back({current_.type, current_.flags, closed_gop_, vob_id_, cell_id_});
  }
  if (index_mode_ && frame_number_ > 0 && (frame || second_field_))
    OutputFrame(current_.type == kBPicture ? current_ : before_shift, frame_number_ - 1);
  if (!frame) second_field_ = !second_field_;
  if (!second_field_) ++frame_number_;
}

void IndexRun::OutputFrame(const PictureRecord& picture, int64_t number) {
  if (number == 0) {
    film_ = video_ = progressive_ = interlaced_ = 0;
    previous_flags_ = picture.flags;
    if (status_) Put(status_->topFieldFirst, static_cast<uint8_t>(picture.flags >> 1));
  } else {
    if (picture.flags == (previous_flags_ + 1) % 4)
      ++film_;
    else
      ++video_;
    previous_flags_ = picture.flags;
  }
  if (status_) {
    if (picture.progressive)
      ++progressive_;
    else
      ++interlaced_;
  }
}

void IndexRun::UpdateVideoKind() {
  if (!status_) return;
  int32_t kind = 0;
  if (film_ == 0 && video_ > 0)
    kind = facts_.frame_rate == 25.0f ? kVideoPal : kVideoNtsc;
  else if (video_ == 0 && film_ > 0)
    kind = kVideoFilm;
  else if (film_ > 0 && video_ > 0)
    kind = kVideoMixed;
  if (kind != 0) Put(status_->videoKind, kind);
}

void IndexRun::FirstHeaderSearch() {
  // Raw bytes first: is there a pack header, and is the first sequence
  // header followed by a sequence extension?
  facts_ = ProbeFacts();
  stream_type_ = 0;
  Restart();
  ResetBitReader();
  for (;;) {
    Align();
    FindStartCode();
    uint32_t code = GetBits(32);
    if (code == kPackStartCode) {
      facts_.stream_type = formats::kProgramStream;
    } else if (code == kSequenceHeaderCode) {
      Align();
      FindStartCode();
      uint32_t next = GetBits(32);
      if (next == kExtensionStartCode && ShowBits(4) == kSequenceExtensionId) break;
      interrupted_ = true;  // no MPEG-2 video
      throw EndRun{};
    }
  }
  stream_type_ = facts_.stream_type;
  Restart();
  ResetBitReader();
  for (;;) {
    Align();
    FindStartCode();
    if (GetBits(32) == kSequenceHeaderCode) break;
  }
  SequenceHeader();
  facts_.horizontal_size = seq_horizontal_;
  facts_.vertical_size = seq_vertical_;
  facts_.aspect_code = seq_aspect_;
  facts_.progressive_sequence = seq_progressive_;
  facts_.frame_rate = FrameRateOf(seq_frame_rate_code_, frame_rate_n_, frame_rate_d_);
  facts_.coded_width = (seq_horizontal_ + 15) / 16 * 16;
  facts_.coded_height =
      seq_progressive_ ? (seq_vertical_ + 15) / 16 * 16 : (seq_vertical_ + 31) / 32 * 32;
  facts_.found = true;
  // The B-pictures that follow the first I-picture delay its display.
  Restart();
  ResetBitReader();
  do {
    GetHeader();
  } while (picture_type_ != kIPicture);
  for (;;) {
    GetHeader();
    if (picture_type_ != kBPicture) break;
    ++facts_.b_after_first_i;
  }
}

void IndexRun::Probe() {
  index_mode_ = false;
  try {
    FirstHeaderSearch();
  } catch (const EndRun&) {
  }
  if (!facts_.found) facts_ = ProbeFacts();
}

// ------------------------------------------------------------------------ files

std::vector<std::string> IndexRun::InputPaths() const {
  std::vector<std::string> paths;
  for (const InputFile& in : inputs_) paths.push_back(in.path);
  return paths;
}

bool IndexRun::OpenOutputs(TessmarStatus* status) {
  status_ = status;
  if (!d2v_.Create(out_base_ + ".d2v", &gate_) || !qmci_.Create(out_base_ + ".qmci", &gate_)) {
    d2v_.Close();
    qmci_.Close();
    return false;
  }
  line_.clear();
  formats::AppendCellIndexHead(&line_, InputPaths());
  qmci_.Text(line_);
  return true;
}

void IndexRun::WriteD2vHeader() {
  formats::D2vHeader header;
  header.paths = InputPaths();
  header.stream_type = facts_.stream_type;
  header.aspect_code = facts_.aspect_code;
  header.coded_width = facts_.coded_width;
  header.coded_height = facts_.coded_height;
  header.frame_rate_milli = static_cast<int>(facts_.frame_rate * 1000.0f);
  header.last_file_size = inputs_.back().size;
  line_.clear();
  formats::AppendD2vHeader(&line_, header);
  d2v_.Text(line_);
  if (status_) {
    Put(status_->codedWidth, static_cast<int32_t>(facts_.coded_width));
    Put(status_->codedHeight, static_cast<int32_t>(facts_.coded_height));
    Put(status_->aspectCode, static_cast<int32_t>(facts_.aspect_code));
    Put(status_->frameRate, facts_.frame_rate);
  }
}

void IndexRun::WriteGopLine(bool last) {
  const GopEntry& first = gop_.front();
  line_.clear();
  formats::AppendGopLineHead(&line_, gop_location_.file, gop_location_.offset, first.vob_id,
                             first.cell_id);
  // Frame flags in display order.
  int pending = -1;
  bool p_met = false;
  auto emit = [this](int value) {
    if (value >= 0) formats::AppendFrameFlag(&line_, static_cast<unsigned>(value));
  };
  for (const GopEntry& e : gop_) {
    if (e.type == kIPicture) {
      pending = e.flags | formats::kFlagDecodable;
    } else if (e.type == kBPicture) {
      emit(p_met || e.closed_gop ? e.flags | formats::kFlagDecodable : e.flags);
    } else {
      emit(pending);
      pending = e.flags | formats::kFlagDecodable;
      p_met = true;
    }
  }
  emit(pending);
  formats::AppendGopLineEnd(&line_, last);
  d2v_.Text(line_);
}

void IndexRun::IndexAll() {
  index_mode_ = true;
  interrupted_ = false;
  header_written_ = false;
  if (status_) {
    Put(status_->percent, 0.0f);
    Put(status_->running, uint8_t{1});
    Put(status_->audioStreamCount, int32_t{0});
    Put(status_->subpictureStreamCount, int32_t{0});
    for (AudioStreamInfo& a : status_->audio) Put(a.format, int32_t{0});
    for (uint8_t& s : status_->subpicturePresent) Put(s, uint8_t{0});
  }
  try {
    if (!facts_.found) {
      FirstHeaderSearch();
      if (!facts_.found) throw EndRun{};
    }
    WriteD2vHeader();
    header_written_ = true;
    stream_type_ = facts_.stream_type;
    pack_ = Location();
    private2_in_pack_ = 0;
    vob_id_ = cell_id_ = -1;
    written_vob_ = written_cell_ = -1;
    start_mark_ = false;
    cells_enabled_ = true;
    Restart();
    ResetBitReader();
    do {
      GetHeader();
    } while (picture_type_ != kIPicture);
    start_mark_ = true;
    CompletePicture();
    for (;;) {
      Checkpoint();
      GetHeader();
      CompletePicture();
    }
  } catch (const EndRun&) {
  }
  EndOfRun();
}

void IndexRun::EndOfRun() {
  if (!header_written_) interrupted_ = true;
  if (header_written_ && !gop_.empty()) WriteGopLine(true);
  finished_ = !interrupted_ && !stop_requested_.load();
  float film = (film_ + video_) > 0 && film_ > 0
                   ? static_cast<float>(film_ * 100.0 / static_cast<double>(film_ + video_))
                   : 0.0f;
  line_.clear();
  formats::AppendD2vTrailer(&line_, finished_, film);
  d2v_.Text(line_);
  if (status_) {
    Put(status_->filmPercent, film);
    int64_t total = progressive_ + interlaced_;
    if (total == 0) {
      Put(status_->mostlyProgressive, uint8_t{1});
      Put(status_->majorityPercent, 100.0f);
    } else if (progressive_ > interlaced_) {
      Put(status_->mostlyProgressive, uint8_t{1});
      Put(status_->majorityPercent, static_cast<float>(progressive_ * 100.0 / total));
    } else {
      Put(status_->mostlyProgressive, uint8_t{0});
      Put(status_->majorityPercent, static_cast<float>(interlaced_ * 100.0 / total));
    }
    UpdateVideoKind();  // the counts of the whole run, also for a single GOP
  }
  if (finished_) qmci_.Text(formats::kEndMark);
  for (OutFile& a : audio_files_) {
    if (finished_ && a.IsOpen()) a.Text(formats::kEndMark);
    a.Close();
  }
  for (int n = 0; n < formats::kMaxSubpictureStreams; ++n) {
    if (finished_ && subpicture_index_[n].IsOpen()) subpicture_index_[n].Text(formats::kEndMark);
    subpicture_index_[n].Close();
    subpicture_stream_[n].Close();
  }
  CloseAll();
}

void IndexRun::CloseAll() {
  d2v_.Close();
  qmci_.Close();
  for (OutFile& a : audio_files_) a.Close();
  for (int n = 0; n < formats::kMaxSubpictureStreams; ++n) {
    subpicture_index_[n].Close();
    subpicture_stream_[n].Close();
  }
}

void IndexRun::FinalStatus() {
  if (!status_) return;
  if (finished_) Put(status_->percent, 100.0f);
  Put(status_->finished, static_cast<uint8_t>(finished_ ? 1 : 0));
  Put(status_->ended, uint8_t{1});
  // Last: a caller that sees the run over may release the block at once.
  Put(status_->running, uint8_t{0});
}

}  // namespace tessmar
