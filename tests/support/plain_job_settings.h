#pragma once

#include "wizard/job_settings.h"

namespace kv_test {

// A 720 x 576 title of 300 frames, one volume, nothing but the picture: the
// job a case changes only where it differs.
inline wizard::JobSettings PlainJobSettings() {
  wizard::JobSettings s;
  s.Facts.PictureWidth = 720;
  s.Facts.PictureHeight = 576;
  s.FrameCount = 300;
  s.EncodeMode = wizard::EncodeModeKind::FixedSize;
  s.SplitVolumes = true;
  s.VolumeCount = 1;
  s.CropMode = wizard::CropModeKind::Disabled;
  s.OutputWidth = 640;
  s.OutputHeight = 352;
  return s;
}

// A sound stream of the title as the analysis lists it (format 4 is LPCM,
// which also states its sample size and rate).
inline wizard::PgcAudioEntry AudioStream(int stream, int format, int channels, int delay_ms = 0) {
  wizard::PgcAudioEntry a;
  a.StreamNumber = stream;
  a.Format = format;
  a.Channels = channels;
  a.DelayMs = delay_ms;
  if (format == 4) {
    a.BitsPerSample = 16;
    a.SampleRate = 48000;
  }
  return a;
}

}  // namespace kv_test
