#pragma once

#include <map>
#include <optional>
#include <string>

namespace app {

// The version information block of the program file: named strings looked up
// by full key ("StringFileInfo\040904E4\FileVersion").
class VersionInfo {
 public:
  VersionInfo() = default;
  explicit VersionInfo(std::map<std::string, std::string> strings) : strings_(std::move(strings)) {}

  // The block compiled into this program, or nullopt for a build without one.
  static std::optional<VersionInfo> OfProgram();

  std::optional<std::string> Query(const std::string& key) const;

 private:
  std::map<std::string, std::string> strings_;
};

inline constexpr const char* kVersionStringTable = "StringFileInfo\\040904E4\\";

}  // namespace app
