/* A frameserver plug-in for the tests, in plain C as outside plug-ins are:
 * a source, a filter that pulls frames and samples from its child, a start
 * mark, plain values and a failure. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "outside/frameserver/include/frameserver_plugin.h"

static const kvfs_host* host;
static int bad_signature_result;

/* TestSource(frames): a 16x16 I420 clip whose frame n is filled with n. */
typedef struct {
  kvfs_clip_info info;
} Source;

static kvfs_frame* SourceFrame(void* self, int64_t n, char* error, size_t size) {
  Source* s = (Source*)self;
  kvfs_frame* f = host->frame_new(s->info.width, s->info.height, KVFS_PIXEL_I420);
  if (!f) {
    snprintf(error, size, "no memory");
    return NULL;
  }
  for (int p = 0; p < 3; ++p) {
    const int rows = p ? (f->height + 1) / 2 : f->height;
    for (int y = 0; y < rows; ++y)
      memset(f->data[p] + y * f->pitch[p], (int)(n & 255),
             (size_t)(p ? (f->width + 1) / 2 : f->width));
  }
  return f;
}

static int SourceAudio(void* self, int64_t start, int64_t count, float* out, char* error,
                       size_t size) {
  (void)self;
  (void)error;
  (void)size;
  for (int64_t i = 0; i < count; ++i) out[i] = (float)((start + i) % 100) / 100.0f;
  return 0;
}

static void SourceDestroy(void* self) {
  free(self);
}

static const kvfs_clip_ops source_ops = {SourceFrame, SourceAudio, NULL, SourceDestroy};

static void TestSource(kvfs_call* call, void* user) {
  (void)user;
  const int64_t frames = host->arg_int(call, 0, 0);
  if (frames < 1) {
    host->fail(call, "frames must be positive");
    return;
  }
  Source* s = (Source*)calloc(1, sizeof *s);
  s->info.width = 16;
  s->info.height = 16;
  s->info.pixel_format = KVFS_PIXEL_I420;
  s->info.fps_numerator = 25;
  s->info.fps_denominator = 1;
  s->info.frame_count = frames;
  s->info.audio_rate = 1000;
  s->info.channels = 1;
  s->info.sample_count = frames * 40;
  host->return_clip(call, &s->info, &source_ops, s);
}

/* TestInvert(clip, [int offset]): frame n is 255 - child's frame n + offset
 * (shifted in time), samples negated. */
typedef struct {
  kvfs_clip* child;
  kvfs_clip_info info;
  int64_t offset;
} Invert;

static kvfs_frame* InvertFrame(void* self, int64_t n, char* error, size_t size) {
  Invert* v = (Invert*)self;
  kvfs_frame* in = host->clip_get_frame(v->child, n + v->offset, error, size);
  if (!in) return NULL;
  kvfs_frame* out = host->frame_new(in->width, in->height, in->pixel_format);
  for (int p = 0; p < 3 && out; ++p) {
    const int rows = p ? (in->height + 1) / 2 : in->height;
    const int width = p ? (in->width + 1) / 2 : in->width;
    for (int y = 0; y < rows; ++y)
      for (int x = 0; x < width; ++x)
        out->data[p][y * out->pitch[p] + x] = (uint8_t)(255 - in->data[p][y * in->pitch[p] + x]);
  }
  host->frame_release(in);
  return out;
}

static int InvertAudio(void* self, int64_t start, int64_t count, float* out, char* error,
                       size_t size) {
  Invert* v = (Invert*)self;
  if (host->clip_get_audio(v->child, start, count, out, error, size) != 0) return -1;
  for (int64_t i = 0; i < count * v->info.channels; ++i) out[i] = -out[i];
  return 0;
}

static void InvertDestroy(void* self) {
  Invert* v = (Invert*)self;
  host->clip_release(v->child);
  free(v);
}

static const kvfs_clip_ops invert_ops = {InvertFrame, InvertAudio, NULL, InvertDestroy};

static void TestInvert(kvfs_call* call, void* user) {
  (void)user;
  Invert* v = (Invert*)calloc(1, sizeof *v);
  v->child = host->clip_retain(host->arg_clip(call, 0));
  host->clip_info(v->child, &v->info);
  if (v->info.pixel_format != KVFS_PIXEL_I420) {
    InvertDestroy(v);
    host->fail(call, "needs a YV12 clip");
    return;
  }
  v->offset = host->arg_int(call, 1, 0);
  host->return_clip(call, &v->info, &invert_ops, v);
}

/* TestMark(clip, string path): writes "started" to path when the clip is
 * opened for serving (appending, so a second start would show). */
typedef struct {
  kvfs_clip* child;
  char path[1024];
} Mark;

static kvfs_frame* MarkFrame(void* self, int64_t n, char* error, size_t size) {
  return host->clip_get_frame(((Mark*)self)->child, n, error, size);
}

static int MarkStart(void* self, char* error, size_t size) {
  FILE* f = fopen(((Mark*)self)->path, "ab");
  if (!f) {
    snprintf(error, size, "cannot write the mark");
    return -1;
  }
  fputs("started\n", f);
  fclose(f);
  return 0;
}

static void MarkDestroy(void* self) {
  host->clip_release(((Mark*)self)->child);
  free(self);
}

static const kvfs_clip_ops mark_ops = {MarkFrame, NULL, MarkStart, MarkDestroy};

