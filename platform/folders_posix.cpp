// The program folder from /proc/self/exe; the system folder under the
// user's XDG data folder.
#include "platform/folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace platform {

std::string ProgramFolder() {
  std::vector<char> buffer(4096);
  for (;;) {
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return std::string();
    if (static_cast<size_t>(length) < buffer.size()) {
      std::string exe(buffer.data(), static_cast<size_t>(length));
      const std::string::size_type slash = exe.rfind('/');
      if (slash == std::string::npos) return std::string();
      std::string folder = exe.substr(0, slash);
      while (!folder.empty() && folder.back() == '/') folder.pop_back();
      return folder + "/";
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::string SystemFolder() {
  std::string data;
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && xdg[0] == '/') {  // the XDG rules ignore a relative value
    data = xdg;
  } else {
    const char* home = std::getenv("HOME");
    std::string home_folder = (home && home[0] == '/') ? home : "";
    if (home_folder.empty()) {
      if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) home_folder = pw->pw_dir;
    }
    if (home_folder.empty()) return std::string();
    data = home_folder + "/.local/share";
  }
  while (data.size() > 1 && data.back() == '/') data.pop_back();
  const std::string folder = (data == "/" ? "" : data) + "/kestrevane/system";
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error || !std::filesystem::is_directory(folder, error)) return std::string();
  return folder;
}

}  // namespace platform
