#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "dvd/ifo_layout.h"

namespace dvd {

inline constexpr int kMaxAudioStreams = 8;
inline constexpr int kMaxSubpictureStreams = 32;

// Playing time and angles of one program chain.
struct PgcSummary {
  int hours = 0;
  int minutes = 0;
  int seconds = 0;
  // Bits 5-0: frames as a plain number; bits 7-6: frame rate code
  // (1 = 25 frames/s, 3 = 30 frames/s).
  uint8_t frames_and_rate = 0;
  int angles = 0;  // 0 without an angle block

  int Frames() const { return frames_and_rate & 0x3F; }
  int RateCode() const { return frames_and_rate >> 6; }
};

struct AudioAttr {
  uint16_t language = 0;  // first letter in the high byte
  int channels = 1;       // 1-8
  uint8_t code_extension = 0;
};

struct VtsAudioAttr {
  int count = 0;  // limited to kMaxAudioStreams
  AudioAttr streams[kMaxAudioStreams];
};

struct SubpictureAttr {
  uint16_t language = 0;
  uint8_t code_extension = 0;
};

struct VtsSubpictureAttr {
  int count = 0;  // limited to kMaxSubpictureStreams
  std::vector<SubpictureAttr> streams;
};

// One entry of a program chain's audio stream control.
struct AudioStreamControl {
  bool available = false;
  int stream = 0;  // stream number in the program stream
};

// One entry of a program chain's sub-picture stream control.
struct SubpictureStreamControl {
  bool available = false;
  int stream_4_3 = 0;
  int stream_wide = 0;
};

// Stream control entry k (attribute k) of a program chain as returned by
// IfoFile::Pgc; the span always covers kPgcHeaderSize bytes.
AudioStreamControl PgcAudioControl(std::span<const uint8_t> pgc, int k);
SubpictureStreamControl PgcSubpictureControl(std::span<const uint8_t> pgc, int k);

// A title set information file ("VTS_nn_0.IFO"), opened for reading its
// program chains and stream attributes. Closing is destruction.
class IfoFile {
 public:
  // dvd_folder + "VTS_%.2d_0.IFO"; a differently cased name on disk is found
  // too. nullptr when the file cannot be read or is not a title set file.
  static std::unique_ptr<IfoFile> Open(const std::string& dvd_folder, int title_set);
  static std::unique_ptr<IfoFile> OpenPath(const std::string& path);
  // The same reader over an image held in memory (the bytes are copied).
  static std::unique_ptr<IfoFile> OpenBytes(std::span<const uint8_t> bytes);

  ~IfoFile();
  IfoFile(const IfoFile&) = delete;
  IfoFile& operator=(const IfoFile&) = delete;

  // 0 without a program chain table.
  int PgcCount() const;
  // The bytes of program chain i up to the end of the table; none when there
  // is no table, i is out of range or the chain does not fit in the table.
  std::optional<std::span<const uint8_t>> Pgc(int i) const;
  // Block mode (0-3) of every cell of program chain i; none as for Pgc or
  // when the cell table lies outside the table.
  std::optional<std::vector<uint8_t>> CellBlockModes(int i) const;
  std::optional<PgcSummary> Summary(int i) const;

  VtsAudioAttr AudioAttributes() const;
  VtsSubpictureAttr SubpictureAttributes() const;

 private:
  IfoFile() = default;
  static std::unique_ptr<IfoFile> OpenSource(std::FILE* file, std::vector<uint8_t> memory);
  // Reads exactly `size` bytes at `offset`; false on a short read.
  bool ReadAt(uint64_t offset, size_t size, uint8_t* out) const;
  uint64_t SourceSize() const;
  void LoadPgcTable();

  std::FILE* file_ = nullptr;
  std::vector<uint8_t> memory_;  // the image when opened from bytes
  uint64_t source_size_ = 0;
  uint8_t first_sector_[kSectorSize] = {};
  std::vector<uint8_t> pgc_table_;  // empty = no table
};

}  // namespace dvd
