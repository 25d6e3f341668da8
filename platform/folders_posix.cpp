// The program folder from /proc/self/exe; the system folder under the
// user's XDG data folder.
#include "platform/folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
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

namespace {

// An XDG base folder without a trailing "/" ("" for the root): the variable's
// value when absolute (the rules ignore a relative one), else `fallback`
// under the home folder; nothing without either.
std::optional<std::string> XdgBaseFolder(const char* variable, const char* fallback) {
  std::string base;
  const char* xdg = std::getenv(variable);
  if (xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    std::string home_folder = (home && home[0] == '/') ? home : "";
    if (home_folder.empty()) {
      if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) home_folder = pw->pw_dir;
    }
    if (home_folder.empty()) return std::nullopt;
    base = home_folder + "/" + fallback;
  }
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return base == "/" ? "" : base;
}

// The folder, created when missing; empty when it cannot be had.
std::string MadeFolder(const std::string& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error || !std::filesystem::is_directory(folder, error)) return std::string();
  return folder;
}

}  // namespace

std::string SystemFolder() {
  const auto data = XdgBaseFolder("XDG_DATA_HOME", ".local/share");
  return data ? MadeFolder(*data + "/kestrevane/system") : std::string();
}

std::string CacheFolder() {
  const auto cache = XdgBaseFolder("XDG_CACHE_HOME", ".cache");
  return cache ? MadeFolder(*cache + "/kestrevane") : std::string();
}

}  // namespace platform
