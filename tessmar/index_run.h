#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tessmar/formats/audio_index.h"
#include "tessmar/formats/d2v.h"
#include "tessmar/formats/subpicture_index.h"
#include "tessmar/include/tessmar.h"
#include "tessmar/text_out.h"

namespace tessmar {

inline constexpr int kMaxInputFiles = 10;
inline constexpr size_t kMaxInputPath = 259;
inline constexpr size_t kMaxOutBase = 253;
inline constexpr int kSectorBytes = 2048;
inline constexpr int kMaxGopEntries = formats::kMaxGopFrames;

// One VOB file of the title set: an open descriptor, or bytes in memory.
struct InputFile {
  std::string path;
  int fd = -1;
  const uint8_t* memory = nullptr;
  int64_t size = 0;
};

// Facts of the first sequence header and picture, found by the probe.
struct ProbeFacts {
  bool found = false;  // got through the first-header search
  int stream_type = 0;
  int horizontal_size = 0;
  int vertical_size = 0;
  int coded_width = 0;
  int coded_height = 0;
  int aspect_code = 0;
  int progressive_sequence = 0;
  float frame_rate = 0.0f;
  int b_after_first_i = 0;
};

// All state of one run: the inputs, the scan of the program stream and the
// files it feeds. Nothing is shared between runs, so a worker that was
// abandoned can never touch the files or the status block of a later run.
class IndexRun {
 public:
  IndexRun(std::vector<InputFile> inputs, std::string out_base, bool want_audio,
           bool want_subpictures);
  ~IndexRun();
  IndexRun(const IndexRun&) = delete;
  IndexRun& operator=(const IndexRun&) = delete;

  // The synchronous probe: sizes, rates, stream type, B-pictures after the
  // first I-picture. Writes nothing.
  void Probe();
  // Attaches the caller's block (may be null) and creates the ".d2v" and the
  // ".qmci" with the head of the cell index; false when either fails.
  bool OpenOutputs(TessmarStatus* status);
  // The index run; returns when it has ended and its files are closed.
  void IndexAll();
  // The last words in the block: percent, finished, running, ended.
  void FinalStatus();

  // Control, from the caller's thread.
  void RequestStop() { stop_requested_.store(true); }
  // Asks the worker to park at its next check; true once it is parked.
  bool Park(int timeout_ms);
  void Unpark();
  // Forced stop: from now on the worker writes nothing anywhere.
  void Abandon();
  bool Abandoned();

  uint32_t id = 0;

 private:
  struct EndRun {};  // unwinds the scan to the end-of-run routine
  struct Location {
    int file = 0;
    int64_t offset = 0;
  };
  struct PictureRecord {
    int type = 0;
    Location last_i;  // pack of the last I-picture (its picture start code without packs)
    int progressive = 0;
    int flags = 0;  // top_field_first * 2 + repeat_first_field
  };
  struct GopEntry {
    int type;
    int flags;
    int closed_gop;
    int vob_id;
    int cell_id;
  };

  // Status block access: atomic, and only while the run may still write.
  template <typename T>
  void Put(T& field, T value);

  // Byte stream over the inputs (one concatenated stream, ending where the
  // scan's 2048-byte refills would end it).
  void ComputeStreamEnd();
  void Restart();
  void Refill();
  inline int Byte() {
    if (pos_ == len_) Refill();
    return buf_[pos_++];
  }
  int Read16() {
    int a = Byte();
    return (a << 8) | Byte();
  }
  void Skip(int64_t n);
  int64_t Position() const { return base_ + static_cast<int64_t>(pos_); }
  Location Locate(int64_t stream_offset) const;
  // 00 00 01 xx from the current position on; returns xx.
  int NextStartCode(int64_t* start);
  uint32_t ReadPts();
  void Checkpoint();
  void ReadAt(int64_t stream_offset, uint8_t* out, size_t size, size_t* got) const;

  // Program stream packets.
  int64_t NextVideoPacket();
  void ScrambleTest(int flag_byte);
  void Private1(int64_t start);
  void Private2(int64_t start);
  void MpegAudio(int code, int64_t start);
  void AudioPacket(int stream, int format, int64_t payload, bool lpcm, int info);
  void SubpicturePacket(int stream, int64_t start, int64_t payload, bool has_pts);

