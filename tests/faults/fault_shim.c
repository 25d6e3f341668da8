/* Preloaded into a program under test (and so into the programs it starts):
 * at one step of its own work, named by KV_FAULT_AT as "<call>:<path end>",
 *   fopen:<end>     as a file named so is about to be opened by stdio,
 *   mkstemp:<end>   as a temporary file named so is about to be created,
 *   rename:<end>    right after a file was renamed onto such a path,
 *   unlink:<end>    right after such a file was deleted,
 *   write:<end>:<n> once n bytes in all were written into files so named,
 * the process meets the fault KV_FAULT names:
 *   kill            it kills itself (SIGKILL);
 *   fill:<path>     the file <path> grows until its file system is full, and
 *                   the step goes on, onto a full disk;
 *   enospc:<folder> from then on its writes into files under <folder> fail
 *                   with ENOSPC, as on a full disk, where no small file
 *                   system can be mounted to fill.
 * The moment is the program's own progress, so the fault comes at the same
 * point of every run. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/statvfs.h>
#include <unistd.h>

static void* Next(const char* name) {
  return dlsym(RTLD_NEXT, name);
}

/* The path end named for `call`, or NULL when the fault is at another call. */
static const char* WantedEnd(const char* call) {
  const char* wanted = getenv("KV_FAULT_AT");
  const size_t n = strlen(call);
  if (!wanted || strncmp(wanted, call, n) != 0 || wanted[n] != ':') return NULL;
  return wanted + n + 1;
}

static int EndsWith(const char* path, const char* end, size_t end_length) {
  const size_t path_length = strlen(path);
  return path_length >= end_length && memcmp(path + path_length - end_length, end, end_length) == 0;
}

static int Matches(const char* call, const char* path) {
  const char* end = WantedEnd(call);
  return end && path && EndsWith(path, end, strlen(end));
}

/* A file system the tests made for filling: never a real disk. */
enum { kMostFilledBytes = 256 << 20 };

/* Writes the filler until the file system refuses more. */
static void FillDisk(const char* path) {
  ssize_t (*write_next)(int, const void*, size_t) =
      (ssize_t(*)(int, const void*, size_t))Next("write");
  const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  struct statvfs info;
  if (fstatvfs(fd, &info) != 0 ||
      (unsigned long long)info.f_blocks * info.f_frsize > kMostFilledBytes) {
    close(fd);
    return;
  }
  static char block[1 << 16];
  memset(block, 'x', sizeof block);
  size_t size = sizeof block;
  while (size > 0) {
    if (write_next(fd, block, size) < 0) {
      if (errno != EINTR) size /= 2; /* the last pages, in smaller steps */
    }
  }
  close(fd);
}

/* The folder whose files are full, once an "enospc" fault has come. */
static const char* full_folder = NULL;

static void Fault(void) {
  const char* fault = getenv("KV_FAULT");
  if (fault && strncmp(fault, "fill:", 5) == 0) {
    FillDisk(fault + 5);
    return;
  }
  if (fault && strncmp(fault, "enospc:", 7) == 0) {
    full_folder = fault + 7;
    return;
  }
  kill(getpid(), SIGKILL);
}

/* The path of an open file; empty when it cannot be told. */
static void PathOf(int fd, char* path, size_t size) {
  char link[64];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, path, size - 1);
  path[n > 0 ? n : 0] = '\0';
}

/* A write into the full folder, after an "enospc" fault. */
static int RefusedAsFull(int fd) {
  if (!full_folder || fd < 0) return 0;
  char path[4096];
  PathOf(fd, path, sizeof path);
  const size_t n = strlen(full_folder);
  return strncmp(path, full_folder, n) == 0 && (path[n] == '/' || path[n] == '\0');
}

static void CountWritten(int fd, long long bytes);

/* Written through stdio, a file's bytes count when they are handed over:
 * what its buffer holds at a kill is lost, as it would be. */
size_t fwrite(const void* data, size_t size, size_t count, FILE* file) {
  size_t (*next)(const void*, size_t, size_t, FILE*) =
      (size_t(*)(const void*, size_t, size_t, FILE*))Next("fwrite");
  if (RefusedAsFull(fileno(file))) {
    errno = ENOSPC;
    return 0;
  }
  const size_t result = next(data, size, count, file);
  CountWritten(fileno(file), (long long)(result * size));
  return result;
}

FILE* fopen(const char* path, const char* mode) {
  if (Matches("fopen", path)) Fault();
  FILE* (*next)(const char*, const char*) = (FILE * (*)(const char*, const char*)) Next("fopen");
  return next(path, mode);
}

FILE* fopen64(const char* path, const char* mode) {
  if (Matches("fopen", path)) Fault();
  FILE* (*next)(const char*, const char*) = (FILE * (*)(const char*, const char*)) Next("fopen64");
  return next(path, mode);
}

int mkstemp(char* name) {
  if (Matches("mkstemp", name)) Fault();
  int (*next)(char*) = (int (*)(char*))Next("mkstemp");
  return next(name);
}

int mkstemp64(char* name) {
  if (Matches("mkstemp", name)) Fault();
  int (*next)(char*) = (int (*)(char*))Next("mkstemp64");
  return next(name);
}

int rename(const char* from, const char* to) {
  int (*next)(const char*, const char*) = (int (*)(const char*, const char*))Next("rename");
  const int result = next(from, to);
  if (result == 0 && Matches("rename", to)) Fault();
  return result;
}

int unlink(const char* path) {
  int (*next)(const char*) = (int (*)(const char*))Next("unlink");
  const int result = next(path);
  if (result == 0 && Matches("unlink", path)) Fault();
  return result;
}

/* Counts bytes written into files named as a "write:" step says, and meets
 * the fault once the count is reached. */
static void CountWritten(int fd, long long bytes) {
  static long long written = 0;
  static int met = 0;
  const char* end = WantedEnd("write");
  const char* count = end ? strrchr(end, ':') : NULL;
  if (bytes <= 0 || !count || met) return;
  char path[4096];
  PathOf(fd, path, sizeof path);
  if (!EndsWith(path, end, (size_t)(count - end))) return;
  written += bytes;
  if (written >= atoll(count + 1)) {
    met = 1;
    Fault();
  }
}

ssize_t write(int fd, const void* data, size_t size) {
  ssize_t (*next)(int, const void*, size_t) = (ssize_t(*)(int, const void*, size_t))Next("write");
  if (RefusedAsFull(fd)) {
    errno = ENOSPC;
    return -1;
  }
  const ssize_t result = next(fd, data, size);
  CountWritten(fd, result);
  return result;
}
