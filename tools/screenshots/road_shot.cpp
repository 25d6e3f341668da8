// Draws the road of one job through the real program into PNG files:
//
//   road_shot <out-folder> <DVD folder>
//
// The queue window opens (with a registry store and system folder of the
// run's own), New Job opens the wizard, page 1 is filled for the DVD folder
// and drawn ("wizard-source.png"), the analysis runs ("wizard-analysis.png"),
// the title page shows the longest title with its preview
// ("wizard-title.png"), the title is prepared and the configuration page
// shows its proposals ("wizard-configuration.png"); Adjust... opens the crop
// dialog over a frame of the title ("crop-dialog.png"). Finish queues the
// job at an average bit rate of 1200 kbps, Encode starts the encoder of the
// program folder, and the queue window is drawn while it encodes
// ("queue-encoding.png"). Run it on a real display (or Xvfb) to get the
// desktop's fonts and style.
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QThread>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

#include "app/application_queue_shell.h"
#include "app/frameserver_install.h"
#include "app/main_form.h"
#include "app/shell_state.h"
#include "platform/folders.h"
#include "platform/registry_access.h"
#include "platform/registry_store.h"
#include "platform/window_dialogs.h"
#include "queue/encoder_controller.h"
#include "queue/queue_window.h"
#include "wizard/new_form.h"

namespace {

QString folder;

bool Save(QWidget* widget, const char* name) {
  QApplication::processEvents();
  const QString path = QDir(folder).filePath(QLatin1String(name));
  const bool saved = widget && widget->grab().save(path, "PNG");
  std::printf("%s %s\n", saved ? "wrote" : "could not write", path.toUtf8().constData());
  return saved;
}

// Serves the event loop until `done` holds; false after `seconds`.
bool ServeUntil(const std::function<bool()>& done, int seconds = 300) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > seconds * 1000) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  return true;
}

template <class T>
T* Child(QWidget* window, const char* name) {
  return window->findChild<T*>(QLatin1String(name));
}

QWidget* TopLevel(const char* name) {
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (widget->objectName() == QLatin1String(name) && widget->isVisible()) return widget;
  return nullptr;
}

// The shell's values as the start-up checks set them, over a registry store
// of the run's own, and the frameserver installed from the build's program
// folder; null when that fails.
std::unique_ptr<app::FrameserverInstallation> SetUpShell() {
  app::ShellState& shell = app::Shell();
  shell.ApplicationTitle = "Kestrevane";
  shell.ProgramFolder = std::string(KV_PROGRAM_FOLDER) + "/";
  shell.EncoderPath = shell.ProgramFolder + "helix/producer";
  shell.RegistryStore = platform::RegistryStore::Open(platform::RegistryStore::DefaultPath());
  if (!shell.RegistryStore) return nullptr;
  shell.RegistryAccess = std::make_unique<platform::RegistryAccess>(
      *shell.RegistryStore, platform::RegistryRoot::LocalMachine);
  auto frameserver = std::make_unique<app::FrameserverInstallation>(*shell.RegistryStore,
                                                                    platform::SystemFolder());
  if (!frameserver->InstallFrameserver(KV_PROGRAM_FOLDER)) {
    std::fprintf(stderr, "road_shot: cannot install the frameserver\n");
    return nullptr;
  }
  return frameserver;
}

// New Job on the queue window; the wizard it opens.
wizard::TKVNNewForm* OpenWizard(queue::TKVNMenuForm* queue_window) {
  queue_window->findChild<QAction*>(QStringLiteral("NewItem"))->trigger();
  auto* wizard_window = qobject_cast<wizard::TKVNNewForm*>(TopLevel("TKVNNewForm"));
  if (!wizard_window) {
    for (QWidget* widget : QApplication::topLevelWidgets())
      if (auto* form = qobject_cast<wizard::TKVNNewForm*>(widget)) wizard_window = form;
  }
  return wizard_window;
}

