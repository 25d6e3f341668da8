#include "outside/qmaudio/frame_headers.h"

namespace qmaudio {

bool ParseAc3Header(const uint8_t* d, size_t size, FrameHeader* h) {
  // syncword, crc1, fscod and frmsizecod, bsid and bsmod.
  if (size < 6 || d[0] != 0x0B || d[1] != 0x77) return false;
  const int fscod = d[4] >> 6, frmsizecod = d[4] & 0x3F;
  const int bsid = d[5] >> 3;
  if (fscod == 3 || frmsizecod > 37 || bsid > 10) return false;
  static const int kKbps[19] = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                192, 224, 256, 320, 384, 448, 512, 576, 640};
  const int kbps = kKbps[frmsizecod >> 1];
  int words = 0;
  switch (fscod) {
    case 0:  // 48 kHz
      words = kbps * 2;
      h->sample_rate = 48000;
      break;
    case 1:  // 44.1 kHz: the odd codes carry one word more
      words = kbps * 1536 * 1000 / 44100 / 16 + (frmsizecod & 1);
      h->sample_rate = 44100;
      break;
    default:  // 32 kHz
      words = kbps * 3;
      h->sample_rate = 32000;
      break;
  }
  h->bytes = words * 2;
  h->samples = 1536;
  return true;
}

bool ParseDtsHeader(const uint8_t* d, size_t size, FrameHeader* h) {
  // The core's sync word in 16-bit big-endian words, as DVDs carry it.
  if (size < 10 || d[0] != 0x7F || d[1] != 0xFE || d[2] != 0x80 || d[3] != 0x01) return false;
  // FTYPE(1) SHORT(5) CPF(1) NBLKS(7) FSIZE(14) AMODE(6) SFREQ(4)
  const uint64_t bits = (uint64_t{d[4]} << 40) | (uint64_t{d[5]} << 32) | (uint64_t{d[6]} << 24) |
                        (uint64_t{d[7]} << 16) | (uint64_t{d[8]} << 8) | d[9];
  const int nblks = static_cast<int>((bits >> 34) & 0x7F);
  const int fsize = static_cast<int>((bits >> 20) & 0x3FFF);
  const int sfreq = static_cast<int>((bits >> 10) & 0x0F);
  static const int kRates[16] = {0,     8000, 16000, 32000, 0,     0,     11025, 22050,
                                 44100, 0,    0,     12000, 24000, 48000, 0,     0};
  if (nblks < 5 || fsize < 95 || kRates[sfreq] == 0) return false;
  h->bytes = fsize + 1;
  h->samples = (nblks + 1) * 32;
  h->sample_rate = kRates[sfreq];
  return true;
}

bool ParseMpegAudioHeader(const uint8_t* d, size_t size, FrameHeader* h) {
  if (size < 4 || d[0] != 0xFF || (d[1] & 0xE0) != 0xE0) return false;
  const int version = (d[1] >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
  const int layer = 4 - ((d[1] >> 1) & 3);
  const int bitrate_index = d[2] >> 4, rate_index = (d[2] >> 2) & 3, padding = (d[2] >> 1) & 1;
  // Free format (bit rate index 0) has no length in its header.
  if (version == 1 || layer == 4 || bitrate_index == 0 || bitrate_index == 15 || rate_index == 3)
    return false;
  static const int kRates[3] = {44100, 48000, 32000};
  const int rate = kRates[rate_index] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
  static const int kKbps[2][3][15] = {
      {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
       {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
       {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
      {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
  const int bitrate = kKbps[version == 3 ? 0 : 1][layer - 1][bitrate_index] * 1000;
  if (layer == 1) {
    h->bytes = (12 * bitrate / rate + padding) * 4;
    h->samples = 384;
  } else if (layer == 2 || version == 3) {
    h->bytes = 144 * bitrate / rate + padding;
    h->samples = 1152;
  } else {
    h->bytes = 72 * bitrate / rate + padding;
    h->samples = 576;
  }
  h->sample_rate = rate;
  return h->bytes >= 4;
}

bool ParseHeader(Codec codec, const uint8_t* data, size_t size, FrameHeader* header) {
  switch (codec) {
    case Codec::kAc3:
      return ParseAc3Header(data, size, header);
    case Codec::kDts:
      return ParseDtsHeader(data, size, header);
    case Codec::kMpegAudio:
      return ParseMpegAudioHeader(data, size, header);
    default:
      return false;
  }
}

}  // namespace qmaudio
