/* The frameserver's plug-in interface. A plug-in is a shared object that
 * exports one function, kvfs_register_plugin, through which it adds named
 * script functions with their argument signatures. Everything a plug-in
 * needs from the frameserver comes through the kvfs_host table it is handed,
 * so a plug-in links against nothing of the frameserver. Plain C. */
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define KVFS_INTERFACE_VERSION 1

/* Picture formats. I420: planar Y, U, V, chroma halved both ways (odd sizes
 * round the chroma up). BGR24: one plane, 3 bytes per pixel, top row first. */
enum { KVFS_PIXEL_NONE = 0, KVFS_PIXEL_I420 = 1, KVFS_PIXEL_BGR24 = 2 };

typedef struct kvfs_clip_info {
  int32_t width;
  int32_t height;
  int32_t pixel_format; /* KVFS_PIXEL_NONE: the clip has no picture */
  uint32_t fps_numerator;
  uint32_t fps_denominator;
  int64_t frame_count;
  int32_t audio_rate; /* samples per second; 0: the clip has no sound */
  int32_t channels;
  int64_t sample_count; /* per channel */
} kvfs_clip_info;

/* A picture. Frames are reference counted; whoever is handed one owns one
 * reference and gives it back with frame_release. */
typedef struct kvfs_frame {
  int32_t width;
  int32_t height;
  int32_t pixel_format;
  uint8_t* data[3];
  int32_t pitch[3];
} kvfs_frame;

typedef struct kvfs_clip kvfs_clip;           /* a clip held by the frameserver */
typedef struct kvfs_call kvfs_call;           /* one call of a registered function */
typedef struct kvfs_registrar kvfs_registrar; /* where a plug-in adds its functions */

/* The behaviour of a clip a plug-in creates. `self` is the plug-in's own
 * state. On failure get_frame returns NULL, get_audio and start return
 * non-zero, and they write a reason into `error`. */
typedef struct kvfs_clip_ops {
  /* 0 <= n < frame_count. The frame returned is handed over to the caller. */
  kvfs_frame* (*get_frame)(void* self, int64_t n, char* error, size_t error_size);
  /* `count` samples per channel from `start`, interleaved floats in [-1, 1];
   * the range lies within [0, sample_count). May be NULL without sound. */
  int (*get_audio)(void* self, int64_t start, int64_t count, float* out, char* error,
                   size_t error_size);
  /* Called once when the script's clip is opened for serving; may be NULL. */
  int (*start)(void* self, char* error, size_t error_size);
  /* Frees `self`; children taken with clip_retain are released here. */
  void (*destroy)(void* self);
} kvfs_clip_ops;

/* A registered function. It reads its arguments and sets a result (or
 * calls fail); the return value is ignored. */
typedef void (*kvfs_function)(kvfs_call* call, void* user_data);

typedef struct kvfs_host {
  uint32_t version; /* KVFS_INTERFACE_VERSION */

  /* Registration. `signature` lists the parameters, comma separated, each
   * "type name" with type clip, int, float, bool, string or any; an
   * optional parameter is written in brackets: "clip c, string path,
   * [int idct], [bool force_film]". A first clip parameter may be left out
   * in a script, which then passes its current clip. Returns 0 on success. */
  int (*add_function)(kvfs_registrar* registrar, const char* name, const char* signature,
                      kvfs_function function, void* user_data);

  /* Arguments by parameter index. arg_given is 0 for an optional parameter
   * the script left out; the getters then return the fallback. Clips and
   * strings are borrowed for the duration of the call. */
  int (*arg_given)(kvfs_call* call, int index);
  kvfs_clip* (*arg_clip)(kvfs_call* call, int index);
  int64_t (*arg_int)(kvfs_call* call, int index, int64_t fallback);
  double (*arg_float)(kvfs_call* call, int index, double fallback);
  int (*arg_bool)(kvfs_call* call, int index, int fallback);
  const char* (*arg_string)(kvfs_call* call, int index, const char* fallback);
  /* A file name from the script as a path: relative names are taken from
   * the script's folder. Valid for the duration of the call. */
  const char* (*resolve_path)(kvfs_call* call, const char* name);

  /* Results. return_clip takes over `self` (destroy is called when the clip
   * goes, also when return_clip itself fails). */
  void (*return_clip)(kvfs_call* call, const kvfs_clip_info* info, const kvfs_clip_ops* ops,
                      void* self);
  void (*return_int)(kvfs_call* call, int64_t value);
  void (*return_float)(kvfs_call* call, double value);
  void (*return_bool)(kvfs_call* call, int value);
  void (*return_string)(kvfs_call* call, const char* value);
  void (*fail)(kvfs_call* call, const char* message);

  /* Clips a plug-in pulls from. A borrowed clip is kept beyond its call
   * with clip_retain (a new handle) and given back with clip_release.
   * clip_get_frame clamps n into the clip; clip_get_audio fills samples
   * outside the clip with silence. */
  kvfs_clip* (*clip_retain)(kvfs_clip* clip);
  void (*clip_release)(kvfs_clip* clip);
  void (*clip_info)(kvfs_clip* clip, kvfs_clip_info* info);
  kvfs_frame* (*clip_get_frame)(kvfs_clip* clip, int64_t n, char* error, size_t error_size);
  int (*clip_get_audio)(kvfs_clip* clip, int64_t start, int64_t count, float* out, char* error,
                        size_t error_size);

  /* Frames. frame_new allocates a writable frame (NULL on a bad size);
   * frame_wrap hands memory of the plug-in's own to the frameserver, which
   * calls release(opaque) when the last reference goes. */
  kvfs_frame* (*frame_new)(int32_t width, int32_t height, int32_t pixel_format);
  kvfs_frame* (*frame_wrap)(int32_t width, int32_t height, int32_t pixel_format,
                            uint8_t* const data[3], const int32_t pitch[3],
                            void (*release)(void* opaque), void* opaque);
  kvfs_frame* (*frame_retain)(kvfs_frame* frame);
  void (*frame_release)(kvfs_frame* frame);
  /* For a source whose library reuses one buffer: a wrapped frame that is
   * still held elsewhere gets a copy of its pixels in memory of its own
   * (its release is called then); one held only by the caller is left as
   * it is. Call it before the buffer changes. Frames are served from one
   * thread at a time. */
  void (*frame_detach)(kvfs_frame* frame);
} kvfs_host;

/* The one export of a plug-in: adds its functions; 0 on success. The host
 * table stays valid for the life of the process. */
#define KVFS_REGISTER_PLUGIN_NAME "kvfs_register_plugin"
typedef int (*kvfs_register_plugin_fn)(const kvfs_host* host, kvfs_registrar* registrar);

#if defined(__GNUC__)
#define KVFS_PLUGIN_EXPORT __attribute__((visibility("default")))
#else
#define KVFS_PLUGIN_EXPORT
#endif

#ifdef __cplusplus
}
#endif
