/* The MPEG-2 video decoder library qmvideo.dll: decodes single frames of a
 * title through the title's video index (".qmvi") and the virtual file map
 * (".vfm") that the index names. Plain C interface; one video is open at a
 * time. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* What openMPEG2Source returns. The program reads width, height and frames;
 * the rest describes the delivered frames for other users of the library. */
typedef struct QmVideoRecord {
  int32_t width;           /* 0: picture width in pixels */
  int32_t height;          /* 4: picture height in pixels */
  int32_t rateNumerator;   /* 8: frame rate of the delivered frames */
  int32_t rateDenominator; /* 12 */
  int32_t frames;          /* 16: number of delivered frames */
  int32_t filmFlag;        /* 20: the film flag of the open */
  int32_t codedFrames;     /* 24: coded frames of the title (repeat flags ignored) */
  int32_t aspectCode;      /* 28: 1 = 1:1, 2 = 4:3, 3 = 16:9, 4 = 2.21:1, 0 = unknown */
} QmVideoRecord;

#ifdef __cplusplus
#define QMVIDEO_STATIC_ASSERT(c, m) static_assert(c, m)
#else
#define QMVIDEO_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif
QMVIDEO_STATIC_ASSERT(sizeof(QmVideoRecord) == 32, "QmVideoRecord is 32 bytes");
#undef QMVIDEO_STATIC_ASSERT

#if defined(__GNUC__)
#define QMVIDEO_EXPORT __attribute__((visibility("default")))
#else
#define QMVIDEO_EXPORT
#endif

/* Opens the title whose video index is `path`, closing any open one first.
 * Film flag 1: the coded frames, repeat-field flags ignored. Film flag 0: the
 * frames a player shows at the stream's rate, repeated fields woven in.
 * Null when the index, its map or the data cannot be used. The record stays
 * valid until the video is closed. */
QMVIDEO_EXPORT QmVideoRecord* openMPEG2Source(const char* path, unsigned char film_flag);
/* Frame `frame` (from 0) as width x height pixels of 3 bytes (blue, green,
 * red), rows from top to bottom without padding; null on failure. Valid until
 * the next call. */
QMVIDEO_EXPORT unsigned char* getRGBFrame(int32_t frame);
/* Closes the open video; nothing when none is open. */
QMVIDEO_EXPORT void closeVideo(void);

#ifdef __cplusplus
}
#endif
