// One run of the library over a title set's VOB files: the synchronous probe
// for the first sequence header and picture, then the index run that scans
// the whole program stream and writes the index files, reporting into the
// caller's status block. The parts: StreamReader (bytes), PacketDemuxer
// (packs and packets), VideoParser (video headers), IndexOutputs (files);
// this class counts pictures, frames and film, and answers the controls.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "tessmar/include/tessmar.h"
#include "tessmar/index_outputs.h"
#include "tessmar/packet_demuxer.h"
#include "tessmar/status_block.h"
#include "tessmar/stream_reader.h"
#include "tessmar/text_out.h"
#include "tessmar/video_parser.h"

namespace tessmar {

inline constexpr int kMaxInputFiles = 10;
inline constexpr int kMaxGopEntries = formats::kMaxGopFrames;

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

// All state of one run. Nothing is shared between runs, so a worker that was
// abandoned can never touch the files or the status block of a later run.
class IndexRun {
 public:
  IndexRun(std::vector<InputFile> inputs, std::string out_base, bool want_audio,
           bool want_subpictures);
  IndexRun(const IndexRun&) = delete;
  IndexRun& operator=(const IndexRun&) = delete;

  // The synchronous probe: sizes, rates, stream type, B-pictures after the
  // first I-picture. Writes nothing.
  void Probe();
  // Attaches the caller's block (may be null) and creates the ".d2v" and the
  // ".qmci" with the head of the cell index; false when either fails.
  bool OpenOutputs(TessmarStatus* status);
  // The index run; returns when it has ended, its files are closed and its
  // reading has stopped.
  void IndexAll();
  // The last words in the block but one: percent, finished, ended. Returns
  // the block (null without one), whose `running` is left for the caller to
  // clear once nothing of the run is left.
  TessmarStatus* FinalStatus();

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
  // Checked at every refill and every picture: false when a stop request
  // ends the run; a suspension parks the worker here until it is resumed.
  bool Checkpoint();
  // False when the title set holds no MPEG-2 video, or the I-picture check
  // ended the run.
  bool FirstHeaderSearch();
  // At an I-picture of the index run: false at the last file's end (the
  // run ends there); else the progress.
  bool AtIPicture();
  // False when the GOP grew too long (the run ends interrupted).
  bool CompletePicture();
  void OutputFrame(const PictureRecord& picture, int64_t number);
  void UpdateVideoKind();
  void WriteD2vHeader();
  // The scan of the index run up to its end; RunEnds may end it too.
  void Scan();
  void EndOfRun();
  bool Interrupted() const { return interrupted_ || demuxer_.Interrupted(); }

  WriteGate gate_;
  StatusBlock status_{&gate_};
  StreamReader reader_;
  IndexOutputs outputs_;
  PacketDemuxer demuxer_;
  VideoParser parser_;
  bool index_mode_ = false;
  bool start_mark_ = false;

  ProbeFacts facts_;
  PictureRecord previous_ref_;
  PictureRecord before_previous_;
  bool second_field_ = false;
  int64_t frame_number_ = 0;
  int64_t film_ = 0;
  int64_t video_ = 0;
  int64_t progressive_ = 0;
  int64_t interlaced_ = 0;
  int previous_flags_ = 0;
  std::vector<GopEntry> gop_;
  StreamReader::Location gop_location_;

  bool interrupted_ = false;
  bool finished_ = false;
  bool header_written_ = false;

  std::atomic<bool> stop_requested_{false};
  std::mutex park_mutex_;
  std::condition_variable park_cv_;
  bool park_requested_ = false;
  bool parked_ = false;
};

}  // namespace tessmar
