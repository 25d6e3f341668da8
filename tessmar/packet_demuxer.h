// The program stream's packs and packets: the video payloads for the video
// parser, and on the way the navigation packs (cells), the audio streams and
// the sub-picture streams with what the index files record of them.
#pragma once

#include <cstdint>

#include "tessmar/index_outputs.h"
#include "tessmar/status_block.h"
#include "tessmar/stream_reader.h"

namespace tessmar {

class PacketDemuxer {
 public:
  PacketDemuxer(StreamReader* reader, IndexOutputs* outputs, StatusBlock* status, bool want_audio,
                bool want_subpictures);

  // Parses packets up to the next video packet with an MPEG-2 PES header;
  // returns its payload length, the reader at the payload's first byte.
  // Throws RunEnds when a scrambled packet ends the run (interrupted).
  int64_t NextVideoPacket();

  // The pack in which the most recent pack start code stands.
  StreamReader::Location CurrentPack() const { return pack_; }
  // From the start of the index run on (the state of the probe forgotten).
  void StartIndexRun();
  // Set once the first I-picture is found: streams are registered from now
  // on, and the video time stamp stays as it is.
  void SetStartMark() { start_mark_ = true; }
  // The probe's rate and B-pictures after the first I-picture: the video time
  // stamp is that of the first displayed picture.
  void SetDisplayDelay(float frame_rate, int b_pictures) {
    frame_rate_ = frame_rate;
    b_after_first_i_ = b_pictures;
  }
  int VobId() const { return vob_id_; }
  int CellId() const { return cell_id_; }
  bool Interrupted() const { return interrupted_; }

 private:
  void ScrambleTest(int flag_byte);
  void Private1(int64_t start);
  void Private2(int64_t start);
  void MpegAudio(int code);
  void AudioPacket(int stream, int format, int64_t payload, bool lpcm, int info);
  void SubpicturePacket(int stream, int64_t start, int64_t payload, bool has_pts);

  StreamReader* reader_;
  IndexOutputs* outputs_;
  StatusBlock* status_;
  const bool want_audio_;
  const bool want_subpictures_;

  StreamReader::Location pack_;
  int private2_in_pack_ = 0;
  uint32_t video_pts_ = 0;
  uint32_t audio_pts_ = 0;
  float frame_rate_ = 0.0f;
  int b_after_first_i_ = 0;
  int vob_id_ = -1;
  int cell_id_ = -1;
  int written_vob_ = -1;
  int written_cell_ = -1;
  bool cells_enabled_ = false;
  bool start_mark_ = false;
  bool interrupted_ = false;
  bool audio_registered_[formats::kMaxAudioStreams] = {};
  bool subpicture_registered_[formats::kMaxSubpictureStreams] = {};
};

}  // namespace tessmar