  // Video elementary stream bit reader.
  int FetchByte();
  void Refetch() {
    while (bits_ < 32) {
      window_ = (window_ << 8) | static_cast<uint64_t>(FetchByte());
      bits_ += 8;
    }
  }
  uint32_t ShowBits(int n) const {
    return static_cast<uint32_t>((window_ >> (bits_ - n)) & ((uint64_t{1} << n) - 1));
  }
  uint32_t GetBits(int n) {
    uint32_t v = ShowBits(n);
    bits_ -= n;
    Refetch();
    return v;
  }
  void Align() { bits_ -= bits_ % 8; }
  void FindStartCode();
  void ResetBitReader();

  // Video headers.
  void FirstHeaderSearch();
  void GetHeader();
  void SequenceHeader();
  void Extensions();
  void PictureHeader(const Location& pack_at_search, int64_t start_code_at);
  void CompletePicture();
  void OutputFrame(const PictureRecord& picture, int64_t number);
  void UpdateVideoKind();
  void CurrentRead(int* file, int64_t* position) const;

  // Files.
  std::vector<std::string> InputPaths() const;
  void WriteD2vHeader();
  void WriteGopLine(bool last);
  void EndOfRun();
  void CloseAll();

  std::vector<InputFile> inputs_;
  std::vector<int64_t> starts_;  // stream offset of each file
  int64_t total_size_ = 0;
  int64_t stream_end_ = 0;
  std::string out_base_;
  bool want_audio_ = false;
  bool want_subpictures_ = false;
  TessmarStatus* status_ = nullptr;
  bool index_mode_ = false;

  std::vector<uint8_t> buf_;
  size_t pos_ = 0;
  size_t len_ = 0;
  int64_t base_ = 0;

  // Bit reader over the video elementary stream.
  uint64_t window_ = 0;
  int bits_ = 0;
  int64_t segment_left_ = 0;
  int stream_type_ = 0;  // 1 = program stream (demultiplexed), 0 = raw bytes

  // Program stream state.
  Location pack_;
  int private2_in_pack_ = 0;
  uint32_t video_pts_ = 0;
  uint32_t audio_pts_ = 0;
  int vob_id_ = -1;
  int cell_id_ = -1;
  int written_vob_ = -1;
  int written_cell_ = -1;
  bool start_mark_ = false;
  bool audio_registered_[formats::kMaxAudioStreams] = {};
  bool subpicture_registered_[formats::kMaxSubpictureStreams] = {};
  OutFile audio_files_[formats::kMaxAudioStreams];
  OutFile subpicture_index_[formats::kMaxSubpictureStreams];
  OutFile subpicture_stream_[formats::kMaxSubpictureStreams];
  int64_t subpicture_length_[formats::kMaxSubpictureStreams] = {};

  // Sequence and picture.
  ProbeFacts facts_;
  int seq_horizontal_ = 0;
  int seq_vertical_ = 0;
  int seq_aspect_ = 0;
  int seq_frame_rate_code_ = 0;
  int seq_progressive_ = 0;
  int frame_rate_n_ = 0;
  int frame_rate_d_ = 0;
  int picture_type_ = 0;
  int picture_structure_ = 3;
  int closed_gop_ = 0;
  PictureRecord current_;
  PictureRecord previous_ref_;
  PictureRecord before_previous_;
  bool second_field_ = false;
  int pair_flags_ = 0;  // field flags of the pair whose first field came last
  int64_t frame_number_ = 0;
  int64_t film_ = 0;
  int64_t video_ = 0;
  int64_t progressive_ = 0;
  int64_t interlaced_ = 0;
  int previous_flags_ = 0;
  std::vector<GopEntry> gop_;
  Location gop_location_;

  bool interrupted_ = false;
  bool finished_ = false;
  bool cells_enabled_ = false;
  bool header_written_ = false;
  OutFile d2v_;
  OutFile qmci_;
  std::string line_;  // the text being written

  WriteGate gate_;
  std::atomic<bool> stop_requested_{false};
  std::mutex park_mutex_;
  std::condition_variable park_cv_;
  bool park_requested_ = false;
  bool parked_ = false;
};

}  // namespace tessmar
