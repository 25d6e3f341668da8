// Codes of the MPEG-2 program stream (ISO/IEC 13818-1) and video stream
// (ISO/IEC 13818-2) that the index run looks at, and what its status block
// reports about the streams it found.
#pragma once

#include <cstdint>

namespace tessmar {

// The byte after a 00 00 01 start code prefix in the program stream.
inline constexpr int kPackStart = 0xBA;
inline constexpr int kPrivateStream1 = 0xBD;
inline constexpr int kPrivateStream2 = 0xBF;  // navigation packets (PCI, DSI)
inline constexpr int kMpegAudioFirst = 0xC0;
inline constexpr int kMpegAudioLast = 0xC7;
inline constexpr int kVideoStream = 0xE0;

// Sub-stream ids of private stream 1 packets: the first id of each kind.
inline constexpr int kSubpictureFirst = 0x20;
inline constexpr int kSubpictureLast = 0x3F;
inline constexpr int kAc3First = 0x80;
inline constexpr int kAc3Last = 0x87;
inline constexpr int kDtsFirst = 0x88;
inline constexpr int kDtsLast = 0x8F;
inline constexpr int kLpcmFirst = 0xA0;
inline constexpr int kLpcmLast = 0xA7;

// The PES header flag byte: "10" in its top bits marks an MPEG-2 header,
// bits 5-4 the scrambling control; a second flag byte of 0x80 or more says
// a PTS follows.
inline constexpr int kMpeg2PesMask = 0xC0;
inline constexpr int kMpeg2PesBits = 0x80;
inline constexpr int kScramblingMask = 0x30;
inline constexpr int kPtsPresent = 0x80;
inline constexpr int kPtsBytes = 5;
// The low 32 bits of the 33-bit time stamp in a PES header's five bytes,
// marker bits dropped.
inline uint32_t PtsLow32(const uint8_t* b) {
  return (((uint32_t{b[0]} >> 1) & 3) << 30) | (uint32_t{b[1]} << 22) |
         ((uint32_t{b[2]} >> 1) << 15) | (uint32_t{b[3]} << 7) | (uint32_t{b[4]} >> 1);
}
// The bytes a pack header takes before its first packet (DVD packs).
inline constexpr int kPackHeaderBytes = 14;
// A navigation pack holds the PCI packet, then the DSI packet, which starts
// this far into the pack.
inline constexpr int kDsiPacketInPack = 1024;
// In the DSI packet's data (from its sub-stream id): the VOB number (16 bits)
// and the cell number of the unit, which end the bytes the index run reads.
inline constexpr int kDsiVobIdOffset = 25;
inline constexpr int kDsiCellIdOffset = 28;
inline constexpr int kDsiBytesRead = kDsiCellIdOffset + 1;

// Start codes of the video elementary stream, whole.
inline constexpr uint32_t kPictureStartCode = 0x100;
inline constexpr uint32_t kUserDataStartCode = 0x1B2;
inline constexpr uint32_t kSequenceHeaderCode = 0x1B3;
inline constexpr uint32_t kExtensionStartCode = 0x1B5;
inline constexpr uint32_t kGroupStartCode = 0x1B8;
inline constexpr uint32_t kPackStartCode = 0x100 | kPackStart;

// Extension ids.
inline constexpr int kSequenceExtensionId = 1;
inline constexpr int kPictureCodingExtensionId = 8;

// picture_coding_type.
inline constexpr int kIPicture = 1;
inline constexpr int kPPicture = 2;
inline constexpr int kBPicture = 3;

// picture_structure.
inline constexpr int kTopField = 1;
inline constexpr int kBottomField = 2;
inline constexpr int kFramePicture = 3;

// AudioStreamInfo::format.
inline constexpr int32_t kAudioAc3 = 1;
inline constexpr int32_t kAudioDts = 2;
inline constexpr int32_t kAudioMpeg = 3;
inline constexpr int32_t kAudioLpcm = 4;

// TessmarStatus::videoKind.
inline constexpr int32_t kVideoPal = 1;   // no film frame, 25 frames per second
inline constexpr int32_t kVideoNtsc = 2;  // no film frame, another rate
inline constexpr int32_t kVideoFilm = 3;  // no video frame
inline constexpr int32_t kVideoMixed = 4;

}  // namespace tessmar
