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
  OutsideCloseRequests();
  ~OutsideCloseRequests() override;

 signals:
  void CloseRequested();

 private:
  void Drain();

  int pipe_[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace app
