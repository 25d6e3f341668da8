#include "tests/dvd/ifo_fuzz_entry.h"

#include <cstring>

#include "dvd/ifo_reader.h"
#include "dvd/language_table.h"

namespace kv_test {
namespace {

// Keeps the reads from being optimised away, so that the sanitizers see them.
volatile unsigned sink;

void Use(unsigned value) {
  sink = sink + value;
}

}  // namespace

bool AskEveryIfoQuestion(const uint8_t* data, size_t size) {
  auto ifo = dvd::IfoFile::OpenBytes({data, size});
  if (!ifo) return true;
  bool consistent = true;
  int count = ifo->PgcCount();
  if (ifo->Pgc(count) || ifo->Summary(count)) consistent = false;
  for (int i = -1; i <= count; ++i) {
    auto pgc = ifo->Pgc(i);
    if (pgc) {
      if (pgc->size() < dvd::kPgcHeaderSize) consistent = false;
      // The header and the last byte: enough for the sanitizers to see a span
      // reaching past the table without walking the table once per chain.
      for (size_t b = 0; b < dvd::kPgcHeaderSize && b < pgc->size(); ++b) Use((*pgc)[b]);
      Use(pgc->back());
      for (int k = -1; k <= dvd::kMaxAudioStreams; ++k) {
        dvd::AudioStreamControl control = dvd::PgcAudioControl(*pgc, k);
        Use(control.available + control.stream);
      }
      for (int k = -1; k <= dvd::kMaxSubpictureStreams; ++k) {
        dvd::SubpictureStreamControl control = dvd::PgcSubpictureControl(*pgc, k);
        Use(control.available + control.stream_4_3 + control.stream_wide);
      }
    }
    auto modes = ifo->CellBlockModes(i);
    if (modes) {
      if (!pgc) consistent = false;
      for (uint8_t mode : *modes) Use(mode);
    }
    if (auto summary = ifo->Summary(i)) {
      if (!modes || summary->angles > static_cast<int>(modes->size())) consistent = false;
      Use(summary->hours + summary->minutes + summary->seconds + summary->frames_and_rate +
          summary->angles);
    }
  }
  dvd::VtsAudioAttr audio = ifo->AudioAttributes();
  for (const dvd::AudioAttr& stream : audio.streams)
    Use(stream.channels + stream.code_extension + std::strlen(dvd::LanguageName(stream.language)));
  if (audio.count < 0 || audio.count > dvd::kMaxAudioStreams) consistent = false;
  dvd::VtsSubpictureAttr sub = ifo->SubpictureAttributes();
  if (sub.count < 0 || sub.count > dvd::kMaxSubpictureStreams ||
      sub.streams.size() != static_cast<size_t>(sub.count))
    return false;
  for (int k = 0; k < sub.count; ++k)
    Use(sub.streams[k].code_extension + std::strlen(dvd::LanguageName(sub.streams[k].language)));
  return consistent;
}

}  // namespace kv_test
