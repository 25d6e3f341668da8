#include "outside/producer/signal_catcher.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <vector>

#include "queue/encoder_signal.h"

namespace producer {
namespace {

// A client has this long to send its message once it has connected.
constexpr auto kMessageTime = std::chrono::seconds(2);
// Clients served at once; more wait in the listening queue.
constexpr size_t kMaxClients = 16;
constexpr int kMessageBytes = 8;

struct Client {
  int fd;
  std::chrono::steady_clock::time_point deadline;
  unsigned char bytes[kMessageBytes];
  int got = 0;
};

// Only a process of the user the encoder runs as may stop it.
bool SameUser(int fd) {
  ucred peer{};
  socklen_t length = sizeof peer;
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.uid == ::geteuid();
}

// The two parameters of a whole message.
void Decode(const unsigned char* bytes, int32_t* first, int32_t* second) {
  uint32_t a = 0, b = 0;
  for (int i = 0; i < 4; ++i) {
    a |= static_cast<uint32_t>(bytes[i]) << (8 * i);
    b |= static_cast<uint32_t>(bytes[4 + i]) << (8 * i);
  }
  *first = static_cast<int32_t>(a);
  *second = static_cast<int32_t>(b);
}

}  // namespace

SignalCatcher::SignalCatcher(std::atomic<bool>& stop) : stop_(stop) {
  fd_ = queue::OpenSignalCatcher(static_cast<int>(::getpid()));
  if (fd_ >= 0) thread_ = std::thread([this] { Serve(); });
}

SignalCatcher::~SignalCatcher() {
  quit_ = true;
  if (thread_.joinable()) thread_.join();
  if (fd_ >= 0) ::close(fd_);
}

// Every client is read as its bytes come, beside the others, and dropped
// when its time is up: no client can hold the catcher for another.
void SignalCatcher::Serve() {
  std::vector<Client> clients;
  while (!quit_) {
    std::vector<pollfd> ready;
    ready.push_back(pollfd{fd_, static_cast<short>(clients.size() < kMaxClients ? POLLIN : 0), 0});
    for (const Client& c : clients) ready.push_back(pollfd{c.fd, POLLIN, 0});
    // Woken now and then to see whether the run is over.
    if (::poll(ready.data(), ready.size(), 100) < 0 && errno != EINTR) break;
    const auto now = std::chrono::steady_clock::now();
    for (size_t i = clients.size(); i-- > 0;) {
      Client& c = clients[i];
      bool done = now > c.deadline;
      if (ready[i + 1].revents & (POLLIN | POLLHUP | POLLERR)) {
        const ssize_t n = ::recv(c.fd, c.bytes + c.got, kMessageBytes - c.got, MSG_DONTWAIT);
        if (n > 0) c.got += static_cast<int>(n);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) done = true;
        if (c.got == kMessageBytes) {
          int32_t first = 0, second = 0;
          Decode(c.bytes, &first, &second);
          if (first == queue::kStopFirstParameter && second == queue::kStopSecondParameter)
            stop_ = true;
          done = true;
        }
      }
      if (done) {
        ::close(c.fd);
        clients.erase(clients.begin() + static_cast<ptrdiff_t>(i));
      }
    }
    if (ready[0].revents & POLLIN) {
      const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (fd >= 0 && SameUser(fd)) {
        clients.push_back(Client{fd, now + kMessageTime, {}, 0});
      } else if (fd >= 0) {
        ::close(fd);
        ++refused_;
      }
    }
  }
  for (const Client& c : clients) ::close(c.fd);
}

}  // namespace producer
