// The video elementary stream's headers, read far enough to know picture
// types, field flags, sizes and rates: a bit reader over the video payloads
// (or over the raw bytes of an elementary stream) and the header parser.
#pragma once

#include <cstdint>
#include <functional>

#include "tessmar/packet_demuxer.h"
#include "tessmar/stream_reader.h"

namespace tessmar {

// What the index run keeps of a picture.
struct PictureRecord {
  int type = 0;
  StreamReader::Location last_i;  // pack of the last I-picture that began a frame
  int progressive = 0;
  int flags = 0;  // top_field_first * 2 + repeat_first_field (first field's parity for pairs)
};

class VideoParser {
 public:
  VideoParser(StreamReader* reader, PacketDemuxer* demuxer);

  // 1: a program stream, read through the video packets; 0: raw bytes.
  void SetStreamType(int type) { stream_type_ = type; }
  // Starts reading again where the reader stands.
  void Reset();
  // Called when an I-picture's type has been read; false ends the run
  // there, before the rest of its header.
  void SetIPictureCheck(std::function<bool()> check) { i_picture_check_ = std::move(check); }

  // Headers up to and including the next picture header with its
  // extensions. `second_field` says whether a field picture now would be the
  // second of a pair. False when the I-picture check ended the run.
  bool NextPicture(bool second_field);
  // The next start code, byte aligned, read whole (0x1B3 ...).
  uint32_t NextStartCode();
  uint32_t ShowBits(int n) const {
    return static_cast<uint32_t>((window_ >> (bits_ - n)) & ((uint64_t{1} << n) - 1));
  }
  // The sequence header after its start code, with its extensions.
  void SequenceHeader();

  int PictureType() const { return picture_type_; }
  int PictureStructure() const { return picture_structure_; }
  int ClosedGop() const { return closed_gop_; }
  const PictureRecord& Current() const { return current_; }

  struct Sequence {
    int horizontal = 0;
    int vertical = 0;
    int aspect = 0;
    int frame_rate_code = 0;
    int progressive = 0;
    int frame_rate_n = 0;
    int frame_rate_d = 0;
  };
  const Sequence& LastSequence() const { return sequence_; }

 private:
  int FetchByte();
  void Refetch() {
    while (bits_ < 32) {
      window_ = (window_ << 8) | static_cast<uint64_t>(FetchByte());
      bits_ += 8;
    }
  }
  uint32_t GetBits(int n) {
    uint32_t v = ShowBits(n);
    bits_ -= n;
    Refetch();
    return v;
  }
  void Align() { bits_ -= bits_ % 8; }
  void FindStartCode();
  void Extensions();
  bool PictureHeader(const StreamReader::Location& pack_at_search, int64_t start_code_at);

  StreamReader* reader_;
  PacketDemuxer* demuxer_;
  std::function<bool()> i_picture_check_;
  int stream_type_ = 0;
  uint64_t window_ = 0;
  int bits_ = 0;
  int64_t segment_left_ = 0;  // of the current video payload

  Sequence sequence_;
  int picture_type_ = 0;
  int picture_structure_ = 3;
  int closed_gop_ = 0;
  bool second_field_ = false;  // as given to the last NextPicture
  int pair_flags_ = 0;         // field flags of the pair whose first field came last
  PictureRecord current_;
};

}  // namespace tessmar
