#include "outside/frameserver/file_names.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

namespace kvfs {

bool IsFile(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string FindInFolder(const std::string& folder, const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) return std::string();
  const std::string base = folder.empty() ? std::string(".") : folder;
  const std::string prefix = folder.empty() ? std::string() : folder + "/";
  if (IsFile(prefix + name)) return prefix + name;
  DIR* dir = ::opendir(base.c_str());
  if (!dir) return std::string();
  std::string found;
  while (const dirent* entry = ::readdir(dir)) {
    if (strcasecmp(entry->d_name, name.c_str()) == 0 && IsFile(prefix + entry->d_name)) {
      found = prefix + entry->d_name;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace kvfs
