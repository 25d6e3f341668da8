// A title (or one of its audio streams) as one stream of bytes: the
// segments of a virtual file map read from the files they name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tessmar/formats/virtual_file_map.h"

namespace tessmar::formats {

class VirtualFile {
 public:
  VirtualFile() = default;
  ~VirtualFile();
  VirtualFile(const VirtualFile&) = delete;
  VirtualFile& operator=(const VirtualFile&) = delete;

  // Opens every file of the map; false when one is not a readable regular
  // file or a segment reaches past its end (a VOB changed since the map).
  bool Open(const VirtualFileMap& map);
  int64_t Size() const { return map_.total; }
  // Up to `length` bytes from virtual position `position`; fewer at the end
  // or when a file cannot be read.
  size_t Read(int64_t position, uint8_t* buffer, size_t length);

 private:
  void Close();
  VirtualFileMap map_;
  std::vector<int> fds_;
};

}  // namespace tessmar::formats
