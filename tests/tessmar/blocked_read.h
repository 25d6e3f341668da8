// Built into a test binary, this interposes pread(): once armed, the next
// read of a thread other than the one that armed it blocks until released.
// The reads of the other threads are counted.
#pragma once

#include <cstdint>

namespace kv_test::blocked_read {

// The next read of another thread after `pass` of them blocks; the count
// starts again.
void Arm(int pass = 0);
// Waits until a read is blocked; false after `seconds`.
bool WaitUntilBlocked(int seconds = 30);
// Lets the blocked read (and any later one) go on.
void Release();
// Waits until the blocked read has come back; false after `seconds`.
bool WaitUntilBack(int seconds = 30);
// Bytes read by the other threads since Arm.
int64_t BytesRead();

}  // namespace kv_test::blocked_read
