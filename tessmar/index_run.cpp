#include "tessmar/index_run.h"

#include <chrono>

#include "tessmar/stream_codes.h"

namespace tessmar {

namespace {

std::vector<std::string> PathsOf(const std::vector<InputFile>& inputs) {
  std::vector<std::string> paths;
  for (const InputFile& in : inputs) paths.push_back(in.path);
  return paths;
}

float FrameRateOf(int code, int ext_n, int ext_d) {
  static const double kRates[9] = {0.0,  24000.0 / 1001.0, 24.0, 25.0, 30000.0 / 1001.0, 30.0,
                                   50.0, 60000.0 / 1001.0, 60.0};
  double base = code >= 1 && code <= 8 ? kRates[code] : (code == 0 ? 0.0 : -1.0);
  return static_cast<float>((ext_n + 1) * base / (ext_d + 1));
}

}  // namespace

IndexRun::IndexRun(std::vector<InputFile> inputs, std::string out_base, bool want_audio,
                   bool want_subpictures)
    : reader_(std::move(inputs)),
      outputs_(std::move(out_base), PathsOf(reader_.Inputs()), &gate_),
      demuxer_(&reader_, &outputs_, &status_, want_audio, want_subpictures),
      parser_(&reader_, &demuxer_) {
  reader_.SetRefillCheck([this] {
    if (!Checkpoint()) throw RunEnds{};
  });
  parser_.SetIPictureCheck([this] { return AtIPicture(); });
}

bool IndexRun::Park(int timeout_ms) {
  std::unique_lock<std::mutex> lock(park_mutex_);
  park_requested_ = true;
  if (park_cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return parked_; }))
    return true;
  park_requested_ = false;
  park_cv_.notify_all();
  return false;
}

void IndexRun::Unpark() {
  std::lock_guard<std::mutex> lock(park_mutex_);
  park_requested_ = false;
  park_cv_.notify_all();
}

void IndexRun::Abandon() {
  {
    std::lock_guard<std::mutex> lock(gate_.Mutex());
    gate_.Close();
  }
  stop_requested_.store(true);
  Unpark();
}

bool IndexRun::Abandoned() {
  std::lock_guard<std::mutex> lock(gate_.Mutex());
  return !gate_.Open();
}

bool IndexRun::Checkpoint() {
  // A stop ends the probe as it ends the index run; only the index run parks.
  if (stop_requested_.load(std::memory_order_relaxed)) return false;
  if (!index_mode_) return true;
  std::unique_lock<std::mutex> lock(park_mutex_);
  if (!park_requested_) return true;
  parked_ = true;
  park_cv_.notify_all();
  park_cv_.wait(lock, [this] { return !park_requested_; });
  parked_ = false;
  lock.unlock();
  return !stop_requested_.load(std::memory_order_relaxed);
}

// ---------------------------------------------------------------- pictures

bool IndexRun::AtIPicture() {
  if (!index_mode_) return true;
  const StreamReader::Location read = reader_.CurrentRead();
  const size_t last = reader_.Inputs().size() - 1;
  const int64_t last_size = reader_.Inputs()[last].size;
  const int64_t near_end = (last_size / kSectorBytes - 1) * kSectorBytes;
  if (read.file == static_cast<int>(last) && read.offset >= near_end) return false;
  if (start_mark_ && status_.Attached()) {
    double done =
        static_cast<double>(reader_.StartOf(static_cast<size_t>(read.file)) + read.offset);
    double total = static_cast<double>(reader_.StartOf(last) + near_end);
    if (total > 0) status_.Put(status_.Fields()->percent, static_cast<float>(done * 100.0 / total));
    UpdateVideoKind();
  }
  return true;
}

