#pragma once

#include <memory>
#include <string>

#include "platform/registry_store.h"
#include "tests/support/temp_dir.h"

namespace kv_test {

// A registry store of the test's own in a temporary folder, installed as the
// store of this process (KESTREVANE_REGISTRY) for the object's lifetime.
class ScopedRegistry {
 public:
  ScopedRegistry();
  ~ScopedRegistry();

  const std::string& Path() const { return path_; }
  platform::RegistryStore& Store() { return *store_; }

 private:
  TempDir dir_;
  std::string path_;
  std::string previous_;
  bool had_previous_ = false;
  std::unique_ptr<platform::RegistryStore> store_;
};

}  // namespace kv_test
