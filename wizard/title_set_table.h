#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "wizard/title_facts.h"

namespace wizard {

// One program chain of a title set, as the analysis found it and the title
// preparation completed it.
struct PgcInfo {
  int Angles = 0;  // 0: no angle block
  uint8_t Hours = 0;
  uint8_t Minutes = 0;
  uint8_t Seconds = 0;
  uint8_t FramesAndRate = 0;  // bits 5-0 frames, bits 7-6 frame rate code

  // Set by the title preparation; -1 and 255 until then.
  int32_t PgcFrameCount = -1;
  uint8_t BorderState = 255;  // 0: whole picture, 1: black borders found
  PictureRect DetectedRect;
  // The angle whose files and facts the preparation left (0 for a chain
  // without angles); -1 while nothing is prepared. Angles have their own
  // video, audio maps and VobSub index, so another angle is prepared again.
  int PreparedAngle = -1;

  std::vector<PgcAudioEntry> AudioStreams;        // usable streams, control order
  std::vector<PgcSubtitleEntry> SubtitleStreams;  // usable streams, control order

  int Frames() const { return FramesAndRate & 0x3F; }
  int PlayingSeconds() const { return Hours * 3600 + Minutes * 60 + Seconds; }
  bool Prepared(int angle) const { return PgcFrameCount >= 0 && PreparedAngle == angle; }
};

inline constexpr int kMaxSubpictureStreams = 32;

// One title set of the analysed disc. PgcCount 0: the title set is not usable.
struct TitleSetInfo {
  int16_t PictureWidth = 0;
  int16_t PictureHeight = 0;
  bool Widescreen = false;
  bool PalVideo = false;
  float VideoFrameRate = 0;
  bool Progressive = false;
  float ProgressiveShare = 0;
  bool FieldOrderTop = false;
  float FilmShare = 0;
  int PgcCount = 0;
  std::vector<PgcInfo> Pgcs;  // PgcCount + 1 entries; entry 0 is not used
  // Entry k names the copy of sub-picture stream k ("vts01_pgc00_a0_st0.sub"),
  // empty when the run found no such stream.
  std::array<std::string, kMaxSubpictureStreams> SubtitleFiles;
};

// Title sets 1 to 99 of a disc by number; entry 0 is not used.
inline constexpr int kTitleSetTableSize = 100;
using TitleSetTable = std::array<TitleSetInfo, kTitleSetTableSize>;

// What the transcoding settings read of program chain `pgc` of `vts`.
inline TitleFacts FactsForTitle(const TitleSetInfo& vts, int pgc) {
  const PgcInfo& chain = vts.Pgcs.at(pgc);
  TitleFacts facts;
  facts.PictureWidth = vts.PictureWidth;
  facts.PictureHeight = vts.PictureHeight;
  facts.Widescreen = vts.Widescreen;
  facts.PalVideo = vts.PalVideo;
  facts.VideoFrameRate = vts.VideoFrameRate;
  facts.Progressive = vts.Progressive;
  facts.FieldOrderTop = vts.FieldOrderTop;
  facts.FilmShare = vts.FilmShare;
  facts.PgcFrameCount = chain.PgcFrameCount;
  facts.BorderState = chain.BorderState;
  facts.DetectedRect = chain.DetectedRect;
  facts.AudioStreams = chain.AudioStreams;
  facts.SubtitleStreams = chain.SubtitleStreams;
  return facts;
}

}  // namespace wizard