bool IndexRun::CompletePicture() {
  const PictureRecord& current = parser_.Current();
  const bool frame = parser_.PictureStructure() == kFramePicture;
  if (frame) second_field_ = false;
  const PictureRecord before_shift = previous_ref_;
  if (current.type != kBPicture) {
    before_previous_ = previous_ref_;
    previous_ref_ = current;
  }
  if (index_mode_ && (frame || !second_field_)) {
    if (current.type == kIPicture && !gop_.empty()) {
      outputs_.WriteGopLine(gop_, gop_location_.file, gop_location_.offset, false);
      gop_.clear();
    }
    if (static_cast<int>(gop_.size()) >= kMaxGopEntries) {
      interrupted_ = true;
      return false;
    }
    if (gop_.empty()) gop_location_ = current.last_i;
    gop_.push_back(
        {current.type, current.flags, parser_.ClosedGop(), demuxer_.VobId(), demuxer_.CellId()});
  }
  if (index_mode_ && frame_number_ > 0 && (frame || second_field_))
    OutputFrame(current.type == kBPicture ? current : before_shift, frame_number_ - 1);
  if (!frame) second_field_ = !second_field_;
  if (!second_field_) ++frame_number_;
  return true;
}

// One frame in display order: the film rule and the frame count.
void IndexRun::OutputFrame(const PictureRecord& picture, int64_t number) {
  if (number == 0) {
    film_ = video_ = progressive_ = interlaced_ = 0;
    previous_flags_ = picture.flags;
    if (TessmarStatus* s = status_.Fields())
      status_.Put(s->topFieldFirst, static_cast<uint8_t>(picture.flags >> 1));
  } else {
    if (picture.flags == (previous_flags_ + 1) % 4)
      ++film_;
    else
      ++video_;
    previous_flags_ = picture.flags;
  }
  if (status_.Attached()) {
    if (picture.progressive)
      ++progressive_;
    else
      ++interlaced_;
  }
}

void IndexRun::UpdateVideoKind() {
  if (!status_.Attached()) return;
  int32_t kind = 0;
  if (film_ == 0 && video_ > 0)
    kind = facts_.frame_rate == 25.0f ? kVideoPal : kVideoNtsc;
  else if (video_ == 0 && film_ > 0)
    kind = kVideoFilm;
  else if (film_ > 0 && video_ > 0)
    kind = kVideoMixed;
  if (kind != 0) status_.Put(status_.Fields()->videoKind, kind);
}

// ------------------------------------------------------------------ runs

bool IndexRun::FirstHeaderSearch() {
  // Raw bytes first: is there a pack header, and is the first sequence
  // header followed by a sequence extension?
  facts_ = ProbeFacts();
  parser_.SetStreamType(formats::kElementaryStream);
  reader_.Restart();
  parser_.Reset();
  for (;;) {
    const uint32_t code = parser_.NextStartCode();
    if (code == kPackStartCode) {
      facts_.stream_type = formats::kProgramStream;
    } else if (code == kSequenceHeaderCode) {
      const uint32_t next = parser_.NextStartCode();
      if (next == kExtensionStartCode && parser_.ShowBits(4) == kSequenceExtensionId) break;
      interrupted_ = true;  // no MPEG-2 video
      return false;
    }
  }
  parser_.SetStreamType(facts_.stream_type);
  reader_.Restart();
  parser_.Reset();
  while (parser_.NextStartCode() != kSequenceHeaderCode) {
  }
  parser_.SequenceHeader();
  const VideoParser::Sequence& seq = parser_.LastSequence();
  facts_.horizontal_size = seq.horizontal;
  facts_.vertical_size = seq.vertical;
  facts_.aspect_code = seq.aspect;
  facts_.progressive_sequence = seq.progressive;
  facts_.frame_rate = FrameRateOf(seq.frame_rate_code, seq.frame_rate_n, seq.frame_rate_d);
  facts_.coded_width = (seq.horizontal + 15) / 16 * 16;
  facts_.coded_height =
      seq.progressive ? (seq.vertical + 15) / 16 * 16 : (seq.vertical + 31) / 32 * 32;
  facts_.found = true;
  // The B-pictures that follow the first I-picture delay its display.
  reader_.Restart();
  parser_.Reset();
  do {
    if (!parser_.NextPicture(second_field_)) return false;
  } while (parser_.PictureType() != kIPicture);
  for (;;) {
    if (!parser_.NextPicture(second_field_)) return false;
    if (parser_.PictureType() != kBPicture) break;
    ++facts_.b_after_first_i;
  }
  return true;
}

void IndexRun::Probe() {
  index_mode_ = false;
  try {
    FirstHeaderSearch();
  } catch (const RunEnds&) {
  }
  if (!facts_.found) facts_ = ProbeFacts();
}

bool IndexRun::OpenOutputs(TessmarStatus* status) {
  status_.Attach(status);
  return outputs_.Open();
}

