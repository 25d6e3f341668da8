#include "tests/tessmar/blocked_read.h"

#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

std::mutex g_mutex;
// Never destroyed: a reading thread that was let go may still read while the
// process exits.
std::condition_variable& Cv() {
  static auto* cv = new std::condition_variable;
  return *cv;
}
bool g_armed = false;       // the next read of another thread blocks
int g_pass = 0;             // after this many go on
bool g_released = false;    // and goes on once this is set
std::thread::id g_arming;   // the arming thread's reads never block
std::thread::id g_blocked;  // the thread that blocked
bool g_blocked_now = false;
bool g_back = false;
int64_t g_bytes = 0;

}  // namespace

extern "C" ssize_t pread(int fd, void* buf, size_t count, off_t offset) {
  using Real = ssize_t (*)(int, void*, size_t, off_t);
  static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "pread"));
  const bool other = [] {
    std::unique_lock<std::mutex> lock(g_mutex);
    if (std::this_thread::get_id() == g_arming) return false;
    if (g_armed && g_pass > 0) {
      --g_pass;
    } else if (g_armed) {
      g_armed = false;
      g_blocked = std::this_thread::get_id();
      g_blocked_now = true;
      Cv().notify_all();
      Cv().wait(lock, [] { return g_released; });
      g_blocked_now = false;
    }
    return true;
  }();
  const ssize_t n = real(fd, buf, count, offset);
  if (other) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (n > 0) g_bytes += n;
    if (std::this_thread::get_id() == g_blocked && !g_back) {
      g_back = true;
      Cv().notify_all();
    }
  }
  return n;
}

namespace kv_test::blocked_read {

void Arm(int pass) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_arming = std::this_thread::get_id();
  g_armed = true;
  g_pass = pass;
  g_released = g_back = g_blocked_now = false;
  g_blocked = std::thread::id();
  g_bytes = 0;
}

bool WaitUntilBlocked(int seconds) {
  std::unique_lock<std::mutex> lock(g_mutex);
  return Cv().wait_for(lock, std::chrono::seconds(seconds), [] { return g_blocked_now; });
}

void Release() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_released = true;
  Cv().notify_all();
}

bool WaitUntilBack(int seconds) {
  std::unique_lock<std::mutex> lock(g_mutex);
  return Cv().wait_for(lock, std::chrono::seconds(seconds), [] { return g_back; });
}

int64_t BytesRead() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_bytes;
}

}  // namespace kv_test::blocked_read
