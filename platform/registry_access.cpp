// Registry access with a current key, on top of the registry store.
//
// Without an open key (after construction or CloseKey) the current key is the
// root itself: relative paths start at the root and values are those of the
// root key. A failed OpenKey leaves the current key as it was.
#include "platform/registry_access.h"

#include <utility>

namespace platform {
namespace {

// Appends the names of `key` to `out`, joined by single "\"; empty names
// (leading, trailing and doubled separators) are dropped.
void AppendNames(const std::string& key, std::string& out) {
  size_t i = 0;
  while (i < key.size()) {
    size_t end = key.find('\\', i);
    if (end == std::string::npos) end = key.size();
    if (end > i) {
      if (!out.empty()) out.push_back('\\');
      out.append(key, i, end - i);
    }
    i = end + 1;
  }
}

}  // namespace

RegistryAccess::RegistryAccess(RegistryStore& store, RegistryRoot root)
    : store_(store), root_(root) {}

std::string RegistryAccess::Resolve(const std::string& key) const {
  std::string path;
  if (key.empty() || key.front() != '\\') path = current_;
  AppendNames(key, path);
  return path;
}

bool RegistryAccess::OpenKey(const std::string& key, bool create) {
  std::string path = Resolve(key);
  bool ok = create ? store_.CreateKey(root_, path) : store_.KeyExists(root_, path);
  if (!ok) return false;
  current_ = std::move(path);
  open_ = true;
  return true;
}

void RegistryAccess::CloseKey() {
  current_.clear();
  open_ = false;
}

bool RegistryAccess::KeyExists(const std::string& key) {
  return store_.KeyExists(root_, Resolve(key));
}

bool RegistryAccess::DeleteKey(const std::string& key) {
  return store_.DeleteKey(root_, Resolve(key));
}

bool RegistryAccess::MoveKey(const std::string& from, const std::string& to) {
  return store_.MoveKey(root_, Resolve(from), Resolve(to));
}

std::optional<std::vector<std::string>> RegistryAccess::SubKeyNames() {
  return store_.SubKeyNames(root_, current_);
}

std::optional<std::vector<std::string>> RegistryAccess::ValueNames() {
  return store_.ValueNames(root_, current_);
}

bool RegistryAccess::ValueExists(const std::string& name) {
  return store_.ValueType(root_, current_, name) != RegistryValueType::None;
}

RegistryValueType RegistryAccess::ValueType(const std::string& name) {
  return store_.ValueType(root_, current_, name);
}

std::optional<std::string> RegistryAccess::ReadString(const std::string& name) {
  return store_.ReadString(root_, current_, name);
}

std::optional<uint32_t> RegistryAccess::ReadDWord(const std::string& name) {
  return store_.ReadDWord(root_, current_, name);
}

bool RegistryAccess::WriteString(const std::string& name, const std::string& data) {
  return store_.WriteString(root_, current_, name, data);
}

bool RegistryAccess::WriteDWord(const std::string& name, uint32_t data) {
  return store_.WriteDWord(root_, current_, name, data);
}

bool RegistryAccess::DeleteValue(const std::string& name) {
  return store_.DeleteValue(root_, current_, name);
}

}  // namespace platform
