#include "tessmar/text_out.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace tessmar {

namespace {

constexpr size_t kFlushSize = 256 * 1024;

std::string VFormat(const char* format, va_list args) {
  char small[1024];
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::string big(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(big.data(), big.size(), format, args);
  big.resize(static_cast<size_t>(n));
  return big;
}

}  // namespace

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = VFormat(format, args);
  va_end(args);
  return text;
}

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
  for (size_t i = 0; i < size; ++i) {
    if (text[i] == '\n') buffer_.push_back('\r');
    buffer_.push_back(text[i]);
  }
  if (buffer_.size() >= kFlushSize) Flush();
}

void OutFile::Printf(const char* format, ...) {
  if (fd_ < 0) return;
  va_list args;
  va_start(args, format);
  std::string text = VFormat(format, args);
  va_end(args);
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
