// Draws the queue window with three jobs in different states into a PNG:
//
//   queue_window_shot <out.png>
//
// Run it on a real display (or Xvfb) to get the desktop's fonts and style.
// The jobs live in a temporary folder and a registry store of its own; the
// user's store is never touched.
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <cstdio>
#include <memory>

#include "app/application_queue_shell.h"
#include "app/shell_state.h"
#include "platform/file_system.h"
#include "platform/registry_access.h"
#include "platform/registry_store.h"
#include "platform/window_dialogs.h"
#include "queue/encoder_controller.h"
#include "queue/job_file.h"
#include "queue/job_store.h"
#include "queue/queue_window.h"

namespace {

bool WriteJob(platform::RegistryStore& store, int index, const std::string& folder,
              const std::string& name, const std::string& date, const std::string& progress,
              const std::string& time, const std::string& left, int volumes, bool done,
              bool with_job_file) {
  const auto root = platform::RegistryRoot::LocalMachine;
  const std::string entry = std::string(queue::kJobsKey) + "\\" + std::to_string(index);
  if (with_job_file) {
    if (!platform::CreateDirectory(folder) ||
        !platform::CreateDirectory(queue::JobDataFolderOf(folder)) ||
        !platform::ReplaceFileContents(queue::JobFilePathOf(folder),
                                       queue::FormatJobFileText(name, date, progress, time, left)))
      return false;
    for (int k = 1; k <= volumes; ++k) {
      char file[32];
      std::snprintf(file, sizeof file, "out%.2d.rpjf", k);
      if (!platform::ReplaceFileContents(queue::JobDataFolderOf(folder) + file, "<job/>\r\n"))
        return false;
    }
  }
  return store.CreateKey(root, entry) && store.WriteString(root, entry, "Name", name) &&
         store.WriteString(root, entry, "Date", date) &&
         store.WriteString(root, entry, "Path", folder) &&
         store.WriteDWord(root, entry, "Done", done ? 1 : 0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: queue_window_shot <out.png>\n");
    return 2;
  }
  QTemporaryDir scratch;
  if (!scratch.isValid()) return 1;
  const std::string base = scratch.path().toStdString();
  const std::string registry = base + "/registry.db";
  setenv("KESTREVANE_REGISTRY", registry.c_str(), 1);
  QApplication application(argc, argv);
  platform::UseWindowDialogs();

  auto store = platform::RegistryStore::Open(registry);
  if (!store) return 1;
  const bool jobs_written =
      WriteJob(*store, 0, base + "/Holiday 2026", "Holiday 2026", "04.12.2026 18:42", "3 / 3", "--",
               "--", 3, true, false) &&
      WriteJob(*store, 1, base + "/Nature documentary", "Nature documentary", "06.12.2026 21:15",
               "1 / 2", "00:48", "00:51", 2, false, true) &&
      WriteJob(*store, 2, base + "/Concert", "Concert", "08.12.2026 09:03", "0 / 1", "--", "--", 1,
               false, false) &&
      store->WriteDWord(platform::RegistryRoot::LocalMachine, queue::kJobsKey, "Count", 3);
  if (!jobs_written) return 1;
  // The first job is done (its work folder is gone); the third job's folder
  // went missing, so it is listed as broken.

  app::ShellState& shell = app::Shell();
  shell.ProgramFolder = base + "/";
  shell.RegistryAccess =
      std::make_unique<platform::RegistryAccess>(*store, platform::RegistryRoot::LocalMachine);
  auto window = std::make_unique<queue::TKVNMenuForm>(app::ApplicationQueueShell(),
                                                      queue::MakeEncoderController());
  window->show();
  auto* list = window->findChild<QTreeWidget*>(QStringLiteral("JobList"));
  list->setCurrentItem(list->topLevelItem(1));
  list->topLevelItem(1)->setSelected(true);
  QApplication::processEvents();
  const bool saved = window->grab().save(QString::fromLocal8Bit(argv[1]), "PNG");
  window.reset();
  app::ResetShell();
  return saved ? 0 : 1;
}
