// The exported entry points of the index run. Library state is one active
// run at a time; everything a run touches lives in its IndexRun object.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tessmar/include/tessmar.h"
#include "tessmar/index_run.h"

namespace {

using tessmar::IndexRun;
using tessmar::InputFile;

// Library state lives for the whole process and is never destroyed: a
// detached worker may still be finishing while the process exits.
std::mutex& g_mutex = *new std::mutex;
bool g_busy = false;  // a probe or an index run is active
std::shared_ptr<IndexRun>& g_active = *new std::shared_ptr<IndexRun>;  // reached by the controls
std::string& g_out_base = *new std::string;  // kept for calls without an output base
std::atomic<uint32_t> g_next_id{0};

template <typename T>
void Store(T& field, T value) {
  std::atomic_ref<T>(field).store(value, std::memory_order_release);
}

template <typename T>
T Load(T& field) {
  return std::atomic_ref<T>(field).load(std::memory_order_acquire);
}

void CloseInputs(std::vector<InputFile>& inputs) {
  for (size_t i = inputs.size(); i-- > 0;)
    if (inputs[i].fd >= 0) ::close(inputs[i].fd);
  inputs.clear();
}

// The run that `status` belongs to, if it is the active one.
std::shared_ptr<IndexRun> RunOf(TessmarStatus* status) {
  if (g_active && g_active->id == Load(status->thread)) return g_active;
  return nullptr;
}

void Worker(std::shared_ptr<IndexRun> run) {
  run->IndexAll();
  std::lock_guard<std::mutex> lock(g_mutex);
  if (run->Abandoned()) return;  // the library moved on without this worker
  TessmarStatus* status = run->FinalStatus();
  if (g_active == run) {
    g_active.reset();
    g_busy = false;
  }
  // The run is gone before its end is told (unless a control call still
  // holds it, which lets it go before it returns): a caller that sees the
  // run over finds nothing of it left but this thread's return. No stop can
  // abandon the run meanwhile, since that takes the mutex held here.
  run.reset();
  // Last: a caller that sees the run over may release the block at once.
  if (status) Store(status->running, uint8_t{0});
}

}  // namespace

extern "C" {

int32_t Tessmar(const char* const* files, const char* outBase, int32_t wantAudio,
                int32_t wantSubpictures, TessmarStatus* status) {
  std::unique_lock<std::mutex> lock(g_mutex);
  if (g_busy) return 3;
  if (status) {
    Store(status->running, uint8_t{0});
    Store(status->ended, uint8_t{0});
    Store(status->finished, uint8_t{0});
    Store(status->scrambled, uint8_t{0});
    Store(status->percent, 0.0f);
  }
  if (!files || !files[0] || !*files[0]) return 1;

  std::vector<InputFile> inputs;
  for (const char* const* file = files; *file; ++file) {
    std::string name = *file;
    // Relative names are taken from the current folder and recorded whole,
    // as given otherwise: the index files must name the files the run read.
    if (name.empty() || name[0] != '/') {
      char cwd[PATH_MAX];
      if (!::getcwd(cwd, sizeof cwd)) {
        CloseInputs(inputs);
        return 1;
      }
      name = std::string(cwd) + "/" + name;
    }
    // More files than a title set holds are refused.
    if (inputs.size() >= static_cast<size_t>(tessmar::kMaxInputFiles)) {
      CloseInputs(inputs);
      return 1;
    }
    InputFile in;
    in.fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (in.fd < 0 || ::fstat(in.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      if (in.fd >= 0) ::close(in.fd);
      CloseInputs(inputs);
      return 1;
    }
    ::posix_fadvise(in.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    in.path = name;
    in.size = st.st_size;
    inputs.push_back(std::move(in));
  }

  if (outBase && *outBase) g_out_base = outBase;
  if (g_out_base.empty()) {
    CloseInputs(inputs);
    return 2;
  }
  std::string out_base = g_out_base;
  if (out_base[0] != '/') {
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd)) out_base = std::string(cwd) + "/" + out_base;
  }

  auto run =
      std::make_shared<IndexRun>(std::move(inputs), out_base, wantAudio != 0, wantSubpictures != 0);
  run->id = ++g_next_id;
  if (run->id == 0) run->id = ++g_next_id;
  // The run is the active one from its probe on, so that TessmarStop reaches
  // the probe too (it may read a whole title set without a sequence header).
  g_busy = true;
  g_active = run;
  const uint32_t previous_thread = status ? Load(status->thread) : 0;
  if (status) Store(status->thread, run->id);
  lock.unlock();
  run->Probe();  // synchronous, without the status block
  lock.lock();
  if (!run->OpenOutputs(status)) {
    g_active.reset();
    g_busy = false;
    if (status) Store(status->thread, previous_thread);
    return 2;
  }
  if (status) {
    Store(status->suspended, uint8_t{0});
    // Set before the thread starts, so that a caller polling `running` right
    // after this call never sees a run that has not begun as one that ended.
    Store(status->running, uint8_t{1});
  }
  std::thread(Worker, run).detach();
  return 0;
}

int32_t TessmarSuspend(TessmarStatus* status) {
  if (!status) return 1;
  if (Load(status->suspended)) return 2;
  std::shared_ptr<IndexRun> run;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    run = RunOf(status);
  }
  if (!run || !run->Park(1000)) return 3;
  Store(status->suspended, uint8_t{1});
  return 0;
}

int32_t TessmarResume(TessmarStatus* status) {
  if (!status) return 1;
  if (!Load(status->suspended)) return 2;
  std::shared_ptr<IndexRun> run;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    run = RunOf(status);
  }
  if (!run) return 3;
  run->Unpark();
  Store(status->suspended, uint8_t{0});
  return 0;
}

int32_t TessmarStop(TessmarStatus* status) {
  if (!status) return 1;
  if (Load(status->suspended) && TessmarResume(status) != 0) return 2;
  std::shared_ptr<IndexRun> run;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    run = RunOf(status);
  }
  if (run) run->RequestStop();
  int waited = 0;
  for (;;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    waited += 50;
    if (waited >= 1000) break;
    if (!Load(status->running)) return 0;
  }
  // The worker did not end in time: it is abandoned, never killed. It may
  // finish the read it is in, but writes nothing more, and the library is
  // free for the next run at once.
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!Load(status->running)) return 0;
  run = RunOf(status);
  if (!run) return 3;
  run->Abandon();
  g_active.reset();
  g_busy = false;
  Store(status->ended, uint8_t{1});
  Store(status->finished, uint8_t{0});
  Store(status->running, uint8_t{0});
  return 0;
}

}  // extern "C"
