// The start-up checks and the whole start of the program in this process:
// the guard, the splash, the checks, the queue window, the close routing and
// the exit clean-up, against real folders and a real registry store.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QTimer>
#include <functional>

#include "app/application.h"
#include "app/shell_state.h"
#include "app/splash_form.h"
#include "app/startup_checks.h"
#include "platform/file_system.h"
#include "platform/registry_store.h"
#include "platform/single_instance.h"
#include "queue/job_store.h"
#include "tests/app/shell_fixture.h"
#include "tests/support/recorders.h"

namespace {

using platform::MessageIcon;
using platform::RegistryRoot;

constexpr const char* kFrameserverKey = "SOFTWARE\\AviSynth";

class StartupChecksTest : public ::testing::Test {
 protected:
  ~StartupChecksTest() override { app::ResetShell(); }

  kv_test::ProgramFolders folders_;
  kv_test::MessageBoxRecorder boxes_;
};

TEST_F(StartupChecksTest, SetTheShellValuesRepairTheListAndInstallTheFrameserver) {
  ASSERT_TRUE(app::RunStartupChecks(folders_.Environment(), app::Shell()));
  const app::ShellState& shell = app::Shell();
  EXPECT_EQ(shell.ProgramFolder, folders_.Program());
  EXPECT_EQ(shell.EncoderPath, folders_.Program() + "helix/producer");
  ASSERT_TRUE(shell.RegistryAccess);
  EXPECT_EQ(shell.RegistryStore->ReadDWord(RegistryRoot::LocalMachine, queue::kJobsKey, "Count"),
            0u);
  EXPECT_EQ(kv_test::ReadFile(folders_.System("avisynth.dll")), "the frameserver");
  EXPECT_TRUE(
      shell.RegistryStore->ReadString(RegistryRoot::LocalMachine, kFrameserverKey, "tempinst"));
  EXPECT_TRUE(boxes_.Messages().empty());

  app::RunExitCleanup(folders_.Environment(), app::Shell());
  EXPECT_FALSE(app::Shell().RegistryAccess);
  EXPECT_FALSE(platform::FileExists(folders_.System("avisynth.dll")));
  auto store = platform::RegistryStore::Open(folders_.RegistryPath());
  EXPECT_FALSE(store->KeyExists(RegistryRoot::LocalMachine, kFrameserverKey));
}

TEST_F(StartupChecksTest, AStoreThatCannotBeHadStopsBeforeTheFrameserverAndSaysWhy) {
  // A file where the store's folder should be: no store can be made there.
  app::StartupEnvironment environment = folders_.Environment();
  kv_test::WriteFile(folders_.RegistryPath(), "a file");
  environment.registry_path = folders_.RegistryPath() + "/registry.db";
  boxes_.Answer(platform::MessageAnswer::Ok);
  EXPECT_FALSE(app::RunStartupChecks(environment, app::Shell()));
  ASSERT_EQ(boxes_.Messages().size(), 1u);
  const std::string& text = boxes_.Messages()[0].text;
  EXPECT_EQ(text.rfind("Unable to initialize registry entries.\n\n", 0), 0u) << text;
  EXPECT_NE(text.find(environment.registry_path), std::string::npos) << text;
  EXPECT_NE(text.find("cannot create its folder"), std::string::npos) << text;
  EXPECT_EQ(boxes_.Messages()[0].icon, MessageIcon::Error);
  EXPECT_FALSE(platform::FileExists(folders_.System("avisynth.dll")));
  app::RunExitCleanup(environment, app::Shell());
}

TEST_F(StartupChecksTest, ADamagedStoreIsReplacedOnceAndTheUserToldOfBothFiles) {
  {
    ASSERT_TRUE(app::RunStartupChecks(folders_.Environment(), app::Shell()));
    app::RunExitCleanup(folders_.Environment(), app::Shell());
    app::ResetShell();
  }
  const std::string damage(5000, 'x');
  kv_test::WriteFile(folders_.RegistryPath(), damage);
  boxes_.Answer(platform::MessageAnswer::Ok);
  ASSERT_TRUE(app::RunStartupChecks(folders_.Environment(), app::Shell()));
  ASSERT_EQ(boxes_.Messages().size(), 1u);
  const std::string& text = boxes_.Messages()[0].text;
  EXPECT_EQ(boxes_.Messages()[0].icon, MessageIcon::Warning);
  EXPECT_NE(text.find("\"" + folders_.RegistryPath() + "\" was damaged"), std::string::npos)
      << text;
  const std::string kept_as = "kept as \"" + folders_.RegistryPath() + ".damaged-";
  const size_t kept = text.find(kept_as);
  ASSERT_NE(kept, std::string::npos) << text;
  const std::string damaged_file = text.substr(kept + 9, text.find('"', kept + 9 + 1) - kept - 9);
  EXPECT_EQ(kv_test::ReadFile(damaged_file), damage);
  // The run goes on with a fresh store: the job list and the frameserver.
  EXPECT_EQ(
      app::Shell().RegistryStore->ReadDWord(RegistryRoot::LocalMachine, queue::kJobsKey, "Count"),
      0u);
  EXPECT_TRUE(platform::FileExists(folders_.System("avisynth.dll")));
  app::RunExitCleanup(folders_.Environment(), app::Shell());
  app::ResetShell();

  // Told once: the next start finds the fresh store.
  ASSERT_TRUE(app::RunStartupChecks(folders_.Environment(), app::Shell()));
  EXPECT_EQ(boxes_.Messages().size(), 1u);
  app::RunExitCleanup(folders_.Environment(), app::Shell());
}

TEST_F(StartupChecksTest, AMissingFrameserverFileFailsAndChangesNothing) {
  ASSERT_TRUE(platform::DeleteFile(folders_.Program() + "devil.dll"));
  boxes_.Answer(platform::MessageAnswer::Ok);
  EXPECT_FALSE(app::RunStartupChecks(folders_.Environment(), app::Shell()));
  ASSERT_EQ(boxes_.Messages().size(), 1u);
  EXPECT_EQ(boxes_.Messages()[0].text,
            "Unable to initialize frameserver. Try to reinstall Kestrevane.");
  EXPECT_EQ(boxes_.Messages()[0].icon, MessageIcon::Error);
  EXPECT_FALSE(platform::FileExists(folders_.System("avisynth.dll")));
  EXPECT_FALSE(app::Shell().RegistryStore->KeyExists(RegistryRoot::LocalMachine, kFrameserverKey));
  app::RunExitCleanup(folders_.Environment(), app::Shell());
}

TEST_F(StartupChecksTest, TheExitCleanupRepairsWhatACrashedRunLeftEvenAfterAFailedCheck) {
  // A run that crashed: installed and marked temporary, never cleaned up.
  ASSERT_TRUE(app::RunStartupChecks(folders_.Environment(), app::Shell()));
  app::ResetShell();
  ASSERT_TRUE(platform::FileExists(folders_.System("avisynth.dll")));

  // This run's frameserver check fails; the exit still removes the old one.
  kv_test::ProgramFolders broken;
  app::StartupEnvironment environment = folders_.Environment();
  environment.program_folder = broken.Program() + "missing/";
  boxes_.Answer(platform::MessageAnswer::Ok);
  EXPECT_FALSE(app::RunStartupChecks(environment, app::Shell()));
  app::RunExitCleanup(environment, app::Shell());
  EXPECT_FALSE(platform::FileExists(folders_.System("avisynth.dll")));
  auto store = platform::RegistryStore::Open(folders_.RegistryPath());
  EXPECT_FALSE(store->KeyExists(RegistryRoot::LocalMachine, kFrameserverKey));
}

// The whole program, run in this process on the offscreen platform.
class ProgramRunTest : public ::testing::Test {
 protected:
  ~ProgramRunTest() override { app::ResetShell(); }

