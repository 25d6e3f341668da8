#pragma once

#include <QAction>
#include <QObject>
#include <QPoint>
#include <QTreeWidget>
#include <functional>

class QMenu;

namespace queue {

// The job list's own ways to the queue window's commands: its context menu
// (Encode, Remove, Up, Down and Open job folder), the keys (Del, Enter,
// Ctrl+Up, Ctrl+Down on the list; Ctrl+N and F1 in the whole window) and the
// double-click on a done job, which opens its folder. Every way goes through
// the window's own actions, so a command that is greyed there does nothing
// here either.
class JobListCommands : public QObject {
  Q_OBJECT
 public:
  struct Commands {
    QAction* encode;
    QAction* remove;
    QAction* up;
    QAction* down;
    QAction* new_job;
    QAction* readme;
  };
  struct Rows {
    // Opens the folder of the job in `row` (the shell's "open").
    std::function<void(int row)> open_folder;
    // The job in `row` is done: a double-click opens its folder.
    std::function<bool(int row)> is_done;
    // The row selected now, or -1.
    std::function<int()> selected;
  };

  JobListCommands(QTreeWidget* list, QWidget* window, Commands commands, Rows rows);

  // The context menu as it would pop up now (its items enabled as the
  // window's commands are); owned by this object.
  QMenu* ContextMenu();

 private:
  void PopUp(const QPoint& position);
  void AddShortcut(const QKeySequence& keys, QWidget* scope, Qt::ShortcutContext context,
                   QAction* command);
  void UpdateMenu();

  QTreeWidget* list_;
  Commands commands_;
  Rows rows_;
  QMenu* menu_;
  QAction* encode_item_;
  QAction* remove_item_;
  QAction* up_item_;
  QAction* down_item_;
  QAction* open_folder_item_;
};

}  // namespace queue