static void TestMark(kvfs_call* call, void* user) {
  (void)user;
  Mark* m = (Mark*)calloc(1, sizeof *m);
  m->child = host->clip_retain(host->arg_clip(call, 0));
  snprintf(m->path, sizeof m->path, "%s", host->resolve_path(call, host->arg_string(call, 1, "")));
  kvfs_clip_info info;
  host->clip_info(m->child, &info);
  info.audio_rate = 0;
  info.channels = 0;
  info.sample_count = 0;
  host->return_clip(call, &info, &mark_ops, m);
}

static void TestSum(kvfs_call* call, void* user) {
  host->return_int(call, host->arg_int(call, 0, 0) + host->arg_int(call, 1, *(int*)user));
}

static void TestFail(kvfs_call* call, void* user) {
  (void)user;
  host->fail(call, host->arg_string(call, 0, "no reason"));
}

static void TestBadClip(kvfs_call* call, void* user) {
  (void)user;
  kvfs_clip_info info;
  memset(&info, 0, sizeof info);
  info.pixel_format = KVFS_PIXEL_I420;
  info.width = -5;
  info.height = 10;
  info.frame_count = 1;
  info.fps_numerator = 1;
  info.fps_denominator = 1;
  host->return_clip(call, &info, &source_ops, calloc(1, sizeof(Source)));
}

static void TestBadSignatureRefused(kvfs_call* call, void* user) {
  (void)user;
  host->return_bool(call, bad_signature_result != 0);
}

/* TestSharedSource(frames): like TestSource, but every frame is served in
 * one buffer of the plug-in's that the next frame overwrites, as a decoder
 * with one output buffer does. */
static uint8_t shared_buffer[16 * 16 * 3 / 2];
static kvfs_frame* shared_served;

static kvfs_frame* SharedFrame(void* self, int64_t n, char* error, size_t size) {
  Source* s = (Source*)self;
  if (shared_served) {
    host->frame_detach(shared_served);
    host->frame_release(shared_served);
    shared_served = NULL;
  }
  memset(shared_buffer, (int)(n & 255), sizeof shared_buffer);
  uint8_t* const data[3] = {shared_buffer, shared_buffer + 256, shared_buffer + 320};
  const int32_t pitch[3] = {16, 8, 8};
  kvfs_frame* f =
      host->frame_wrap(s->info.width, s->info.height, KVFS_PIXEL_I420, data, pitch, NULL, NULL);
  if (!f) {
    snprintf(error, size, "no memory");
    return NULL;
  }
  shared_served = host->frame_retain(f);
  return f;
}

static const kvfs_clip_ops shared_ops = {SharedFrame, SourceAudio, NULL, SourceDestroy};

static void TestSharedSource(kvfs_call* call, void* user) {
  (void)user;
  Source* s = (Source*)calloc(1, sizeof *s);
  s->info.width = 16;
  s->info.height = 16;
  s->info.pixel_format = KVFS_PIXEL_I420;
  s->info.fps_numerator = 25;
  s->info.fps_denominator = 1;
  s->info.frame_count = host->arg_int(call, 0, 1);
  host->return_clip(call, &s->info, &shared_ops, s);
}

/* TestAlternate(clip a, clip b): frame n is frame n of a when n is even,
 * of b when it is odd; as long as the shorter clip. */
typedef struct {
  kvfs_clip* a;
  kvfs_clip* b;
} Alternate;

static kvfs_frame* AlternateFrame(void* self, int64_t n, char* error, size_t size) {
  Alternate* t = (Alternate*)self;
  return host->clip_get_frame(n % 2 ? t->b : t->a, n, error, size);
}

static void AlternateDestroy(void* self) {
  Alternate* t = (Alternate*)self;
  host->clip_release(t->a);
  host->clip_release(t->b);
  free(t);
}

static const kvfs_clip_ops alternate_ops = {AlternateFrame, NULL, NULL, AlternateDestroy};

static void TestAlternate(kvfs_call* call, void* user) {
  (void)user;
  kvfs_clip_info a, b;
  host->clip_info(host->arg_clip(call, 0), &a);
  host->clip_info(host->arg_clip(call, 1), &b);
  if (a.width != b.width || a.height != b.height || a.pixel_format != b.pixel_format) {
    host->fail(call, "the clips differ in size or format");
    return;
  }
  Alternate* t = (Alternate*)calloc(1, sizeof *t);
  t->a = host->clip_retain(host->arg_clip(call, 0));
  t->b = host->clip_retain(host->arg_clip(call, 1));
  if (b.frame_count < a.frame_count) a.frame_count = b.frame_count;
  a.audio_rate = 0;
  a.channels = 0;
  a.sample_count = 0;
  host->return_clip(call, &a, &alternate_ops, t);
}

static int default_addend = 100;

KVFS_PLUGIN_EXPORT int kvfs_register_plugin(const kvfs_host* h, kvfs_registrar* r) {
  host = h;
  bad_signature_result = h->add_function(r, "TestBroken", "clip c, widget w", TestFail, NULL);
  return h->add_function(r, "TestSource", "int frames", TestSource, NULL) ||
         h->add_function(r, "TestSharedSource", "int frames", TestSharedSource, NULL) ||
         h->add_function(r, "TestAlternate", "clip a, clip b", TestAlternate, NULL) ||
         h->add_function(r, "TestInvert", "clip clip, [int offset]", TestInvert, NULL) ||
         h->add_function(r, "TestMark", "clip clip, string path", TestMark, NULL) ||
         h->add_function(r, "TestSum", "int a, [int b]", TestSum, &default_addend) ||
         h->add_function(r, "TestFail", "[string message]", TestFail, NULL) ||
         h->add_function(r, "TestBadClip", "", TestBadClip, NULL) ||
         h->add_function(r, "TestBadSignatureRefused", "", TestBadSignatureRefused, NULL);
}
