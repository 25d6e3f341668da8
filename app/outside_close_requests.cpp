#include "app/outside_close_requests.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QGuiApplication>
#include <atomic>

namespace app {

namespace {

std::atomic<int> signal_pipe_write_end{-1};

void OnSignal(int) {
  const int fd = signal_pipe_write_end.load();
  if (fd >= 0) {
    const char byte = 1;
    // Nothing can be done about a full pipe: one byte in it is enough.
    [[maybe_unused]] ssize_t ignored = write(fd, &byte, 1);
  }
}

void Handle(int signal_number, void (*handler)(int)) {
  struct sigaction action = {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(signal_number, &action, nullptr);
}

}  // namespace

OutsideCloseRequests::OutsideCloseRequests(bool interrupt_too) : interrupt_too_(interrupt_too) {
  if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) return;
  signal_pipe_write_end.store(pipe_[1]);
  notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, &OutsideCloseRequests::Drain);
  Handle(SIGTERM, OnSignal);
  Handle(SIGHUP, OnSignal);
  if (interrupt_too_) Handle(SIGINT, OnSignal);
  if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
    connect(gui, &QGuiApplication::commitDataRequest, this, &OutsideCloseRequests::CloseRequested);
  }
}

OutsideCloseRequests::~OutsideCloseRequests() {
  if (pipe_[0] < 0) return;
  Handle(SIGTERM, SIG_DFL);
  Handle(SIGHUP, SIG_DFL);
  if (interrupt_too_) Handle(SIGINT, SIG_DFL);
  signal_pipe_write_end.store(-1);
  notifier_.reset();
  close(pipe_[0]);
  close(pipe_[1]);
}

void OutsideCloseRequests::Drain() {
  char bytes[64];
  bool any = false;
  while (read(pipe_[0], bytes, sizeof bytes) > 0) any = true;
  if (any) emit CloseRequested();
}

}  // namespace app
