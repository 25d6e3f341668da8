#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace app {

// Turns the requests to end that come from outside the windows (SIGTERM,
// SIGHUP, the desktop session ending) into one signal on the user-interface
// thread. The signal handlers only write a byte into a pipe.
class OutsideCloseRequests : public QObject {
  Q_OBJECT
 public:
  // With `interrupt_too` an interrupt from the terminal (Ctrl-C) counts as
  // well, for the command-line front end.
  explicit OutsideCloseRequests(bool interrupt_too = false);
  ~OutsideCloseRequests() override;

 signals:
  void CloseRequested();

 private:
  void Drain();

  int pipe_[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> notifier_;
  bool interrupt_too_ = false;
};

}  // namespace app
