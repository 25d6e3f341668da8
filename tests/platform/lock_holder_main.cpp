// Helper of single_instance_test: `kv_lock_holder <name>` takes the lock,
// writes "held", "busy" (another process holds it) or "none" (no folder can
// hold it) on standard output and, when it holds the lock, waits until it
// is killed.
#include <unistd.h>

#include <cstdio>

#include "platform/single_instance.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  using platform::SingleInstanceLock;
  const SingleInstanceLock::Attempt attempt = SingleInstanceLock::Acquire(argv[1]);
  const bool held = attempt.outcome == SingleInstanceLock::Outcome::Acquired;
  const bool busy = attempt.outcome == SingleInstanceLock::Outcome::HeldByAnother;
  std::fputs(held ? "held\n" : busy ? "busy\n" : "none\n", stdout);
  std::fflush(stdout);
  if (!held) return 1;
  for (;;) ::pause();
}