void IndexRun::WriteD2vHeader() {
  formats::D2vHeader header;
  header.stream_type = facts_.stream_type;
  header.aspect_code = facts_.aspect_code;
  header.coded_width = facts_.coded_width;
  header.coded_height = facts_.coded_height;
  header.frame_rate_milli = static_cast<int>(facts_.frame_rate * 1000.0f);
  header.last_file_size = reader_.Inputs().back().size;
  outputs_.WriteD2vHeader(header);
  if (TessmarStatus* s = status_.Fields()) {
    status_.Put(s->codedWidth, static_cast<int32_t>(facts_.coded_width));
    status_.Put(s->codedHeight, static_cast<int32_t>(facts_.coded_height));
    status_.Put(s->aspectCode, static_cast<int32_t>(facts_.aspect_code));
    status_.Put(s->frameRate, facts_.frame_rate);
  }
}

void IndexRun::IndexAll() {
  index_mode_ = true;
  interrupted_ = false;
  header_written_ = false;
  if (TessmarStatus* s = status_.Fields()) {
    status_.Put(s->percent, 0.0f);
    status_.Put(s->running, uint8_t{1});
    status_.Put(s->audioStreamCount, int32_t{0});
    status_.Put(s->subpictureStreamCount, int32_t{0});
    for (AudioStreamInfo& a : s->audio) status_.Put(a.format, int32_t{0});
    for (uint8_t& present : s->subpicturePresent) status_.Put(present, uint8_t{0});
  }
  reader_.ReadAheadFromNowOn();
  try {
    Scan();
  } catch (const RunEnds&) {
  }
  EndOfRun();
  // A caller that sees the run over may remove the title set at once: no
  // reading thread, buffer or open VOB file of the run may outlast that.
  reader_.Close();
}

void IndexRun::Scan() {
  if (!facts_.found && (!FirstHeaderSearch() || !facts_.found)) return;
  WriteD2vHeader();
  header_written_ = true;
  parser_.SetStreamType(facts_.stream_type);
  demuxer_.SetDisplayDelay(facts_.frame_rate, facts_.b_after_first_i);
  demuxer_.StartIndexRun();
  start_mark_ = false;
  reader_.Restart();
  parser_.Reset();
  do {
    if (!parser_.NextPicture(second_field_)) return;
  } while (parser_.PictureType() != kIPicture);
  start_mark_ = true;
  demuxer_.SetStartMark();
  // Picture after picture until the data, a check or the GOP ends the run.
  while (CompletePicture() && Checkpoint() && parser_.NextPicture(second_field_)) {
  }
}

void IndexRun::EndOfRun() {
  if (!header_written_) interrupted_ = true;
  if (header_written_ && !gop_.empty())
    outputs_.WriteGopLine(gop_, gop_location_.file, gop_location_.offset, true);
  finished_ = !Interrupted() && !stop_requested_.load();
  const float film = (film_ + video_) > 0 && film_ > 0
                         ? static_cast<float>(film_ * 100.0 / static_cast<double>(film_ + video_))
                         : 0.0f;
  outputs_.Finish(finished_, film);
  if (TessmarStatus* s = status_.Fields()) {
    status_.Put(s->filmPercent, film);
    int64_t total = progressive_ + interlaced_;
    if (total == 0) {
      status_.Put(s->mostlyProgressive, uint8_t{1});
      status_.Put(s->majorityPercent, 100.0f);
    } else if (progressive_ > interlaced_) {
      status_.Put(s->mostlyProgressive, uint8_t{1});
      status_.Put(s->majorityPercent, static_cast<float>(progressive_ * 100.0 / total));
    } else {
      status_.Put(s->mostlyProgressive, uint8_t{0});
      status_.Put(s->majorityPercent, static_cast<float>(interlaced_ * 100.0 / total));
    }
    UpdateVideoKind();  // the counts of the whole run, also for a single GOP
  }
}

TessmarStatus* IndexRun::FinalStatus() {
  TessmarStatus* s = status_.Fields();
  if (!s) return nullptr;
  if (finished_) status_.Put(s->percent, 100.0f);
  status_.Put(s->finished, static_cast<uint8_t>(finished_ ? 1 : 0));
  status_.Put(s->ended, uint8_t{1});
  return s;
}

}  // namespace tessmar
