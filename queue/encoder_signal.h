#pragma once

// The encoder's signal catcher: a listening Unix socket in the abstract
// namespace named "<pid> Helix Producer signal catcher". A message is one
// connection that writes the two parameters as 32-bit little-endian
// integers; parameters 1 and 0 ask the encoder to end its run. Header only,
// so that encoders built beside the program can share it without linking it.

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace queue {

inline constexpr char kSignalCatcherName[] = "Helix Producer signal catcher";
inline constexpr int32_t kStopFirstParameter = 1;
inline constexpr int32_t kStopSecondParameter = 0;

// "%d %s" of the process id and the catcher's name.
inline std::string SignalCatcherTitle(int pid) {
  char title[96];
  std::snprintf(title, sizeof title, "%d %s", pid, kSignalCatcherName);
  return title;
}

// The socket address of a title: a leading NUL, then the title without one.
inline socklen_t SignalCatcherAddress(const std::string& title, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  size_t length = std::min(title.size(), sizeof address.sun_path - 1);
  std::memcpy(address.sun_path + 1, title.data(), length);
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
}

// Posts a message to the catcher of process `pid`; false when no catcher of
// that name can be reached or the message cannot be written at once.
inline bool PostSignalCatcherMessage(int pid, int32_t first, int32_t second) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  sockaddr_un address;
  socklen_t length = SignalCatcherAddress(SignalCatcherTitle(pid), address);
  bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0;
  if (ok) {
    unsigned char bytes[8];
    for (int i = 0; i < 4; ++i) {
      bytes[i] = static_cast<unsigned char>(static_cast<uint32_t>(first) >> (8 * i));
      bytes[4 + i] = static_cast<unsigned char>(static_cast<uint32_t>(second) >> (8 * i));
    }
    ssize_t written;
    do {
      written = ::send(fd, bytes, sizeof bytes, MSG_NOSIGNAL);
    } while (written < 0 && errno == EINTR);
    ok = written == static_cast<ssize_t>(sizeof bytes);
  }
  ::close(fd);
  return ok;
}

// The encoder's side: a listening catcher for its own process id; -1 when it
// cannot be made.
inline int OpenSignalCatcher(int pid) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_un address;
  socklen_t length = SignalCatcherAddress(SignalCatcherTitle(pid), address);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
      ::listen(fd, 8) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Accepts one message on a listening catcher; false when the connection
// brought fewer than eight bytes.
inline bool ReceiveSignalCatcherMessage(int listening_fd, int32_t& first, int32_t& second) {
  int fd;
  do {
    fd = ::accept4(listening_fd, nullptr, nullptr, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  unsigned char bytes[8];
  size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t n = ::recv(fd, bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  if (got != sizeof bytes) return false;
  uint32_t a = 0, b = 0;
  for (int i = 0; i < 4; ++i) {
    a |= static_cast<uint32_t>(bytes[i]) << (8 * i);
    b |= static_cast<uint32_t>(bytes[4 + i]) << (8 * i);
  }
  first = static_cast<int32_t>(a);
  second = static_cast<int32_t>(b);
  return true;
}

}  // namespace queue
