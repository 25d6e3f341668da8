#include "queue/folder_tree.h"

#include <sys/stat.h>

#include "platform/file_system.h"

namespace queue {

namespace {

bool IsLink(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool ClearReadOnly(const std::string& path) {
  const auto attributes = platform::GetFileAttributes(path);
  if (!attributes) return false;
  return !attributes->read_only || platform::ClearFileAttributes(path);
}

}  // namespace

bool RemoveFolderTree(const std::string& folder) {
  bool ok = true;
  for (const std::string& name : platform::FindFiles(folder, "*.*", platform::SearchKind::Files)) {
    const std::string path = platform::JoinPath(folder, name);
    if (!IsLink(path) && !ClearReadOnly(path)) {
      ok = false;
      continue;
    }
    if (!platform::DeleteFile(path)) ok = false;
  }
  for (const std::string& name :
       platform::FindFiles(folder, "*.*", platform::SearchKind::Directories)) {
    const std::string path = platform::JoinPath(folder, name);
    if (IsLink(path)) {
      if (!platform::DeleteFile(path)) ok = false;
      continue;
    }
    if (!ClearReadOnly(path) || !RemoveFolderTree(path)) ok = false;
  }
  if (ok) platform::RemoveDirectory(folder);
  return ok;
}

}  // namespace queue