  // Runs the program; `during_run` is called once the queue window shows.
  int Run(const std::function<void()>& during_run) {
    QTimer poll;
    bool called = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      QWidget* queue_window = app::Shell().QueueWindow;
      if (!called && queue_window && queue_window->isVisible()) {
        called = true;
        during_run();
      }
    });
    poll.start(20);
    // No bound of its own: a start-up takes what the machine gives it (a
    // sanitizer build beside other work takes many times the usual), and a
    // run that hangs is ended by the test's time-out.
    return app::RunKestrevane(folders_.Environment());
  }

  kv_test::ProgramFolders folders_;
  kv_test::MessageBoxRecorder boxes_;
};

TEST_F(ProgramRunTest, StartsShowsTheQueueWindowAndUndoesEverythingAtTheEnd) {
  bool splash_hidden = false, installed = false, lock_held = false;
  const int result = Run([&] {
    const app::ShellState& shell = app::Shell();
    splash_hidden = shell.SplashWindow && !shell.SplashWindow->isVisible();
    installed = platform::FileExists(folders_.System("avisynth.dll"));
    lock_held = platform::SingleInstanceLock::IsHeld(app::kSingleInstanceName);
    // The main window hides itself when it paints; it never reaches the screen.
    EXPECT_FALSE(shell.MainWindow->isVisible());
    EXPECT_TRUE(shell.MainWindow->testAttribute(Qt::WA_DontShowOnScreen));
    // The hidden main window covers the queue window's rectangle.
    EXPECT_EQ(shell.MainWindow->pos(), shell.QueueWindow->pos());
    EXPECT_EQ(shell.MainWindow->size(), shell.QueueWindow->size());
    // Closing from outside (SIGTERM) goes to the working window activated last.
    app::Shell().LastActivatedWindow = shell.QueueWindow;
    raise(SIGTERM);
  });
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(splash_hidden);
  EXPECT_TRUE(installed);
  EXPECT_TRUE(lock_held);
  EXPECT_TRUE(boxes_.Messages().empty());
  EXPECT_FALSE(platform::FileExists(folders_.System("avisynth.dll")));
  EXPECT_FALSE(platform::SingleInstanceLock::IsHeld(app::kSingleInstanceName));
  EXPECT_FALSE(app::Shell().QueueWindow);
}

