#include "tessmar/sound_placement.h"

#include <fcntl.h>
#include <unistd.h>

#include <cmath>

#include "dvd/byte_order.h"
#include "tessmar/formats/d2v.h"
#include "tessmar/stream_codes.h"

namespace tessmar {

namespace {

constexpr int64_t kSector = 2048;
constexpr int64_t kTicksPerSecond = 90000;
// In a navigation pack: the PCI packet and, in its data, the start of the
// VOBU's presentation.
constexpr int kPciPacket = 0x26;
constexpr int kPciSubstream = 0x2C;
constexpr int kVobuStartPtm = 0x2D + 12;

bool StartCode(const uint8_t* p, int code) {
  return p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] == code;
}

// The bytes an audio payload of the index leaves after the sub-stream id.
int SubstreamHeader(int sub) {
  if ((sub >= kAc3First && sub <= kAc3Last) || (sub >= kDtsFirst && sub <= kDtsLast)) return 1 + 3;
  if (sub >= kLpcmFirst && sub <= kLpcmLast) return 1 + 6;
  return -1;
}

}  // namespace

StampReader::StampReader(const std::vector<std::string>& paths) : sector_(kSector) {
  for (const std::string& p : paths) fds_.push_back(::open(p.c_str(), O_RDONLY | O_CLOEXEC));
}

StampReader::~StampReader() {
  for (int fd : fds_)
    if (fd >= 0) ::close(fd);
}

const uint8_t* StampReader::Sector(int file, int64_t offset) {
  if (file < 0 || static_cast<size_t>(file) >= fds_.size() || fds_[file] < 0 || offset < 0)
    return nullptr;
  const int64_t at = offset / kSector * kSector;
  if (file == sector_file_ && at == sector_at_) return sector_.data();
  sector_file_ = -1;
  if (::pread(fds_[file], sector_.data(), kSector, at) != kSector) return nullptr;
  sector_file_ = file;
  sector_at_ = at;
  return sector_.data();
}

bool StampReader::VobuStart(int file, int64_t offset, uint32_t* ptm) {
  if (offset % kSector != 0) return false;
  const uint8_t* s = Sector(file, offset);
  if (!s || !StartCode(s, kPackStart) || !StartCode(s + kPciPacket, kPrivateStream2) ||
      s[kPciSubstream] != 0)
    return false;
  *ptm = dvd::Be32(s + kVobuStartPtm);
  return true;
}

bool StampReader::PayloadPts(int file, int64_t offset, uint32_t* pts) {
  const uint8_t* s = Sector(file, offset);
  if (!s || !StartCode(s, kPackStart)) return false;
  const int64_t base = offset / kSector * kSector;
  int64_t pos = kPackHeaderBytes + (s[13] & 7);
  // The packets of the pack, up to the one whose payload starts there.
  while (pos + 9 <= kSector && base + pos < offset && StartCode(s + pos, s[pos + 3])) {
    const int code = s[pos + 3];
    const int64_t length = 6 + dvd::Be16(s + pos + 4);
    const bool pes = code == kPrivateStream1 || (code >= kMpegAudioFirst && code <= kMpegAudioLast);
    if (pes && (s[pos + 6] & kMpeg2PesMask) == kMpeg2PesBits) {
      int64_t payload = pos + 9 + s[pos + 8];
      if (code == kPrivateStream1) payload += payload < kSector ? SubstreamHeader(s[payload]) : -1;
      if (base + payload == offset) {
        if (s[pos + 7] < kPtsPresent || pos + 9 + kPtsBytes > kSector) return false;
        *pts = PtsLow32(s + pos + 9);
        return true;
      }
    }
    pos += length;
  }
  return false;
}

SoundPlacement::SoundPlacement(const std::vector<Cell>& cells, double frame_rate,
                               StampReader* stamps) {
  const double ticks_per_field = frame_rate > 0 ? kTicksPerSecond / (2 * frame_rate) : 0;
  int64_t fields = 0;
  for (const Cell& c : cells) {
    uint32_t ptm = 0;
    const bool known = c.file >= 0 && stamps->VobuStart(c.file, c.nav_offset, &ptm);
    start_.push_back(std::llround(static_cast<double>(fields) * ticks_per_field));
    picture_pts_.push_back(ptm);
    known_.push_back(known && ticks_per_field > 0);
    fields += c.fields;
  }
}

bool SoundPlacement::TitleTicks(size_t cell, uint32_t pts, int64_t* ticks) const {
  if (cell >= known_.size() || !known_[cell]) return false;
  // Time stamps wrap: the difference is taken within half their range.
  *ticks = start_[cell] + static_cast<int32_t>(pts - picture_pts_[cell]);
  return true;
}

double FrameRateOf(int frame_rate_milli) {
  if (frame_rate_milli == 29970) return 30000.0 / 1001;
  if (frame_rate_milli == 23976) return 24000.0 / 1001;
  if (frame_rate_milli == 59940) return 60000.0 / 1001;
  return frame_rate_milli / 1000.0;
}

int64_t FieldsOf(const std::string& flags, size_t at, size_t size) {
  int64_t fields = 0;
  const size_t end = std::min(flags.size(), at + size);
  for (size_t i = at; i < end;) {
    while (i < end && flags[i] == ' ') ++i;
    if (i >= end) break;
    size_t j = i;
    unsigned value = 0;
    for (; j < end && flags[j] != ' '; ++j) {
      const char c = flags[j];
      value = value * 16 + static_cast<unsigned>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    }
    fields += 2 + (value & formats::kFlagRepeatFirstField ? 1 : 0);
    i = j;
  }
  return fields;
}

}  // namespace tessmar
