// The shell's "open": documents through the desktop's opener, programs
// started directly, detached in a session of their own.
#include "platform/shell.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QString>
#include <QUrl>
#include <cerrno>
#include <thread>

extern char** environ;

namespace platform {
namespace {

// Starts `program` (a path, or a name looked up in PATH) in `working_folder`
// (empty: the current one) and returns its pid, or -1.
pid_t Spawn(const std::string& program, const std::vector<std::string>& arguments,
            const std::string& working_folder) {
  std::vector<std::string> argv_strings;
  argv_strings.push_back(program);
  argv_strings.insert(argv_strings.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& a : argv_strings) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  if (!working_folder.empty())
    posix_spawn_file_actions_addchdir_np(&actions, working_folder.c_str());
  // A session of its own, so it outlives us and our terminal; signals as
  // a freshly started program expects them.
  sigset_t no_signals, default_signals;
  sigemptyset(&no_signals);
  sigemptyset(&default_signals);
  sigaddset(&default_signals, SIGPIPE);
  sigaddset(&default_signals, SIGCHLD);
  sigaddset(&default_signals, SIGINT);
  sigaddset(&default_signals, SIGTERM);
  posix_spawnattr_setsigmask(&attributes, &no_signals);
  posix_spawnattr_setsigdefault(&attributes, &default_signals);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  pid_t pid = -1;
  const bool search = program.find('/') == std::string::npos;
  const int error =
      search ? posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv.data(), environ)
             : posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return error == 0 ? pid : -1;
}

// Nobody waits for a started program, so a thread of its own reaps it and no
// zombie is left behind.
void ReapLater(pid_t pid) {
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

class RealShell : public Shell {
 public:
  bool OpenDocument(const std::string& path) override {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
      return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
    }
    return StartProgram("xdg-open", {path}, std::string());  // no GUI application object
  }

  bool StartProgram(const std::string& program, const std::vector<std::string>& arguments,
                    const std::string& working_folder) override {
    const pid_t pid = Spawn(program, arguments, working_folder);
    if (pid < 0) return false;
    ReapLater(pid);
    return true;
  }
};

}  // namespace

Seam<Shell>& ShellSeam() {
  static RealShell real;
  static Seam<Shell> seam(real);
  return seam;
}

}  // namespace platform
