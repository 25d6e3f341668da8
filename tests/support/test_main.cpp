// Entry point of every test binary. Before any test runs, the process gets
// its own data, runtime and registry locations in a temporary folder, so no
// test ever touches the user's registry store, system folder or lock files,
// and no D-Bus of the machine.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "tests/support/temp_dir.h"

#ifdef KV_WIDGET_TESTS
#include <QApplication>
#include <QString>

#include "platform/window_dialogs.h"

namespace {

// The offscreen platform warns about every window feature it lacks (opacity
// steps of a fade, raising); those lines only drown the test output.
QtMessageHandler previous_handler = nullptr;

void QuietMessageHandler(QtMsgType type, const QMessageLogContext& context,
                         const QString& message) {
  if (message.startsWith(QLatin1String("This plugin does not support"))) return;
  if (previous_handler) previous_handler(type, context, message);
}

}  // namespace
#endif

int main(int argc, char** argv) {
  static kv_test::TempDir private_home("kv-test-home");
  const std::string home = private_home.Path();
  setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", (home + "/runtime").c_str(), 1);
  setenv("XDG_CACHE_HOME", (home + "/cache").c_str(), 1);
  setenv("KESTREVANE_REGISTRY", (home + "/registry.db").c_str(), 1);
  // Nor the machine's or the desktop's D-Bus services (sleep locks,
  // notifications): a test that needs a bus starts one of its own.
  const std::string no_bus = "unix:path=" + home + "/no-bus";
  setenv("DBUS_SYSTEM_BUS_ADDRESS", no_bus.c_str(), 1);
  setenv("DBUS_SESSION_BUS_ADDRESS", no_bus.c_str(), 1);
  kv_test::MakeFolders(home + "/data");
  kv_test::MakeFolders(home + "/runtime");
  // A runtime folder must be private, or Qt warns about it in every test.
  chmod((home + "/runtime").c_str(), 0700);

  ::testing::InitGoogleTest(&argc, argv);
#ifdef KV_WIDGET_TESTS
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  previous_handler = qInstallMessageHandler(QuietMessageHandler);
  QApplication app(argc, argv);
  platform::UseWindowDialogs();
  return RUN_ALL_TESTS();
#else
  return RUN_ALL_TESTS();
#endif
}
