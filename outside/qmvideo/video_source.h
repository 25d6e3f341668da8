// One open title: its video index and map, an MPEG-2 decoder positioned
// somewhere in the title, the last decoded frames, and the conversion to
// blue-green-red rows for the program's own views. The frameserver plug-in
// takes the decoder's planar 4:2:0 pictures as they are. Frames are decoded from the GOP that holds
// them (one GOP earlier for the leading B-frames of an open GOP); a request just ahead of the
// decoder's position continues decoding instead of starting again.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "outside/qmvideo/qmvideo.h"
#include "outside/qmvideo/video_index.h"

struct AVCodecContext;
struct AVCodecParserContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace qmvideo {

class VideoSource {
 public:
  // Null when the index or its map cannot be read or used, or the title
  // holds no sequence header.
  static std::unique_ptr<VideoSource> Open(const std::string& index_path, bool film);
  ~VideoSource();
  VideoSource(const VideoSource&) = delete;
  VideoSource& operator=(const VideoSource&) = delete;

  const QmVideoRecord& Record() const { return record_; }
  // Delivered frame `n` as width x height x 3 bytes; null on failure. Valid
  // until the next call.
  const uint8_t* Frame(int n);
  // Delivered frame `n` as planar 4:2:0 (a new reference the caller frees
  // with av_frame_free); null on failure. The picture is the decoder's own,
  // or the two fields of a repeated-field frame woven together.
  AVFrame* PlanarFrame(int n);

 private:
  VideoSource() = default;
  bool Init(const std::string& index_path, bool film);
  bool FindSequenceHeader();

  // Decoded picture of coded frame `c` (a new reference), or null.
  AVFrame* CodedFrame(int32_t c);
  int GopOf(int32_t c) const;
  void Seek(int gop);
  bool DecodeUntil(int32_t c, int gop);

  // Program stream: the next payload of the video stream; false at the end.
  bool NextVideoPayload(const uint8_t** data, size_t* size);
  size_t Available(size_t wanted);
  void FeedElementaryStream(const uint8_t* data, size_t size);
  bool InPlace(int gop, int64_t position) const;
  // A picture the parser cut out of the elementary stream.
  void Parsed(const uint8_t* data, int size);
  void SendPicture(const uint8_t* data, int size);
  void ReceiveFrames();
  void Drain();
  void Assign(int64_t key, int slot);
  void Store(AVFrame* frame, int32_t c);
  void DropDecoderState();

  // The picture of delivered frame `n` (a new reference), or null.
  AVFrame* Delivered(int n);
  bool Weave(const AVFrame* top, const AVFrame* bottom);
  bool Convert(const AVFrame* frame);

  VideoIndex index_;
  VirtualFile file_;
  std::vector<FieldPair> shown_;  // film flag 0
  bool film_ = false;
  QmVideoRecord record_{};

  AVCodecContext* codec_ = nullptr;
  AVCodecParserContext* parser_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* received_ = nullptr;
  AVFrame* woven_ = nullptr;
  SwsContext* sws_ = nullptr;
  SwsContext* planar_sws_ = nullptr;  // for a stream that is not 4:2:0
  std::vector<uint8_t> sequence_header_;
  int video_stream_ = 0xE0;

  // Reading position.
  std::vector<uint8_t> buffer_;
  size_t buffer_start_ = 0;  // first unread byte in buffer_
  size_t buffer_end_ = 0;
  int64_t next_read_ = 0;  // virtual position after buffer_end_
  int64_t read_since_seek_ = 0;
  int64_t payload_position_ = 0;  // of the packet last returned
  // Elementary stream bytes given to the parser since the seek, each run
  // with the position of its packet, and the bytes the parser gave back.
  std::deque<std::pair<int64_t, int64_t>> fed_;
  int64_t fed_bytes_ = 0;
  int64_t parsed_bytes_ = 0;
  int64_t picture_position_ = 0;  // of the packet where the picture sent starts
  bool at_end_ = false;
  std::vector<uint8_t> sync_bytes_;  // elementary stream before the first header

  // Decoder position.
  bool positioned_ = false;
  bool stream_synced_ = false;   // a header start code was found after the seek
  bool picture_synced_ = false;  // the first I-picture was sent
  bool beyond_index_ = false;
  int start_gop_ = 0;
  int table_ = 0;         // GOP of the last I-picture sent
  int slot_ = 0;          // display slots given in that GOP
  int64_t pending_ = -1;  // reference picture waiting for its slot
  int64_t next_key_ = 0;
  int32_t newest_ = -1;      // highest frame decoded since the seek
  int32_t skip_below_ = -1;  // B-frames before this one are not decoded
  std::unordered_map<int64_t, int32_t> key_frame_;
  std::unordered_map<int64_t, AVFrame*> unplaced_;  // output before its slot was known
  std::map<int32_t, AVFrame*> cache_;

  std::vector<uint8_t> rgb_;
};

}  // namespace qmvideo
