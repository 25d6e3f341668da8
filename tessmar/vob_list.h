// The VOB files of a title set as Tessmar takes them, for C++ callers: the
// paths in playing order and the null-ended array of pointers into them.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tessmar {

class VobList {
 public:
  VobList() { pointers_.push_back(nullptr); }
  explicit VobList(std::vector<std::string> paths) : paths_(std::move(paths)) {
    for (const std::string& path : paths_) pointers_.push_back(path.c_str());
    pointers_.push_back(nullptr);
  }
  // The pointers point into this object's own strings.
  VobList(const VobList&) = delete;
  VobList& operator=(const VobList&) = delete;

  const char* const* Files() const { return pointers_.data(); }
  const std::vector<std::string>& Paths() const { return paths_; }

 private:
  std::vector<std::string> paths_;
  std::vector<const char*> pointers_;
};

}  // namespace tessmar
