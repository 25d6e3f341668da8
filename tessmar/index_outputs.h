// The files an index run writes: the project file (".d2v"), the cell index
// (".qmci"), and per stream found the audio index and the sub-picture index
// with its stream file. Nothing reaches them once the run is abandoned.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tessmar/formats/audio_index.h"
#include "tessmar/formats/cell_index.h"
#include "tessmar/formats/d2v.h"
#include "tessmar/formats/subpicture_index.h"
#include "tessmar/text_out.h"

namespace tessmar {

// One frame (or field pair) of the GOP being indexed, in decoding order.
struct GopEntry {
  int type;
  int flags;
  int closed_gop;
  int vob_id;
  int cell_id;
};

class IndexOutputs {
 public:
  IndexOutputs(std::string base, std::vector<std::string> paths, WriteGate* gate);

  // Creates the ".d2v" and the ".qmci" with the head of the cell index;
  // false (and neither open) when either fails.
  bool Open();
  void WriteD2vHeader(formats::D2vHeader header);
  // The GOP line of `gop`, whose I-picture's pack is at `file`/`offset`.
  void WriteGopLine(const std::vector<GopEntry>& gop, int file, int64_t offset, bool last);
  void WriteCellLine(const formats::CellLine& cell);

  // Creating a stream's file may fail: the run goes on without it.
  void CreateAudioIndex(int stream);
  bool HasAudioIndex(int stream) const { return audio_[stream].IsOpen(); }
  void WriteAudioEntry(int stream, const formats::AudioEntry& entry);
  void CreateSubpictureFiles(int stream);
  bool HasSubpictureFiles(int stream) const { return subpicture_index_[stream].IsOpen(); }
  // The entry names the pack's place in the stream file: its length so far.
  void WriteSubpictureEntry(int stream, int vob_id, int cell_id, uint32_t pts);
  void AppendSubpicturePack(int stream, const uint8_t* pack);

  // The trailer with the film share, the end marks of a finished run, and
  // every file closed.
  void Finish(bool finished, float film_percent);
  void CloseAll();

 private:
  std::string base_;
  std::vector<std::string> paths_;
  WriteGate* gate_;
  OutFile d2v_;
  OutFile qmci_;
  OutFile audio_[formats::kMaxAudioStreams];
  OutFile subpicture_index_[formats::kMaxSubpictureStreams];
  OutFile subpicture_stream_[formats::kMaxSubpictureStreams];
  int64_t subpicture_length_[formats::kMaxSubpictureStreams] = {};
  std::string text_;  // the text being written
};

}  // namespace tessmar
