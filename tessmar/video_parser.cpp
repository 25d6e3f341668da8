#include "tessmar/video_parser.h"

#include "dvd/byte_order.h"
#include "tessmar/start_code_scan.h"
#include "tessmar/stream_codes.h"

namespace tessmar {

VideoParser::VideoParser(StreamReader* reader, PacketDemuxer* demuxer)
    : reader_(reader), demuxer_(demuxer) {}

int VideoParser::FetchByte() {
  if (stream_type_ == 1) {
    while (segment_left_ <= 0) segment_left_ = demuxer_->NextVideoPacket();
    --segment_left_;
  }
  return reader_->Byte();
}

void VideoParser::Reset() {
  window_ = 0;
  bits_ = 0;
  segment_left_ = 0;
  Refetch();
}

// Byte-aligned search for 00 00 01; the look-ahead then holds the start code.
// Inside the current video payload the search runs over memory: candidates
// whose prefix begins in the look-ahead are tried byte by byte, the rest
// with the memory scan.
void VideoParser::FindStartCode() {
  uint32_t w = ShowBits(32);
  for (;;) {
    if ((w & 0xFFFFFF00u) == 0x100u) break;
    size_t avail = reader_->AheadSize();
    if (stream_type_ == 1 && static_cast<int64_t>(avail) > segment_left_)
      avail = static_cast<size_t>(segment_left_);
    if (avail >= 8) {
      const uint8_t* s = reader_->Ahead();
      const uint8_t* end = s + avail;
      size_t used = 0;
      bool found = false;
      for (; used < 3 && !found; ++used) {
        w = (w << 8) | s[used];
        found = (w & 0xFFFFFF00u) == 0x100u;
      }
      if (!found) {
        const uint8_t* prefix = FindStartCodePrefix(s, end);
        if (prefix) {
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
      reader_->Advance(used);
      if (stream_type_ == 1) segment_left_ -= static_cast<int64_t>(used);
      if (found) break;
      continue;
    }
    w = (w << 8) | static_cast<uint32_t>(FetchByte());
  }
  window_ = w;
  bits_ = 32;
}

uint32_t VideoParser::NextStartCode() {
  Align();
  FindStartCode();
  return GetBits(32);
}

void VideoParser::Extensions() {
  for (;;) {
    Align();
    FindStartCode();
    uint32_t code = ShowBits(32);
    if (code == kExtensionStartCode) {
      GetBits(32);
      int id = static_cast<int>(GetBits(4));
      if (id == kSequenceExtensionId) {
        GetBits(8);  // profile and level
        sequence_.progressive = static_cast<int>(GetBits(1));
        GetBits(2);  // chroma format
        int h_ext = static_cast<int>(GetBits(2));
        int v_ext = static_cast<int>(GetBits(2));
        sequence_.horizontal = (sequence_.horizontal & 0xFFF) | (h_ext << 12);
        sequence_.vertical = (sequence_.vertical & 0xFFF) | (v_ext << 12);
        GetBits(12);  // bit rate extension
        GetBits(1);
        GetBits(8);  // vbv buffer size extension
        GetBits(1);  // low delay
        sequence_.frame_rate_n = static_cast<int>(GetBits(2));
        sequence_.frame_rate_d = static_cast<int>(GetBits(5));
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

void VideoParser::SequenceHeader() {
  sequence_.horizontal = static_cast<int>(GetBits(12));
  sequence_.vertical = static_cast<int>(GetBits(12));
  sequence_.aspect = static_cast<int>(GetBits(4));
  sequence_.frame_rate_code = static_cast<int>(GetBits(4));
  sequence_.frame_rate_n = 0;
  sequence_.frame_rate_d = 0;
  GetBits(18);
  GetBits(1);
  GetBits(10);
  GetBits(1);
  for (int matrix = 0; matrix < 2; ++matrix)
    if (GetBits(1))
      for (int i = 0; i < 64; ++i) GetBits(8);
  Extensions();
}

bool VideoParser::NextPicture(bool second_field) {
  second_field_ = second_field;
  for (;;) {
    Align();
    const StreamReader::Location pack_at_search = demuxer_->CurrentPack();
    FindStartCode();
    const int64_t code_at = reader_->Position() - 4;
    const uint32_t code = GetBits(32);
    if (code == kSequenceHeaderCode) {
      SequenceHeader();
    } else if (code == kGroupStartCode) {
      GetBits(25);  // time code
      closed_gop_ = static_cast<int>(GetBits(1));
      GetBits(1);
    } else if (code == kPictureStartCode) {
      return PictureHeader(pack_at_search, code_at);
    }
  }
}

bool VideoParser::PictureHeader(const StreamReader::Location& pack_at_search,
                                int64_t start_code_at) {
  GetBits(10);
  picture_type_ = static_cast<int>(GetBits(3));
  current_.type = picture_type_;
  if (picture_type_ == kIPicture && i_picture_check_ && !i_picture_check_()) return false;
  GetBits(16);  // vbv delay
  if (picture_type_ == kPPicture || picture_type_ == kBPicture) GetBits(4);
  if (picture_type_ == kBPicture) GetBits(4);
  while (GetBits(1)) GetBits(8);
  Extensions();
  // The position of an I-picture that begins a frame (a frame picture or the
  // first field of a pair, of either parity): the pack in which the search
  // for its start code began (the file index goes with that pack).
  if (picture_type_ == kIPicture && (picture_structure_ == kFramePicture || !second_field_))
    current_.last_i = stream_type_ == 1 ? pack_at_search : reader_->Locate(start_code_at);
  return true;
}

}  // namespace tessmar
