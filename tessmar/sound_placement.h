// Where a title's sound is heard on its picture's time. A title's cells may
// come from parts multiplexed one by one, whose time stamps start again
// (discs of several stories, seamless branching), may carry no sound, or be
// the interleaved cells of an angle block; the bytes of its sound, joined in
// playing order, then no longer run in step with its picture. Each cell's
// sound is placed where that cell's picture plays, by the time stamps the
// two share within the cell; the rebuild writes the places into the audio
// map as time lines, which the audio source follows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessmar {

// Time stamps read from a title set's VOB files at given places.
class StampReader {
 public:
  explicit StampReader(const std::vector<std::string>& paths);
  ~StampReader();
  StampReader(const StampReader&) = delete;
  StampReader& operator=(const StampReader&) = delete;

  // The start of presentation of the VOBU whose navigation pack is at
  // `offset` of file `file` (90 kHz); false when no navigation pack is there.
  bool VobuStart(int file, int64_t offset, uint32_t* ptm);
  // The PTS (low 32 bits) of the audio packet whose payload, as the audio
  // index counts it, starts at `offset` of file `file`; false when that
  // packet carries none or is not found.
  bool PayloadPts(int file, int64_t offset, uint32_t* pts);

 private:
  // The 2048-byte sector that holds `offset`; null when it cannot be read.
  const uint8_t* Sector(int file, int64_t offset);

  std::vector<int> fds_;
  std::vector<uint8_t> sector_;
  int sector_file_ = -1;
  int64_t sector_at_ = -1;
};

// The kept cells of a title in playing order: where each one's picture
// starts on the title's time and in its own time stamps.
class SoundPlacement {
 public:
  struct Cell {
    int file = -1;  // its first navigation pack; -1 when it has none
    int64_t nav_offset = 0;
    int64_t fields = 0;  // of the picture it shows: 2 a frame, 3 with a repeated field
  };
  SoundPlacement(const std::vector<Cell>& cells, double frame_rate, StampReader* stamps);

  // The title time (90 kHz ticks from its first picture) at which sound
  // with the time stamp `pts` in kept cell `cell` is heard; false when the
  // cell's picture has no time stamp to measure it against.
  bool TitleTicks(size_t cell, uint32_t pts, int64_t* ticks) const;

 private:
  std::vector<int64_t> start_;  // title time of each cell's first picture
  std::vector<uint32_t> picture_pts_;
  std::vector<bool> known_;
};

// Frames per second from the project file's "Frame_Rate=" value (x 1000,
// truncated): 29970 and 23976 are the NTSC rates.
double FrameRateOf(int frame_rate_milli);

// The fields of picture that a GOP line's frame flags (" 12 13 ...") show.
int64_t FieldsOf(const std::string& flags, size_t at, size_t size);

}  // namespace tessmar
