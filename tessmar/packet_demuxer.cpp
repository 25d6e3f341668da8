#include "tessmar/packet_demuxer.h"

#include <algorithm>

#include "dvd/byte_order.h"
#include "tessmar/stream_codes.h"

namespace tessmar {

PacketDemuxer::PacketDemuxer(StreamReader* reader, IndexOutputs* outputs, StatusBlock* status,
                             bool want_audio, bool want_subpictures)
    : reader_(reader),
      outputs_(outputs),
      status_(status),
      want_audio_(want_audio),
      want_subpictures_(want_subpictures) {}

void PacketDemuxer::StartIndexRun() {
  pack_ = StreamReader::Location();
  private2_in_pack_ = 0;
  vob_id_ = cell_id_ = -1;
  written_vob_ = written_cell_ = -1;
  start_mark_ = false;
  cells_enabled_ = true;
}

void PacketDemuxer::ScrambleTest(int flag_byte) {
  if (status_->Attached() && (flag_byte & kScramblingMask) != 0) {
    status_->Put(status_->Fields()->scrambled, uint8_t{1});
    interrupted_ = true;
    throw RunEnds{};
  }
}

int64_t PacketDemuxer::NextVideoPacket() {
  StreamReader& in = *reader_;
  for (;;) {
    int64_t start = 0;
    int code = in.NextStartCode(&start);
    if (code < kPackStart) continue;
    if (code == kPackStart) {
      pack_ = in.Locate(start);
      private2_in_pack_ = 0;
      in.Skip(8);
      continue;
    }
    if (code == kPrivateStream1) {
      Private1(start);
    } else if (code == kPrivateStream2) {
      Private2(start);
    } else if (code >= kMpegAudioFirst && code <= kMpegAudioLast) {
      MpegAudio(code);
    } else if (code == kVideoStream) {
      int64_t length = in.Read16();
      int flag = in.Byte();
      ScrambleTest(flag);
      if ((flag & kMpeg2PesMask) != kMpeg2PesBits) {
        in.Skip(length - 1);
        continue;
      }
      int pts_flags = in.Byte();
      int header = in.Byte();
      if (pts_flags >= kPtsPresent && !start_mark_) {
        video_pts_ = in.ReadPts();
        if (frame_rate_ != 0.0f)
          video_pts_ += static_cast<uint32_t>(
              static_cast<int64_t>(-90000.0 * b_after_first_i_ / frame_rate_));
        in.Skip(header - kPtsBytes);
      } else {
        in.Skip(header);
      }
      return std::max<int64_t>(0, length - 3 - header);
    } else {
      in.Skip(in.Read16());
    }
  }
}

void PacketDemuxer::Private1(int64_t start) {
  StreamReader& in = *reader_;
  int64_t length = in.Read16();
  ScrambleTest(in.Byte());
  int pts_flags = in.Byte();
  int header = in.Byte();
  bool has_pts = false;
  if (pts_flags >= kPtsPresent) {
    audio_pts_ = in.ReadPts();
    has_pts = true;
    in.Skip(header - kPtsBytes);
  } else {
    in.Skip(header);
  }
  int sub = in.Byte();
  int64_t payload = length - 3 - header - 1;
  if (sub >= kAc3First && sub <= kAc3Last) {
    in.Skip(3);
    payload -= 3;
    AudioPacket(sub - kAc3First, kAudioAc3, payload, false, 0);
  } else if (sub >= kLpcmFirst && sub <= kLpcmLast) {
    in.Skip(4);
    int info = in.Byte();
    in.Skip(1);
    payload -= 6;
    AudioPacket(sub - kLpcmFirst, kAudioLpcm, payload, true, info);
  } else if (sub >= kDtsFirst && sub <= kDtsLast) {
    in.Skip(3);
    payload -= 3;
    AudioPacket(sub - kDtsFirst, kAudioDts, payload, false, 0);
  } else if (sub >= kSubpictureFirst && sub <= kSubpictureLast) {
    SubpicturePacket(sub - kSubpictureFirst, start, payload, has_pts);
  }
  in.Skip(payload);
}

void PacketDemuxer::AudioPacket(int n, int format, int64_t payload, bool lpcm, int info) {
  // A packet whose headers run past its own length is damaged: nothing of it
  // is registered or indexed.
  if (!status_->Attached() || payload < 0) return;
  if (!audio_registered_[n]) {
    if (!start_mark_) return;
    audio_registered_[n] = true;
    AudioStreamInfo& rec = status_->Fields()->audio[n];
    status_->Put(rec.format, static_cast<int32_t>(format));
    int32_t count = 0;
    for (bool r : audio_registered_) count += r ? 1 : 0;
    status_->Put(status_->Fields()->audioStreamCount, count);
    // The stream's start relative to the first displayed picture, 0 when
    // further apart than five seconds.
    uint32_t a = audio_pts_;
    uint32_t v = video_pts_;
    int32_t d = static_cast<int32_t>(a > v ? (a - v) / 90 : (v - a) / 90);
    int32_t delay = a > v ? d : -d;
    if (d > 5000) delay = 0;
    status_->Put(rec.delayMs, delay);
    if (lpcm) {
      static const uint8_t kBits[4] = {16, 20, 24, 0};
      status_->Put(rec.channels, static_cast<uint8_t>((info & 7) + 1));
      status_->Put(rec.bitsPerSample, kBits[(info >> 6) & 3]);
      status_->Put(rec.sampleRate, static_cast<int32_t>((info & 0x30) == 0 ? 48000 : 96000));
    }
    if (want_audio_) outputs_->CreateAudioIndex(n);
  }
  if (want_audio_ && outputs_->HasAudioIndex(n)) {
    StreamReader::Location at = reader_->Locate(reader_->Position());
    outputs_->WriteAudioEntry(n, {at.file, vob_id_, cell_id_, static_cast<uint64_t>(at.offset),
                                  static_cast<unsigned>(payload)});
  }
}

void PacketDemuxer::SubpicturePacket(int n, int64_t start, int64_t payload, bool has_pts) {
  if (!status_->Attached() || payload < 0) return;
  if (!subpicture_registered_[n]) {
    if (!start_mark_) return;
    subpicture_registered_[n] = true;
    status_->Put(status_->Fields()->subpicturePresent[n], uint8_t{1});
    int32_t count = 0;
    for (bool r : subpicture_registered_) count += r ? 1 : 0;
    status_->Put(status_->Fields()->subpictureStreamCount, count);
    if (want_subpictures_) outputs_->CreateSubpictureFiles(n);
  }
  if (!want_subpictures_ || !outputs_->HasSubpictureFiles(n)) return;
  if (has_pts) outputs_->WriteSubpictureEntry(n, vob_id_, cell_id_, audio_pts_);
  // The pack of this packet: its pack header comes first.
  uint8_t pack[kSectorBytes] = {};
  reader_->ReadAt(std::max<int64_t>(0, start - kPackHeaderBytes), pack, sizeof pack);
  outputs_->AppendSubpicturePack(n, pack);
}

void PacketDemuxer::Private2(int64_t start) {
  StreamReader& in = *reader_;
  int64_t length = in.Read16();
  ++private2_in_pack_;
  // The second private stream 2 packet of a pack is the DSI packet.
  if (private2_in_pack_ != 2 || length < kDsiBytesRead) {
    in.Skip(length);
    return;
  }
  uint8_t b[kDsiBytesRead];
  for (uint8_t& x : b) x = static_cast<uint8_t>(in.Byte());
  vob_id_ = dvd::Be16(b + kDsiVobIdOffset);
  cell_id_ = b[kDsiCellIdOffset];
  if (cells_enabled_ && (vob_id_ != written_vob_ || cell_id_ != written_cell_)) {
    StreamReader::Location at = in.Locate(start);
    int64_t nav = std::max<int64_t>(0, at.offset - kDsiPacketInPack);
    outputs_->WriteCellLine({vob_id_, cell_id_, at.file, static_cast<uint64_t>(nav)});
    written_vob_ = vob_id_;
    written_cell_ = cell_id_;
  }
  in.Skip(length - kDsiBytesRead);
}

void PacketDemuxer::MpegAudio(int code) {
  StreamReader& in = *reader_;
  int64_t length = in.Read16();
  int flag = in.Byte();
  ScrambleTest(flag);
  if ((flag & kMpeg2PesMask) != kMpeg2PesBits) {
    in.Skip(length - 1);
    return;
  }
  int pts_flags = in.Byte();
  int header = in.Byte();
  if (pts_flags >= kPtsPresent) {
    audio_pts_ = in.ReadPts();
    in.Skip(header - kPtsBytes);
  } else {
    in.Skip(header);
  }
  int64_t payload = length - 3 - header;
  AudioPacket(code - kMpegAudioFirst, kAudioMpeg, payload, false, 0);
  in.Skip(payload);
}

}  // namespace tessmar
