#pragma once

#include <QObject>
#include <string>

class QLocalServer;

namespace platform {

// The companion of the single-instance lock: the running instance listens on
// a local socket beside its lock file, in the same private folder, and a
// second start asks it through that socket to bring its window forward.

// The socket that belongs to the lock file `lock_path`.
std::string ActivationSocketPath(const std::string& lock_path);

class ActivationListener : public QObject {
  Q_OBJECT
 public:
  // Listens beside `lock_path`, which this process holds, so a socket left
  // there by an instance that died is replaced.
  explicit ActivationListener(const std::string& lock_path, QObject* parent = nullptr);
  ~ActivationListener() override;

  bool Listening() const;

 signals:
  // A second start asked for the running window.
  void ActivationRequested();

 private:
  void Accept();

  QLocalServer* server_;
};

// Asks the instance that holds `lock_path` to come forward, and waits up to
// `timeout_ms` for its answer. False when nobody answered (an instance still
// in its splash answers later, when its message loop runs again).
bool RequestActivation(const std::string& lock_path, int timeout_ms = 2000);

}  // namespace platform