// New Job opens the wizard over the disabled queue window; a close from
// outside closes the wizard first, with its question, then the queue window.
TEST_F(ProgramRunTest, NewJobOpensTheWizardAndACloseFromOutsideClosesItFirst) {
  bool wizard_shown = false, queue_disabled = false, main_follows = false;
  boxes_.Answer(platform::MessageAnswer::Yes);
  const int result = Run([&] {
    const app::ShellState& shell = app::Shell();
    auto* new_item = shell.QueueWindow->findChild<QAction*>("NewItem");
    ASSERT_TRUE(new_item && new_item->isEnabled());
    new_item->trigger();
    QWidget* wizard = nullptr;
    for (QWidget* window : QApplication::topLevelWidgets())
      if (window->objectName() == "TKVNNewForm") wizard = window;
    ASSERT_NE(wizard, nullptr);
    wizard_shown = wizard->isVisible();
    queue_disabled = !shell.QueueWindow->isEnabled();
    main_follows = shell.MainWindow->pos() == wizard->pos();
    app::Shell().LastActivatedWindow = wizard;
    raise(SIGTERM);
  });
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(wizard_shown);
  EXPECT_TRUE(queue_disabled);
  EXPECT_TRUE(main_follows);
  ASSERT_EQ(boxes_.Messages().size(), 1u);
  EXPECT_EQ(boxes_.Messages()[0].text, "Do you really want to close this wizard?");
  EXPECT_FALSE(app::Shell().QueueWindow);
}

TEST_F(ProgramRunTest, ACloseBeforeAnyWorkingWindowWasActivatedEndsAtOnce) {
  const int result = Run([] {
    app::Shell().LastActivatedWindow = nullptr;
    app::Shell().MainWindow->close();
  });
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(platform::FileExists(folders_.System("avisynth.dll")));
}

TEST_F(ProgramRunTest, AFailedCheckEndsTheProgramAndStillCleansUp) {
  ASSERT_TRUE(platform::DeleteFile(folders_.Program() + "avisynth.dll"));
  boxes_.Answer(platform::MessageAnswer::Ok);
  bool queue_window_shown = false;
  const int result = Run([&] { queue_window_shown = true; });
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(queue_window_shown);
  ASSERT_EQ(boxes_.Messages().size(), 1u);
  EXPECT_EQ(boxes_.Messages()[0].text,
            "Unable to initialize frameserver. Try to reinstall Kestrevane.");
  EXPECT_FALSE(platform::SingleInstanceLock::IsHeld(app::kSingleInstanceName));
}

TEST_F(ProgramRunTest, WithNoPlaceForTheLockItRunsWithoutTheGuard) {
  // A folder in the lock file's place in the runtime folder, and a file
  // where the per-user folder would be: no instance runs, so none is reported.
  kv_test::TempDir data("kv-no-lock-data");
  kv_test::WriteFile(data.File("kestrevane"), "not a folder");
  const std::string saved_data = std::getenv("XDG_DATA_HOME");
  setenv("XDG_DATA_HOME", data.Path().c_str(), 1);
  const std::string blocker =
      std::string(std::getenv("XDG_RUNTIME_DIR")) + "/" + app::kSingleInstanceName;
  kv_test::MakeFolders(blocker);
  bool shown = false;
  const int result = Run([&] {
    shown = true;
    app::Shell().LastActivatedWindow = nullptr;
    app::Shell().MainWindow->close();
  });
  rmdir(blocker.c_str());
  setenv("XDG_DATA_HOME", saved_data.c_str(), 1);
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(shown);
  EXPECT_TRUE(boxes_.Messages().empty());
}

TEST_F(ProgramRunTest, RefusesToRunBesideAnotherInstance) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    auto attempt = platform::SingleInstanceLock::Acquire(app::kSingleInstanceName);
    if (write(ready[1], attempt.lock ? "H" : "B", 1) != 1) _exit(2);
    for (;;) pause();
  }
  close(ready[1]);
  char answer = 0;
  ASSERT_EQ(read(ready[0], &answer, 1), 1);
  close(ready[0]);
  ASSERT_EQ(answer, 'H');
  boxes_.Answer(platform::MessageAnswer::Ok);

  EXPECT_EQ(app::RunKestrevane(folders_.Environment()), 1);
  ASSERT_EQ(boxes_.Messages().size(), 1u);
  EXPECT_EQ(boxes_.Messages()[0].text, "Kestrevane is already running!");
  EXPECT_EQ(boxes_.Messages()[0].icon, MessageIcon::Information);
  EXPECT_FALSE(platform::FileExists(folders_.System("avisynth.dll")));

  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  EXPECT_FALSE(platform::SingleInstanceLock::IsHeld(app::kSingleInstanceName));
}

}  // namespace
