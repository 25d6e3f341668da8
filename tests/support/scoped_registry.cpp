#include "tests/support/scoped_registry.h"

#include <cstdlib>
#include <stdexcept>

namespace kv_test {

ScopedRegistry::ScopedRegistry() : dir_("kv-registry"), path_(dir_.File("registry.db")) {
  if (const char* old = std::getenv("KESTREVANE_REGISTRY")) {
    previous_ = old;
    had_previous_ = true;
  }
  setenv("KESTREVANE_REGISTRY", path_.c_str(), 1);
  std::string error;
  store_ = platform::RegistryStore::Open(path_, &error);
  if (!store_) throw std::runtime_error("cannot open test registry: " + error);
}

ScopedRegistry::~ScopedRegistry() {
  store_.reset();
  if (had_previous_)
    setenv("KESTREVANE_REGISTRY", previous_.c_str(), 1);
  else
    unsetenv("KESTREVANE_REGISTRY");
}

}  // namespace kv_test
