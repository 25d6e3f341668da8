#include "queue/job_list_commands.h"

#include <QMenu>
#include <QShortcut>

namespace queue {

namespace {

// A menu entry with its key written beside it.
QString EntryText(const char* caption, const QKeySequence& keys) {
  QString text = QString::fromUtf8(caption);
  if (!keys.isEmpty()) text += QLatin1Char('\t') + keys.toString(QKeySequence::NativeText);
  return text;
}

}  // namespace

JobListCommands::JobListCommands(QTreeWidget* list, QWidget* window, Commands commands, Rows rows)
    : QObject(window), list_(list), commands_(commands), rows_(std::move(rows)) {
  setObjectName(QStringLiteral("JobListCommands"));
  menu_ = new QMenu(window);
  menu_->setObjectName(QStringLiteral("JobListMenu"));
  // The entries belong to the window, so that their status tips reach its
  // status line.
  auto entry = [this, window](const char* name, const char* caption, const QKeySequence& keys,
                              const char* tip) {
    auto* action = new QAction(EntryText(caption, keys), window);
    action->setObjectName(QLatin1String(name));
    action->setStatusTip(QString::fromUtf8(tip));
    menu_->addAction(action);
    return action;
  };
  encode_item_ =
      entry("ListEncodeItem", "Encode", QKeySequence(Qt::Key_Return), "Encode the selected job");
  remove_item_ = entry("ListRemoveItem", "Remove", QKeySequence(QKeySequence::Delete),
                       "Remove the selected job from the list");
  menu_->addSeparator();
  up_item_ =
      entry("ListUpItem", "Up", QKeySequence(Qt::CTRL | Qt::Key_Up), "Move the selected job up");
  down_item_ = entry("ListDownItem", "Down", QKeySequence(Qt::CTRL | Qt::Key_Down),
                     "Move the selected job down");
  menu_->addSeparator();
  open_folder_item_ =
      entry("ListOpenFolderItem", "Open job folder", {}, "Open the folder of the selected job");
  for (auto [item, command] :
       {std::pair{encode_item_, commands_.encode}, std::pair{remove_item_, commands_.remove},
        std::pair{up_item_, commands_.up}, std::pair{down_item_, commands_.down}}) {
    connect(item, &QAction::triggered, command, &QAction::trigger);
  }
  connect(open_folder_item_, &QAction::triggered, this, [this] {
    const int row = rows_.selected();
    if (row >= 0) rows_.open_folder(row);
  });

  list_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(list_, &QWidget::customContextMenuRequested, this, &JobListCommands::PopUp);
  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) {
    const int row = list_->indexOfTopLevelItem(item);
    if (row >= 0 && rows_.is_done(row)) rows_.open_folder(row);
  });

  // Keys of the list act on its selected job; the others anywhere in the
  // window.
  AddShortcut(QKeySequence(QKeySequence::Delete), list_, Qt::WidgetWithChildrenShortcut,
              commands_.remove);
  AddShortcut(QKeySequence(Qt::Key_Return), list_, Qt::WidgetWithChildrenShortcut,
              commands_.encode);
  AddShortcut(QKeySequence(Qt::Key_Enter), list_, Qt::WidgetWithChildrenShortcut, commands_.encode);
  AddShortcut(QKeySequence(Qt::CTRL | Qt::Key_Up), list_, Qt::WidgetWithChildrenShortcut,
              commands_.up);
  AddShortcut(QKeySequence(Qt::CTRL | Qt::Key_Down), list_, Qt::WidgetWithChildrenShortcut,
              commands_.down);
  AddShortcut(QKeySequence(Qt::CTRL | Qt::Key_N), window, Qt::WindowShortcut, commands_.new_job);
  AddShortcut(QKeySequence(Qt::Key_F1), window, Qt::WindowShortcut, commands_.readme);
}

void JobListCommands::AddShortcut(const QKeySequence& keys, QWidget* scope,
                                  Qt::ShortcutContext context, QAction* command) {
  auto* shortcut = new QShortcut(keys, scope);
  shortcut->setContext(context);
  // A greyed command stays greyed: trigger() does nothing then.
  connect(shortcut, &QShortcut::activated, command, &QAction::trigger);
}

void JobListCommands::UpdateMenu() {
  encode_item_->setEnabled(commands_.encode->isEnabled());
  remove_item_->setEnabled(commands_.remove->isEnabled());
  up_item_->setEnabled(commands_.up->isEnabled());
  down_item_->setEnabled(commands_.down->isEnabled());
  open_folder_item_->setEnabled(rows_.selected() >= 0);
}

QMenu* JobListCommands::ContextMenu() {
  UpdateMenu();
  return menu_;
}

void JobListCommands::PopUp(const QPoint& position) {
  // A right-click on a row selects it first, as a left click would.
  if (QTreeWidgetItem* item = list_->itemAt(position)) {
    list_->setCurrentItem(item);
    item->setSelected(true);
  }
  ContextMenu()->popup(list_->viewport()->mapToGlobal(position));
}

}  // namespace queue
