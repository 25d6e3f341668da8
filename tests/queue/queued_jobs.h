#pragma once

namespace kv_test {

// Removes every job from the queue of the store this process uses (the
// jobs' folders stay), so that a test leaves the queue as it found it.
void ForgetQueuedJobs();

}  // namespace kv_test
