// The queue window's ways in besides its toolbar: the job list's context
// menu, keys and double-click, folders dropped on the window, the status
// line that shows what a command does, and the line of the details that
// tells why a job failed or broke.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEvent>
#include <QStatusTipEvent>
#include <QUrl>

#include "platform/message_box.h"
#include "platform/shell.h"
#include "queue/queue_window.h"

namespace queue {

bool TKVNMenuForm::event(QEvent* event) {
  if (event->type() == QEvent::StatusTip) {
    StatusBar->showMessage(static_cast<QStatusTipEvent*>(event)->tip());
    return true;
  }
  return QWidget::event(event);
}

void TKVNMenuForm::BuildListCommands() {
  JobListCommands::Commands commands{StartItem, DelItem, UpItem, DownItem, NewItem, HelpReadmeItem};
  JobListCommands::Rows rows;
  rows.open_folder = [this](int row) { OpenJobFolder(row); };
  rows.is_done = [this](int row) {
    return Jobs().Jobs().at(static_cast<size_t>(row)).State == JobState::Done;
  };
  rows.selected = [this] { return SelectedRow(); };
  list_commands_ = new JobListCommands(JobList, this, commands, std::move(rows));
  setAcceptDrops(true);
}

void TKVNMenuForm::OpenJobFolder(int row) {
  const std::string& folder = Jobs().Jobs().at(static_cast<size_t>(row)).Path;
  if (!platform::TheShell().OpenDocument(folder)) {
    platform::ShowMessage(this, "Unable to open folder \"" + folder + "\"!",
                          platform::MessageIcon::Error);
  }
}

DroppedFolder TKVNMenuForm::DropOf(const QMimeData* mime) const {
  std::vector<std::string> paths;
  if (mime) {
    for (const QUrl& url : mime->urls()) {
      // A remote address is no folder of this machine.
      if (!url.isLocalFile()) return {};
      paths.push_back(url.toLocalFile().toStdString());
    }
  }
  DroppedFolder drop = ReadDrop(paths);
  // A drop is the command it stands for, and only while that is offered.
  if ((drop.meaning == DropMeaning::NewJob && !NewItem->isEnabled()) ||
      (drop.meaning == DropMeaning::AddJob && !AddItem->isEnabled()))
    drop.meaning = DropMeaning::None;
  return drop;
}

void TKVNMenuForm::dragEnterEvent(QDragEnterEvent* event) {
  if (DropOf(event->mimeData()).meaning != DropMeaning::None) event->acceptProposedAction();
}

void TKVNMenuForm::dropEvent(QDropEvent* event) {
  const DroppedFolder drop = DropOf(event->mimeData());
  if (drop.meaning == DropMeaning::None) return;
  event->acceptProposedAction();
  if (drop.meaning == DropMeaning::AddJob)
    AddChosenJobFolder(drop.folder);
  else
    OpenWizard(drop.folder);
}

void TKVNMenuForm::ShowProblem(const std::string& problem) {
  ProgProblemLabel->setText(QString::fromStdString(problem));
  ProgProblemLabel->setToolTip(QString::fromStdString(problem));
}

}  // namespace queue
