#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry_store.h"

namespace platform {

// A registry access object bound to one root with a current key, as the
// program's registry code is written: open a key (optionally creating it),
// then read and write values of that key. Relative paths are taken below the
// current key; a path starting with "\" is taken from the root. The store is
// borrowed and must outlive the object.
class RegistryAccess {
 public:
  RegistryAccess(RegistryStore& store, RegistryRoot root);

  RegistryRoot Root() const { return root_; }
  RegistryStore& Store() { return store_; }

  // Makes `key` the current key; with `create` missing keys are created.
  bool OpenKey(const std::string& key, bool create);
  void CloseKey();
  // The current key's full path ("" for the root itself).
  const std::string& CurrentPath() const { return current_; }
  bool HasCurrentKey() const { return open_; }

  bool KeyExists(const std::string& key);
  bool DeleteKey(const std::string& key);
  bool MoveKey(const std::string& from, const std::string& to);
  std::optional<std::vector<std::string>> SubKeyNames();
  std::optional<std::vector<std::string>> ValueNames();

  bool ValueExists(const std::string& name);
  RegistryValueType ValueType(const std::string& name);
  std::optional<std::string> ReadString(const std::string& name);
  std::optional<uint32_t> ReadDWord(const std::string& name);
  bool WriteString(const std::string& name, const std::string& data);
  bool WriteDWord(const std::string& name, uint32_t data);
  bool DeleteValue(const std::string& name);

  // The full path of `key` as seen from the current key.
  std::string Resolve(const std::string& key) const;

 private:
  RegistryStore& store_;
  RegistryRoot root_;
  std::string current_;
  bool open_ = false;
};

}  // namespace platform
