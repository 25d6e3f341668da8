#pragma once

#include <cstdint>
#include <vector>

namespace wizard {

// A rectangle of the coded picture in pixels.
struct PictureRect {
  int Top = 0;
  int Left = 0;
  int Width = 0;
  int Height = 0;

  bool operator==(const PictureRect&) const = default;
};

// One usable audio stream of a program chain.
struct PgcAudioEntry {
  int StreamNumber = 0;  // number in the per-title audio file names
  int Format = 0;        // row of AudioFormatTable
  int Channels = 2;
  int DelayMs = 0;
  uint16_t Language = 0;  // first letter in the high byte
  int CodeExtension = 0;  // 3 = commentary
  int BitsPerSample = 0;  // LPCM only
  int SampleRate = 0;     // LPCM only, Hz
};

// One usable sub-picture stream of a program chain.
struct PgcSubtitleEntry {
  int StreamNumber = 0;
  uint16_t Language = 0;
};

// What the transcoding settings read of the chosen title: its title set's
// video facts and the chosen program chain as the analysis and the title
// preparation left them.
struct TitleFacts {
  int PictureWidth = 720;
  int PictureHeight = 576;
  bool Widescreen = false;
  bool PalVideo = false;
  float VideoFrameRate = 25.0f;
  bool Progressive = false;
  bool FieldOrderTop = false;
  float FilmShare = 0.0f;  // percent of pulled-down frames
  int PgcFrameCount = 0;
  int BorderState = 0;  // 1: black borders found, 0: none, 255: not prepared
  PictureRect DetectedRect;
  std::vector<PgcAudioEntry> AudioStreams;
  std::vector<PgcSubtitleEntry> SubtitleStreams;

  bool BordersDetected() const { return BorderState == 1; }
};

}  // namespace wizard
