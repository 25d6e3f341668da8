/* The client interface of the frameserver library (avisynth.dll): open a
 * script, read its clip's picture and sound, close it. Clients normally
 * reach it through the video-file layer (outside/frameserver/video_file.h),
 * which finds the library through its registration. Plain C. */
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "outside/frameserver/include/frameserver_plugin.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define KVFS_API __attribute__((visibility("default")))
#else
#define KVFS_API
#endif

/* Sample types for kvfs_get_audio. */
enum { KVFS_SAMPLE_S16 = 1, KVFS_SAMPLE_FLOAT = 2 };

/* Why an open failed: the script position (line and column from 1; 0 when
 * the failure has no position) and a readable text that names the script
 * and the position. */
typedef struct kvfs_open_error {
  int32_t line;
  int32_t column;
  char text[1024];
} kvfs_open_error;

/* An opened script. One script is used from one thread at a time; several
 * scripts may be open at once. */
typedef struct kvfs_script kvfs_script;

/* Reads, evaluates and starts a script file; relative names in the script
 * are taken from the script's folder. NULL on failure, with `error` filled
 * in when given. */
KVFS_API kvfs_script* kvfs_open_script(const char* path, kvfs_open_error* error);
/* The same for script text; `folder` stands for the script's folder. */
KVFS_API kvfs_script* kvfs_open_script_text(const char* text, const char* folder,
                                            kvfs_open_error* error);

KVFS_API void kvfs_script_info(const kvfs_script* script, kvfs_clip_info* info);

/* Frame n (clamped into the clip). The frame stays valid until the next
 * kvfs_get_frame or kvfs_close_script; NULL on failure (kvfs_last_error).
 * Its format is the clip's pixel_format: a job script's clip is
 * KVFS_PIXEL_I420 from the decoder on (qmVideoSource serves the decoder's
 * own planar 4:2:0 pictures; crop, resize, field functions and subtitles keep
 * them planar), so an encoder takes the planes as they are. Only clips made
 * from RGB sources (ImageSource, BlankClip(pixel_type="RGB24")) are
 * KVFS_PIXEL_BGR24. */
KVFS_API const kvfs_frame* kvfs_get_frame(kvfs_script* script, int64_t n);

/* `count` samples per channel from `start`, interleaved, of the given
 * sample type; samples outside the sound are silence. 0 on success. */
KVFS_API int kvfs_get_audio(kvfs_script* script, int64_t start, int64_t count, int32_t sample_type,
                            void* buffer);

/* The reason of the last failed call on this script. */
KVFS_API const char* kvfs_last_error(const kvfs_script* script);

KVFS_API void kvfs_close_script(kvfs_script* script);

/* Function types, for clients that look the functions up in the library. */
typedef kvfs_script* (*kvfs_open_script_fn)(const char*, kvfs_open_error*);
typedef void (*kvfs_script_info_fn)(const kvfs_script*, kvfs_clip_info*);
typedef const kvfs_frame* (*kvfs_get_frame_fn)(kvfs_script*, int64_t);
typedef int (*kvfs_get_audio_fn)(kvfs_script*, int64_t, int64_t, int32_t, void*);
typedef const char* (*kvfs_last_error_fn)(const kvfs_script*);
typedef void (*kvfs_close_script_fn)(kvfs_script*);

#ifdef __cplusplus
}
#endif
