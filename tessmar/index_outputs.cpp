#include "tessmar/index_outputs.h"

#include "tessmar/formats/index_text.h"
#include "tessmar/stream_codes.h"

namespace tessmar {

IndexOutputs::IndexOutputs(std::string base, std::vector<std::string> paths, WriteGate* gate)
    : base_(std::move(base)), paths_(std::move(paths)), gate_(gate) {}

bool IndexOutputs::Open() {
  if (!d2v_.Create(base_ + ".d2v", gate_) || !qmci_.Create(base_ + ".qmci", gate_)) {
    d2v_.Close();
    qmci_.Close();
    return false;
  }
  text_.clear();
  formats::AppendCellIndexHead(&text_, paths_);
  qmci_.Text(text_);
  return true;
}

void IndexOutputs::WriteD2vHeader(formats::D2vHeader header) {
  header.paths = paths_;
  text_.clear();
  formats::AppendD2vHeader(&text_, header);
  d2v_.Text(text_);
}

void IndexOutputs::WriteGopLine(const std::vector<GopEntry>& gop, int file, int64_t offset,
                                bool last) {
  const GopEntry& first = gop.front();
  text_.clear();
  formats::AppendGopLineHead(&text_, file, offset, first.vob_id, first.cell_id);
  // Frame flags in display order.
  int pending = -1;
  bool p_met = false;
  auto emit = [this](int value) {
    if (value >= 0) formats::AppendFrameFlag(&text_, static_cast<unsigned>(value));
  };
  for (const GopEntry& e : gop) {
    if (e.type == kIPicture) {
      pending = e.flags | formats::kFlagDecodable;
    } else if (e.type == kBPicture) {
      emit(p_met || e.closed_gop ? e.flags | formats::kFlagDecodable : e.flags);
    } else {
      emit(pending);
      pending = e.flags | formats::kFlagDecodable;
      p_met = true;
    }
  }
  emit(pending);
  formats::AppendGopLineEnd(&text_, last);
  d2v_.Text(text_);
}

void IndexOutputs::WriteCellLine(const formats::CellLine& cell) {
  text_.clear();
  formats::AppendCellLine(&text_, cell);
  qmci_.Text(text_);
}

void IndexOutputs::CreateAudioIndex(int n) {
  if (!audio_[n].Create(formats::AudioIndexName(base_, n), gate_)) return;
  text_.clear();
  formats::AppendAudioIndexHead(&text_, paths_);
  audio_[n].Text(text_);
}

void IndexOutputs::WriteAudioEntry(int n, const formats::AudioEntry& entry) {
  text_.clear();
  formats::AppendAudioEntry(&text_, entry);
  audio_[n].Text(text_);
}

void IndexOutputs::CreateSubpictureFiles(int n) {
  OutFile& index = subpicture_index_[n];
  OutFile& stream = subpicture_stream_[n];
  if (index.Create(formats::SubpictureIndexName(base_, n), gate_) &&
      stream.Create(formats::SubpictureStreamName(base_, n), gate_)) {
    text_.clear();
    formats::AppendSubpictureIndexHead(&text_);
    index.Text(text_);
  } else {  // an index without its stream (or the reverse) is of no use
    index.Close();
    stream.Close();
  }
}

void IndexOutputs::WriteSubpictureEntry(int n, int vob_id, int cell_id, uint32_t pts) {
  text_.clear();
  formats::AppendSubpictureEntry(
      &text_, {vob_id, cell_id, pts, static_cast<uint64_t>(subpicture_length_[n])});
  subpicture_index_[n].Text(text_);
}

void IndexOutputs::AppendSubpicturePack(int n, const uint8_t* pack) {
  subpicture_stream_[n].Write(pack, formats::kSubpicturePackBytes);
  subpicture_length_[n] += formats::kSubpicturePackBytes;
}

void IndexOutputs::Finish(bool finished, float film_percent) {
  text_.clear();
  formats::AppendD2vTrailer(&text_, finished, film_percent);
  d2v_.Text(text_);
  if (finished) qmci_.Text(formats::kEndMark);
  for (OutFile& a : audio_) {
    if (finished && a.IsOpen()) a.Text(formats::kEndMark);
    a.Close();
  }
  for (int n = 0; n < formats::kMaxSubpictureStreams; ++n) {
    if (finished && subpicture_index_[n].IsOpen()) subpicture_index_[n].Text(formats::kEndMark);
    subpicture_index_[n].Close();
    subpicture_stream_[n].Close();
  }
  CloseAll();
}

void IndexOutputs::CloseAll() {
  d2v_.Close();
  qmci_.Close();
  for (OutFile& a : audio_) a.Close();
  for (int n = 0; n < formats::kMaxSubpictureStreams; ++n) {
    subpicture_index_[n].Close();
    subpicture_stream_[n].Close();
  }
}

}  // namespace tessmar
