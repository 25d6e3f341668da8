// Helper of single_instance_test: `kv_lock_holder <name>` takes the lock,
// writes "held" or "busy" on standard output and, when it holds the lock,
// waits until it is killed.
#include <unistd.h>

#include <cstdio>

#include "platform/single_instance.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  auto lock = platform::SingleInstanceLock::TryAcquire(argv[1]);
  std::fputs(lock ? "held\n" : "busy\n", stdout);
  std::fflush(stdout);
  if (!lock) return 1;
  for (;;) ::pause();
}
