// Where the fields of a title set information file ("VTS_nn_0.IFO") lie:
// offsets in bytes from the start of the file, of a table or of a program
// chain. Shared by the program's IFO reader and the indexing library's
// title rebuild.
#pragma once

#include <cstddef>

namespace dvd {

inline constexpr size_t kSectorSize = 2048;
inline constexpr char kVtsIdentifier[] = "DVDVIDEO-VTS";
inline constexpr size_t kVtsIdentifierSize = 12;

// The first sector (VTSI_MAT).
inline constexpr size_t kPgciSectorOffset = 0xCC;  // sector of the program chain table
inline constexpr size_t kVideoAttributesOffset = 0x200;
inline constexpr size_t kAudioCountOffset = 0x203;
inline constexpr size_t kAudioAttrOffset = 0x204;
inline constexpr size_t kAudioAttrSize = 8;
inline constexpr size_t kSubpictureCountOffset = 0x255;
inline constexpr size_t kSubpictureAttrOffset = 0x256;
inline constexpr size_t kSubpictureAttrSize = 6;

// A table's last byte address, relative to the table.
inline constexpr size_t kTableEndOffset = 4;

// The program chain table (VTS_PGCIT): a count, then search pointers of
// 8 bytes whose second half is the chain's offset in the table.
inline constexpr size_t kPgciHeaderSize = 8;
inline constexpr size_t kPgciEntrySize = 8;
inline constexpr size_t kPgciEntryStartOffset = 4;

// A program chain.
inline constexpr size_t kPgcCellCountOffset = 3;
inline constexpr size_t kPgcPlayingTimeOffset = 4;
inline constexpr size_t kPgcAudioControlOffset = 0x0C;
inline constexpr size_t kPgcSubpictureControlOffset = 0x1C;
inline constexpr size_t kPgcPaletteOffset = 0xA4;  // 16 entries of 0, Y, Cr, Cb
inline constexpr size_t kPgcCellTableOffset = 0xE8;
inline constexpr size_t kPgcCellPositionTableOffset = 0xEA;
// The fixed part of a program chain, up to and including the two offsets.
inline constexpr size_t kPgcHeaderSize = 0xEC;

// Cell playback information: block mode in bits 7-6 of byte 0, the STC
// discontinuity in bit 1; the playing time in bytes 4-7.
inline constexpr size_t kCellPlaybackSize = 24;
inline constexpr size_t kCellPlayingTimeOffset = 4;
inline constexpr int kCellStcDiscontinuity = 0x02;
// Cell position information: vob_id (16 bits), reserved, cell_id.
inline constexpr size_t kCellPositionSize = 4;
inline constexpr size_t kCellPositionCellIdOffset = 3;

}  // namespace dvd
