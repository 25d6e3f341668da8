#pragma once

#include <string>
#include <vector>

namespace kv_test {

// The disk under a test's jobs. Where the test may mount one (see
// MountOrRerun), a small file system of its own (tmpfs) that is filled for
// real; elsewhere a plain folder whose writes the fault shim refuses with
// ENOSPC. Unmounted and removed when the object goes.
class SmallDisk {
 public:
  SmallDisk();
  ~SmallDisk();
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool Mounted() const { return mounted_; }
  const std::string& Path() const { return path_; }
  // The environment of a program that finds the disk full from `step` of
  // its work on (a fault shim step, as "mkstemp:/.kvnj/..kvnj.XXXXXX"): the
  // disk is filled there, or its writes are refused from there on.
  std::vector<std::string> FullAt(const std::string& step) const;
  // Whatever filled the disk goes.
  void FreeSpace();

 private:
  std::string path_;
  bool mounted_ = false;
};

// True when this process may go on to use a SmallDisk: it runs in a mount
// namespace of its own, or none can be made and the disk is emulated.
// Otherwise the current test is run again in a mount namespace of its own
// (unshare; a user namespace too when not root), so that no mount is ever
// seen outside it or outlives it, and its result is checked here: the
// caller returns at once.
bool MountOrRerun();

}  // namespace kv_test
