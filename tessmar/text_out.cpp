#include "tessmar/text_out.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tessmar {

namespace {
constexpr size_t kFlushSize = 256 * 1024;
}  // namespace

OutFile::~OutFile() {
  Close();
}

bool OutFile::Create(const std::string& path, WriteGate* gate) {
  Close();
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  gate_ = gate;
  buffer_.clear();
  return fd_ >= 0;
}

void OutFile::AppendText(const char* text, size_t size) {
  const char* end = text + size;
  while (text < end) {
    const char* lf = static_cast<const char*>(std::memchr(text, '\n', end - text));
    const char* stop = lf ? lf : end;
    buffer_.append(text, stop);
    if (!lf) break;
    buffer_.append("\r\n");
    text = lf + 1;
  }
  if (buffer_.size() >= kFlushSize) Flush();
}

void OutFile::Text(std::string_view text) {
  if (fd_ < 0) return;
  AppendText(text.data(), text.size());
}

void OutFile::Write(const void* data, size_t size) {
  if (fd_ < 0) return;
  buffer_.append(static_cast<const char*>(data), size);
  if (buffer_.size() >= kFlushSize) Flush();
}

void OutFile::Flush() {
  if (fd_ < 0 || buffer_.empty()) return;
  std::unique_lock<std::mutex> lock;
  if (gate_) {
    lock = std::unique_lock<std::mutex>(gate_->Mutex());
    if (!gate_->Open()) {
      buffer_.clear();
      return;
    }
  }
  const char* p = buffer_.data();
  size_t left = buffer_.size();
  while (left > 0) {
    ssize_t n = ::write(fd_, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // a full disk loses the rest; the run goes on
    p += n;
    left -= static_cast<size_t>(n);
  }
  buffer_.clear();
}

void OutFile::Close() {
  if (fd_ < 0) return;
  Flush();
  ::close(fd_);
  fd_ = -1;
}

}  // namespace tessmar
