#include "outside/producer/thread_priority.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>

namespace producer {

void TakeProcessPriority() {
  errno = 0;
  // The main thread's id is the process id.
  const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::getpid()));
  if (errno != 0) return;
  // 0 is the calling thread. A raise the process may not make is refused
  // and leaves the value as it was.
  ::setpriority(PRIO_PROCESS, 0, nice);
}

}  // namespace producer
