#include "outside/producer/signal_catcher.h"

#include <poll.h>
#include <unistd.h>

#include "queue/encoder_signal.h"

namespace producer {

SignalCatcher::SignalCatcher(std::atomic<bool>& stop) : stop_(stop) {
  fd_ = queue::OpenSignalCatcher(static_cast<int>(::getpid()));
  if (fd_ >= 0) thread_ = std::thread([this] { Serve(); });
}

SignalCatcher::~SignalCatcher() {
  quit_ = true;
  if (thread_.joinable()) thread_.join();
  if (fd_ >= 0) ::close(fd_);
}

void SignalCatcher::Serve() {
  while (!quit_) {
    pollfd ready{fd_, POLLIN, 0};
    // Woken now and then to see whether the run is over.
    if (::poll(&ready, 1, 100) <= 0 || !(ready.revents & POLLIN)) continue;
    int32_t first = 0, second = 0;
    if (!queue::ReceiveSignalCatcherMessage(fd_, first, second)) continue;
    if (first == queue::kStopFirstParameter && second == queue::kStopSecondParameter) stop_ = true;
  }
}

}  // namespace producer
