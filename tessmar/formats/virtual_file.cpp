#include "tessmar/formats/virtual_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace tessmar::formats {

VirtualFile::~VirtualFile() {
  Close();
}

void VirtualFile::Close() {
  for (int fd : fds_)
    if (fd >= 0) ::close(fd);
  fds_.clear();
}

bool VirtualFile::Open(const VirtualFileMap& map) {
  Close();
  map_ = map;
  std::vector<int64_t> sizes;
  for (const std::string& path : map_.files) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      if (fd >= 0) ::close(fd);
      Close();
      return false;
    }
    fds_.push_back(fd);
    sizes.push_back(st.st_size);
  }
  for (const MapSegment& s : map_.segments) {
    if (s.offset > sizes[s.file] || s.length > sizes[s.file] - s.offset) {
      Close();
      return false;
    }
  }
  return true;
}

size_t VirtualFile::Read(int64_t position, uint8_t* buffer, size_t length) {
  if (position < 0 || position >= map_.total || fds_.empty()) return 0;
  // The last segment that starts at or before the position.
  auto it = std::upper_bound(map_.segments.begin(), map_.segments.end(), position,
                             [](int64_t p, const MapSegment& s) { return p < s.start; });
  size_t done = 0;
  for (--it; it != map_.segments.end() && done < length; ++it) {
    const int64_t inside = position + static_cast<int64_t>(done) - it->start;
    const size_t want = static_cast<size_t>(std::min<int64_t>(it->length - inside, length - done));
    size_t got = 0;
    while (got < want) {
      ssize_t n =
          ::pread(fds_[it->file], buffer + done + got, want - got, it->offset + inside + got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return done + got;  // the file shrank or cannot be read
      got += static_cast<size_t>(n);
    }
    done += got;
  }
  return done;
}

}  // namespace tessmar::formats
