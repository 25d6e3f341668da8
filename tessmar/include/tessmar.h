/* The indexing library: indexes the MPEG-2 program stream of one DVD title
 * set on its own worker thread and cuts per-title index files out of the
 * result. Plain C interface; the status block layout is fixed (the program
 * stores it byte for byte in its analysis log). */
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One audio stream number 0-7 of a title set. */
typedef struct AudioStreamInfo {
  int32_t format;        /* 0 = not found, 1 = AC-3, 2 = DTS, 3 = MPEG audio, 4 = LPCM */
  int32_t delayMs;       /* start relative to the first displayed video frame */
  uint8_t channels;      /* LPCM only */
  uint8_t bitsPerSample; /* LPCM only */
  uint8_t reserved[2];
  int32_t sampleRate; /* LPCM only, Hz */
} AudioStreamInfo;

/* Allocated and kept by the caller for the life of a run; written by the
 * worker, read by the caller. Every field is accessed atomically. */
typedef struct TessmarStatus {
  uint32_t thread; /* identifier of the index worker */
  uint8_t running;
  uint8_t ended;
  uint8_t suspended;
  uint8_t reserved0;
  float percent;
  uint8_t finished;  /* 1 = reached the end of the data */
  uint8_t scrambled; /* 1 = a scrambled packet stopped the run */
  uint8_t reserved1[2];
  int32_t videoKind; /* 1 PAL video, 2 NTSC video, 3 film, 4 mixed */
  int32_t codedWidth;
  int32_t codedHeight;
  int32_t aspectCode;
  uint8_t mostlyProgressive;
  uint8_t reserved2[3];
  float majorityPercent;
  uint8_t topFieldFirst;
  uint8_t reserved3[3];
  float filmPercent;
  float frameRate;
  int32_t audioStreamCount;
  AudioStreamInfo audio[8];
  int32_t subpictureStreamCount;
  uint8_t subpicturePresent[32];
} TessmarStatus;

#ifdef __cplusplus
#define TESSMAR_STATIC_ASSERT(c, m) static_assert(c, m)
#else
#define TESSMAR_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif
TESSMAR_STATIC_ASSERT(sizeof(AudioStreamInfo) == 16, "AudioStreamInfo is 16 bytes");
TESSMAR_STATIC_ASSERT(offsetof(AudioStreamInfo, delayMs) == 4, "delayMs");
TESSMAR_STATIC_ASSERT(offsetof(AudioStreamInfo, channels) == 8, "channels");
TESSMAR_STATIC_ASSERT(offsetof(AudioStreamInfo, bitsPerSample) == 9, "bitsPerSample");
TESSMAR_STATIC_ASSERT(offsetof(AudioStreamInfo, sampleRate) == 12, "sampleRate");
TESSMAR_STATIC_ASSERT(sizeof(TessmarStatus) == 220, "TessmarStatus is 220 bytes");
TESSMAR_STATIC_ASSERT(offsetof(TessmarStatus, thread) == 0, "thread");
TESSMAR_STATIC_ASSERT(offsetof(TessmarStatus, running) == 4, "running");
TESSMAR_STATIC_ASSERT(offsetof(TessmarStatus, ended) == 5, "ended");
TESSMAR_STATIC_ASSERT(offsetof(TessmarStatus, suspended) == 6, "suspended");
TESSMAR_STATIC_ASSERT(offsetof(TessmarStatus, percent) == 8, "percent");
TESSMAR_STATIC_ASSERT(offsetof(TessmarStatus, finished) == 12, "finished");
TESSMAR_STATIC_ASSERT(offsetof(TessmarStatus, scrambled) == 13, "scrambled");
TESSMAR_STATIC_ASSERT(offsetof(TessmarStatus, videoKind) == 16, "videoKind");
TESSMAR_STATIC_ASSERT(offsetof(TessmarStatus, codedWidth) == 20, "codedWidth");
TESSMAR_STATIC_ASSERT(offsetof(TessmarStatus, codedHeight) == 24, "codedHeight");
TESSMAR_STATIC_ASSERT(offsetof(TessmarStatus, aspectCode) == 28, "aspectCode");
TESSMAR_STATIC_ASSERT(offsetof(TessmarStatus, mostlyProgressive) == 32, "mostlyProgressive");
TESSMAR_STATIC_ASSERT(offsetof(TessmarStatus, majorityPercent) == 36, "majorityPercent");
TESSMAR_STATIC_ASSERT(offsetof(TessmarStatus, topFieldFirst) == 40, "topFieldFirst");
TESSMAR_STATIC_ASSERT(offsetof(TessmarStatus, filmPercent) == 44, "filmPercent");
TESSMAR_STATIC_ASSERT(offsetof(TessmarStatus, frameRate) == 48, "frameRate");
TESSMAR_STATIC_ASSERT(offsetof(TessmarStatus, audioStreamCount) == 52, "audioStreamCount");
TESSMAR_STATIC_ASSERT(offsetof(TessmarStatus, audio) == 56, "audio");
TESSMAR_STATIC_ASSERT(offsetof(TessmarStatus, subpictureStreamCount) == 184,
                      "subpictureStreamCount");
TESSMAR_STATIC_ASSERT(offsetof(TessmarStatus, subpicturePresent) == 188, "subpicturePresent");
#undef TESSMAR_STATIC_ASSERT

#if defined(__GNUC__)
#define TESSMAR_EXPORT __attribute__((visibility("default")))
#else
#define TESSMAR_EXPORT
#endif

/* Starts an index run over the VOB files `files` on the worker thread: their
 * paths in playing order, the array ended by a null pointer (no separator
 * within a string, so a path may hold any character a file name can).
 * 0 = started, 1 = no files or a file cannot be opened, 2 = an output cannot
 * be created, 3 = a run is active. */
TESSMAR_EXPORT int32_t Tessmar(const char* const* files, const char* outBase, int32_t wantAudio,
                               int32_t wantSubpictures, TessmarStatus* status);
/* 0 = done, 1 = null block, 2 = wrong suspension state, 3 = refused. */
TESSMAR_EXPORT int32_t TessmarSuspend(TessmarStatus* status);
TESSMAR_EXPORT int32_t TessmarResume(TessmarStatus* status);
/* 0 = the worker has stopped (by itself, or it was abandoned after 1000 ms),
 * 1 = null block, 2 = resuming a suspended worker failed, 3 = no worker to
 * abandon. */
TESSMAR_EXPORT int32_t TessmarStop(TessmarStatus* status);
/* Cuts the files of one program chain and angle out of the title set's
 * indexes; 1 = success, 0 = failure. Runs on the caller's thread. */
TESSMAR_EXPORT uint8_t qmRebuild(const char* vtsBase, const char* ifoPath, const char* titleBase,
                                 int32_t wantVideo, int32_t wantAudio, int32_t wantSubpictures,
                                 int32_t pgc, int32_t angle);

#ifdef __cplusplus
}
#endif