// The wizard's four pages and the crop dialog for `source`, drawn on the
// way, to Finish; false when the wizard did not get through.
bool WalkWizard(const QPointer<wizard::TKVNNewForm>& wizard, const std::string& work,
                const std::string& source, bool* saved) {
  Child<QLineEdit>(wizard, "NameEdit")->setText(QStringLiteral("My first job"));
  Child<QLineEdit>(wizard, "LocEdit")->setText(QString::fromStdString(work + "/Videos"));
  Child<QLineEdit>(wizard, "SrcEdit")->setText(QString::fromStdString(source));
  *saved = Save(wizard, "wizard-source.png") && *saved;

  auto* next = Child<QPushButton>(wizard, "NextButton");
  auto* notebook = Child<QStackedWidget>(wizard, "Notebook");
  next->click();
  if (!ServeUntil([&] { return !wizard || !wizard->State().AnalysisRunning; }) || !wizard)
    return false;
  *saved = Save(wizard, "wizard-analysis.png") && *saved;

  next->click();
  ServeUntil([] { return false; }, 1);  // the preview paints
  *saved = Save(wizard, "wizard-title.png") && *saved;

  next->click();
  if (!ServeUntil([&] { return !wizard || notebook->currentIndex() == wizard::kConfigPage; }) ||
      !wizard)
    return false;
  *saved = Save(wizard, "wizard-configuration.png") && *saved;

  // Adjust... is for a crop of the user's own.
  Child<QAbstractButton>(wizard, "VideoCropManuCheck")->click();
  Child<QPushButton>(wizard, "VideoCropAdjButton")->click();
  QWidget* crop = nullptr;
  ServeUntil([&] { return (crop = TopLevel("TKVNNewCropForm")) != nullptr; }, 10);
  *saved = Save(crop, "crop-dialog.png") && *saved;
  if (crop) crop->close();

  Child<QRadioButton>(wizard, "EncModeBitrateRadio")->click();
  Child<QLineEdit>(wizard, "EncModeBitrateEdit")->setText(QStringLiteral("1200"));
  next->click();
  return true;
}

// Encode on the queued job, drawn while its first volume is under way.
bool EncodeJob(queue::TKVNMenuForm* queue_window) {
  auto* jobs = Child<QTreeWidget>(queue_window, "JobList");
  jobs->setCurrentItem(jobs->topLevelItem(0));
  queue_window->findChild<QAction*>(QStringLiteral("StartItem"))->trigger();
  auto* bar = Child<QProgressBar>(queue_window, "ProgVolBar");
  ServeUntil([&] { return bar->value() >= 40 || !queue_window->EncodingActive(); });
  const bool saved = Save(queue_window, "queue-encoding.png");
  ServeUntil([&] { return !queue_window->EncodingActive(); });
  return saved;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: road_shot <out-folder> <DVD folder>\n");
    return 2;
  }
  folder = QString::fromLocal8Bit(argv[1]);
  char* dvd = realpath(argv[2], nullptr);
  if (!dvd) {
    std::fprintf(stderr, "road_shot: no folder %s\n", argv[2]);
    return 1;
  }
  const std::string source = dvd;
  std::free(dvd);
  char work_template[] = "/tmp/kv-road-shot-XXXXXX";
  if (!mkdtemp(work_template)) return 1;
  const std::string work = work_template;
  setenv("XDG_DATA_HOME", (work + "/data").c_str(), 1);
  setenv("KESTREVANE_REGISTRY", (work + "/registry.db").c_str(), 1);
  QDir().mkpath(QString::fromStdString(work + "/Videos"));

  QApplication application(argc, argv);
  platform::UseWindowDialogs();
  const std::unique_ptr<app::FrameserverInstallation> frameserver = SetUpShell();
  if (!frameserver) return 1;

  queue::TKVNMenuForm::SetWizardFactory(&app::CreateNewJobWizard);
  auto* queue_window =
      new queue::TKVNMenuForm(app::ApplicationQueueShell(), queue::MakeEncoderController());
  app::Shell().QueueWindow = queue_window;
  queue_window->show();
  const QPointer<wizard::TKVNNewForm> wizard = OpenWizard(queue_window);
  if (!wizard) return 1;

  bool saved = true;
  if (!WalkWizard(wizard, work, source, &saved)) return 1;
  // The released wizard hides; its deletion waits for an event loop.
  if (!ServeUntil([&] { return (!wizard || !wizard->isVisible()) && queue_window->isEnabled(); },
                  30)) {
    std::fprintf(stderr, "road_shot: Finish did not queue the job\n");
    return 1;
  }
  saved = EncodeJob(queue_window) && saved;
  delete queue_window;
  frameserver->UninstallFrameserver();
  QDir(QString::fromStdString(work)).removeRecursively();
  return saved ? 0 : 1;
}
