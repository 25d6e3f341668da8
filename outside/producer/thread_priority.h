#pragma once

namespace producer {

// Gives the calling thread the nice value of the process's main thread.
// Nice values are per thread: the queue sets the encoder's on every thread
// it finds, and a thread started later takes its starter's, which may be
// changing just then; a thread that starts work calls this first.
void TakeProcessPriority();

}  // namespace producer
