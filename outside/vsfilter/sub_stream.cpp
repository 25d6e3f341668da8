#include "outside/vsfilter/sub_stream.h"

namespace vsfilter {

namespace {

constexpr size_t kPackBytes = 2048;
constexpr int kPrivateStream1 = 0xBD;
constexpr int kPrivateStream2 = 0xBF;
// A unit is at most 64 KiB, so it spans at most this many packs.
constexpr int kMaxPacks = 40;

bool StartCode(const uint8_t* p, size_t left, int code) {
  return left >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 1 && p[3] == code;
}

// Length of the pack header at `p` (MPEG-2 or MPEG-1), 0 when there is none.
size_t PackHeader(const uint8_t* p, size_t left) {
  if (!StartCode(p, left, 0xBA) || left < 12) return 0;
  if ((p[4] >> 6) == 1) return left >= 14 ? 14 + (p[13] & 7) : 0;
  return 12;
}

// Calls `packet(code, data, size)` for each packet of the pack at `p`
// (within `left` bytes); stops early when it returns false.
template <typename F>
void Packets(const uint8_t* p, size_t left, F packet) {
  size_t at = PackHeader(p, left);
  if (at == 0) return;
  while (at + 6 <= left && p[at] == 0 && p[at + 1] == 0 && p[at + 2] == 1) {
    const int code = p[at + 3];
    if (code == 0xBA || code == 0xB9) return;
    const size_t length = (static_cast<size_t>(p[at + 4]) << 8) | p[at + 5];
    if (at + 6 + length > left) return;
    if (!packet(code, p + at + 6, length)) return;
    at += 6 + length;
  }
}

// The payload of an MPEG-2 PES packet body (after the length field), and
// its time stamp when it has one.
bool PesPayload(const uint8_t* body, size_t length, const uint8_t** payload, size_t* size,
                bool* has_pts, uint32_t* pts) {
  if (length < 3 || (body[0] & 0xC0) != 0x80) return false;
  const size_t header = 3 + static_cast<size_t>(body[2]);
  if (header > length) return false;
  *has_pts = (body[1] & 0x80) && body[2] >= 5;
  if (*has_pts) {
    const uint8_t* t = body + 3;
    *pts = (static_cast<uint32_t>((t[0] >> 1) & 7) << 30) | (static_cast<uint32_t>(t[1]) << 22) |
           (static_cast<uint32_t>(t[2] >> 1) << 15) | (static_cast<uint32_t>(t[3]) << 7) |
           (t[4] >> 1);
  }
  *payload = body + header;
  *size = length - header;
  return true;
}

}  // namespace

bool ReadSubpictureUnit(const std::string& stream, uint64_t position, std::vector<uint8_t>* unit) {
  unit->clear();
  int sub_stream = -1;
  size_t wanted = 0;
  for (int pack = 0; pack < kMaxPacks; ++pack) {
    const uint64_t at = position + static_cast<uint64_t>(pack) * kPackBytes;
    if (at >= stream.size()) return false;
    const auto* p = reinterpret_cast<const uint8_t*>(stream.data()) + at;
    const size_t left = std::min<uint64_t>(kPackBytes, stream.size() - at);
    if (PackHeader(p, left) == 0) return false;
    Packets(p, left, [&](int code, const uint8_t* body, size_t length) {
      const uint8_t* payload;
      size_t size;
      bool has_pts;
      uint32_t pts;
      if (code != kPrivateStream1 || !PesPayload(body, length, &payload, &size, &has_pts, &pts) ||
          size < 1)
        return true;
      const int id = payload[0];
      if (id < 0x20 || id > 0x3F) return true;
      if (sub_stream < 0) {
        // The unit starts here: its size is its first two bytes.
        if (size < 3) return false;
        sub_stream = id;
        wanted = (static_cast<size_t>(payload[1]) << 8) | payload[2];
      }
      if (id != sub_stream) return true;
      unit->insert(unit->end(), payload + 1, payload + size);
      return unit->size() < wanted;
    });
    if (sub_stream < 0) return false;  // no unit starts in the first pack
    if (wanted < 4) return false;
    if (unit->size() >= wanted) {
      unit->resize(wanted);
      return true;
    }
  }
  return false;
}

bool PictureStartTime(const uint8_t* data, size_t size, uint32_t* pts) {
  bool found = false;
  // A navigation pack: its presentation control information (private
  // stream 2, sub-stream 0) holds the unit's start time at byte 12.
  Packets(data, size, [&](int code, const uint8_t* body, size_t length) {
    if (code == kPrivateStream2 && length >= 1 + 16 && body[0] == 0x00) {
      const uint8_t* t = body + 1 + 12;
      *pts = (static_cast<uint32_t>(t[0]) << 24) | (static_cast<uint32_t>(t[1]) << 16) |
             (static_cast<uint32_t>(t[2]) << 8) | t[3];
      found = true;
      return false;
    }
    return true;
  });
  if (found) return true;
  // Otherwise the first video packet with a time stamp (the first picture
  // shown, when it is an I-picture without leading B-pictures).
  for (size_t at = 0; at + kPackBytes <= size && !found; at += kPackBytes) {
    Packets(data + at, kPackBytes, [&](int code, const uint8_t* body, size_t length) {
      const uint8_t* payload;
      size_t payload_size;
      bool has_pts;
      if ((code & 0xF0) == 0xE0 &&
          PesPayload(body, length, &payload, &payload_size, &has_pts, pts) && has_pts) {
        found = true;
        return false;
      }
      return true;
    });
  }
  return found;
}

}  // namespace vsfilter
