// The encoder: encodes one encoder job file into RealMedia.
//
//   producer -j JOBFILE [-daw] [-lc LIST] [-pid FILE]
//
// It writes its process id into FILE, prints its banner and progress lines,
// and ends its run early when its signal catcher gets the stop message.
#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "outside/producer/console.h"
#include "outside/producer/encoder_run.h"
#include "outside/producer/signal_catcher.h"

extern "C" {
#include <libavutil/log.h>
}

namespace {

int Usage() {
  std::fputs("usage: producer -j JOBFILE [-daw] [-lc LIST] [-pid FILE]\n", stderr);
  return producer::kExitUsage;
}

bool WritePidFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool written = std::fprintf(file, "%d", static_cast<int>(::getpid())) > 0;
  return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  std::string job, pid_file;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-j" && i + 1 < argc) {
      job = argv[++i];
    } else if (arg == "-pid" && i + 1 < argc) {
      pid_file = argv[++i];
    } else if (arg == "-lc" && i + 1 < argc) {
      ++i;  // the console's line kinds: every kind is printed
    } else if (arg == "-daw") {
      // no dialogs are ever shown
    } else {
      return Usage();
    }
  }
  if (job.empty()) return Usage();
  av_log_set_level(AV_LOG_ERROR);
  // Each frame served is a large buffer taken and given back at once. Kept
  // in the process's heaps rather than mapped for each frame or handed back
  // to the system whenever a worker's heap has room at its top, they cost
  // no page faults, which took a tenth of the processor time; the heaps
  // stay at what the workers' frames need at most.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  // Nobody reading the console any more is no reason to leave a broken file.
  signal(SIGPIPE, SIG_IGN);

  // The process id is in place before the banner, which is when the
  // controller reads it.
  const bool pid_written = pid_file.empty() || WritePidFile(pid_file);
  std::atomic<bool> stop{false};
  producer::SignalCatcher catcher(stop);
  producer::Print(producer::BannerLine());
  if (!pid_written) {
    producer::Print(producer::ErrorLine("cannot write the process id into \"" + pid_file + "\""));
    return producer::kExitFailed;
  }
  if (!catcher.Listening())
    producer::Print(producer::InfoLine("the signal catcher could not be opened"));
  return producer::RunEncoderJob(job, stop);
}
