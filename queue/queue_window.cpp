#include "queue/queue_window.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QMenu>
#include <QScreen>
#include <QVBoxLayout>

#include "app/shell_state.h"
#include "app/splash_form.h"
#include "platform/drive.h"
#include "platform/folder_chooser.h"
#include "platform/message_box.h"
#include "platform/shell.h"
#include "queue/job_details.h"

namespace queue {

namespace {

constexpr int kClientWidth = 632;
constexpr int kClientHeight = 456;

TKVNMenuForm::WizardFactory& WizardFactoryHolder() {
  static TKVNMenuForm::WizardFactory factory;
  return factory;
}

QIcon MenuPicture(const char* name) {
  return QIcon(QStringLiteral(":/queue/menu_%1.svg").arg(QLatin1String(name)));
}

QIcon StatusPicture(int index) {
  static const char* const kNames[] = {"pending", "running", "done", "broken", "document"};
  return QIcon(QStringLiteral(":/queue/status_%1.svg").arg(QLatin1String(kNames[index])));
}

QLabel* NamedLabel(const char* name, const char* text, QWidget* parent) {
  auto* label = new QLabel(QString::fromUtf8(text), parent);
  label->setObjectName(QLatin1String(name));
  return label;
}

}  // namespace

void TKVNMenuForm::SetWizardFactory(WizardFactory factory) {
  WizardFactoryHolder() = std::move(factory);
}

bool TKVNMenuForm::WizardAvailable() {
  return static_cast<bool>(WizardFactoryHolder());
}

TKVNMenuForm::TKVNMenuForm(std::unique_ptr<EncoderController> encoder)
    : QWidget(nullptr, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      store_(*app::Shell().RegistryAccess),
      encoder_(std::move(encoder)) {
  setObjectName(QStringLiteral("TKVNMenuForm"));
  setWindowTitle(QStringLiteral("Kestrevane"));
  setFixedSize(kClientWidth, kClientHeight);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - QPoint(kClientWidth / 2, kClientHeight / 2));

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 6);
  layout->setSpacing(6);
  BuildToolbar();
  layout->addWidget(Dock);
  BuildJobList();
  layout->addWidget(JobList, 1);
  BuildProgressBox();
  BuildShutdownBox();
  auto* bottom = new QHBoxLayout();
  bottom->setContentsMargins(6, 0, 6, 0);
  bottom->addWidget(ProgBox, 1);
  auto* right = new QVBoxLayout();
  right->addWidget(ShutBox);
  auto* priority = new QHBoxLayout();
  PriorityLabel = NamedLabel("PriorityLabel", "Encoder priority:", this);
  PriorityCombo = new QComboBox(this);
  PriorityCombo->setObjectName(QStringLiteral("PriorityCombo"));
  PriorityCombo->addItems({"Idle", "Normal", "High", "Realtime"});
  PriorityCombo->setCurrentIndex(1);
  connect(PriorityCombo, &QComboBox::activated, this, &TKVNMenuForm::PriorityComboChange);
  priority->addWidget(PriorityLabel);
  priority->addWidget(PriorityCombo, 1);
  right->addLayout(priority);
  bottom->addLayout(right);
  layout->addLayout(bottom);

  Timer = new QTimer(this);
  Timer->setObjectName(QStringLiteral("Timer"));
  Timer->setInterval(10000);
  connect(Timer, &QTimer::timeout, this, &TKVNMenuForm::TimerTimer);

  new app::WorkingWindowTracker(this);
  if (encoder_) encoder_->SetEvents(this);

  initial_caption_ = windowTitle();
  encoding_active_ = false;
  selection_from_runner_ = false;
  ShutCheck->setChecked(false);
  ApplyShutdownEnabling();
}

TKVNMenuForm::~TKVNMenuForm() {
  // Releasing the controller ends an encoder that still runs.
  if (encoder_) {
    encoder_->SetEvents(nullptr);
    encoder_->Close();
  }
}

void TKVNMenuForm::BuildToolbar() {
  Dock = new QWidget(this);
  Dock->setObjectName(QStringLiteral("Dock"));
  auto* dock_layout = new QHBoxLayout(Dock);
  dock_layout->setContentsMargins(2, 2, 2, 0);
  Toolbar = new QToolBar(Dock);
  Toolbar->setObjectName(QStringLiteral("Toolbar"));
  Toolbar->setFloatable(false);
  Toolbar->setMovable(false);
  Toolbar->setIconSize(QSize(24, 24));
  dock_layout->addWidget(Toolbar);

  auto item = [this](QAction*& action, const char* name, const char* hint, const char* picture,
                     void (TKVNMenuForm::*handler)()) {
    action = Toolbar->addAction(MenuPicture(picture), QString());
    action->setObjectName(QLatin1String(name));
    action->setToolTip(QString::fromUtf8(hint));
    action->setStatusTip(QString::fromUtf8(hint));
    connect(action, &QAction::triggered, this, handler);
  };
  item(StartItem, "StartItem", "Encode", "encode", &TKVNMenuForm::StartItemClick);
  item(StartAllItem, "StartAllItem", "Batch Encode", "batch_encode",
       &TKVNMenuForm::StartAllItemClick);
  item(AbortItem, "AbortItem", "Abort", "abort", &TKVNMenuForm::AbortItemClick);
  Toolbar->addSeparator();
  item(NewItem, "NewItem", "New Job", "new_job", &TKVNMenuForm::NewItemClick);
  item(AddItem, "AddItem", "Add Job", "add_job", &TKVNMenuForm::AddItemClick);
  item(DelItem, "DelItem", "Remove Job", "remove_job", &TKVNMenuForm::DelItemClick);
  Toolbar->addSeparator();
  item(UpItem, "UpItem", "Up", "up", &TKVNMenuForm::UpItemClick);
  item(DownItem, "DownItem", "Down", "down", &TKVNMenuForm::DownItemClick);
  Toolbar->addSeparator();

  auto* help_menu = new QMenu(this);
  auto help_item = [this, help_menu](QAction*& action, const char* name, const char* caption,
                                     const char* hint, void (TKVNMenuForm::*handler)()) {
    action = help_menu->addAction(StatusPicture(4), QString::fromUtf8(caption));
    action->setObjectName(QLatin1String(name));
    action->setToolTip(QString::fromUtf8(hint));
    action->setStatusTip(QString::fromUtf8(hint));
    connect(action, &QAction::triggered, this, handler);
  };
  help_menu->setToolTipsVisible(true);
  help_item(HelpReadmeItem, "HelpReadmeItem", "Readme", "View \"Readme.txt\"",
            &TKVNMenuForm::HelpReadmeItemClick);
  help_item(HelpLicenseItem, "HelpLicenseItem", "License", "View License",
            &TKVNMenuForm::HelpLicenseItemClick);
  help_item(HelpAboutItem, "HelpAboutItem", "About", "About Kestrevane",
            &TKVNMenuForm::HelpAboutItemClick);
  HelpSubmenuItem = new QToolButton(Toolbar);
  HelpSubmenuItem->setObjectName(QStringLiteral("HelpSubmenuItem"));
  HelpSubmenuItem->setIcon(MenuPicture("help"));
  HelpSubmenuItem->setIconSize(QSize(24, 24));
  HelpSubmenuItem->setToolTip(QStringLiteral("Help"));
  HelpSubmenuItem->setMenu(help_menu);
  HelpSubmenuItem->setPopupMode(QToolButton::MenuButtonPopup);
  // The button part opens the Readme.
  connect(HelpSubmenuItem, &QToolButton::clicked, this, &TKVNMenuForm::HelpReadmeItemClick);
  Toolbar->addWidget(HelpSubmenuItem);
}

void TKVNMenuForm::BuildJobList() {
  JobList = new QTreeWidget(this);
  JobList->setObjectName(QStringLiteral("JobList"));
  JobList->setColumnCount(7);
  JobList->setHeaderLabels({"", "Job", "Creation", "Progress", "Time", "Left", "Path"});
  JobList->setRootIsDecorated(false);
  JobList->setItemsExpandable(false);
  JobList->setUniformRowHeights(true);
  JobList->setSortingEnabled(false);
  JobList->setSelectionMode(QAbstractItemView::SingleSelection);
  JobList->setSelectionBehavior(QAbstractItemView::SelectRows);
  JobList->setEditTriggers(QAbstractItemView::NoEditTriggers);
  JobList->setIconSize(QSize(16, 16));
  // The selection stays visible when the list has no focus.
  QPalette palette = JobList->palette();
  palette.setColor(QPalette::Inactive, QPalette::Highlight,
                   palette.color(QPalette::Active, QPalette::Highlight));
  palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                   palette.color(QPalette::Active, QPalette::HighlightedText));
  JobList->setPalette(palette);
  QHeaderView* header = JobList->header();
  header->setSectionsMovable(false);
  header->setSectionsClickable(false);
  header->setStretchLastSection(false);
  header->setMinimumSectionSize(26);
  const int widths[] = {26, 100, 128, 65, 55, 55, 180};
  for (int column = 0; column < 7; ++column) {
    JobList->setColumnWidth(column, widths[column]);
    // Job and Path may be resized (not below 50); the rest keep their width.
    const bool resizable = column == 1 || column == 6;
    header->setSectionResizeMode(column, resizable ? QHeaderView::Interactive : QHeaderView::Fixed);
  }
  JobList->headerItem()->setTextAlignment(3, Qt::AlignCenter);
  connect(header, &QHeaderView::sectionResized, this, [this](int column, int, int size) {
    if ((column == 1 || column == 6) && size < 50) JobList->setColumnWidth(column, 50);
  });
  connect(JobList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &TKVNMenuForm::OnSelectionChanged);
}

void TKVNMenuForm::BuildProgressBox() {
  ProgBox = new QGroupBox(QStringLiteral("Progress"), this);
  ProgBox->setObjectName(QStringLiteral("ProgBox"));
  auto* grid = new QGridLayout(ProgBox);
  ProgLabel1 = NamedLabel("ProgLabel1", "Job:", ProgBox);
  ProgLabel2 = NamedLabel("ProgLabel2", "Creation:", ProgBox);
  ProgLabel3 = NamedLabel("ProgLabel3", "Time Elapsed:", ProgBox);
  ProgLabel4 = NamedLabel("ProgLabel4", "Time Remaining:", ProgBox);
  ProgJobLabel = NamedLabel("ProgJobLabel", "--", ProgBox);
  ProgDateLabel = NamedLabel("ProgDateLabel", "--", ProgBox);
  ProgTimeLabel = NamedLabel("ProgTimeLabel", "--", ProgBox);
  ProgLeftLabel = NamedLabel("ProgLeftLabel", "--", ProgBox);
  ProgVolLabel1 = NamedLabel("ProgVolLabel1", "Volume:", ProgBox);
  ProgVolLabel2 = NamedLabel("ProgVolLabel2", "0.0 %", ProgBox);
  ProgTotalLabel1 = NamedLabel("ProgTotalLabel1", "Total:", ProgBox);
  ProgTotalLabel2 = NamedLabel("ProgTotalLabel2", "0.0 %", ProgBox);
  ProgVolLabel2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  ProgTotalLabel2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  ProgJobLabel->setTextFormat(Qt::PlainText);
  ProgVolBar = new QProgressBar(ProgBox);
  ProgVolBar->setObjectName(QStringLiteral("ProgVolBar"));
  ProgTotalBar = new QProgressBar(ProgBox);
  ProgTotalBar->setObjectName(QStringLiteral("ProgTotalBar"));
  for (QProgressBar* bar : {ProgVolBar, ProgTotalBar}) {
    bar->setRange(0, 100);
    bar->setTextVisible(false);
  }
  grid->addWidget(ProgLabel1, 0, 0);
  grid->addWidget(ProgJobLabel, 0, 1, 1, 2);
  grid->addWidget(ProgLabel2, 1, 0);
  grid->addWidget(ProgDateLabel, 1, 1, 1, 2);
  grid->addWidget(ProgLabel3, 2, 0);
  grid->addWidget(ProgTimeLabel, 2, 1, 1, 2);
  grid->addWidget(ProgLabel4, 3, 0);
  grid->addWidget(ProgLeftLabel, 3, 1, 1, 2);
  grid->addWidget(ProgVolLabel1, 4, 0);
  grid->addWidget(ProgVolBar, 4, 1);
  grid->addWidget(ProgVolLabel2, 4, 2);
  grid->addWidget(ProgTotalLabel1, 5, 0);
  grid->addWidget(ProgTotalBar, 5, 1);
  grid->addWidget(ProgTotalLabel2, 5, 2);
  grid->setColumnStretch(1, 1);
  grid->setColumnMinimumWidth(2, 48);
}

void TKVNMenuForm::BuildShutdownBox() {
  ShutBox = new QGroupBox(QStringLiteral("Shutdown"), this);
  ShutBox->setObjectName(QStringLiteral("ShutBox"));
  auto* grid = new QGridLayout(ShutBox);
  ShutCheck = new QCheckBox(QStringLiteral("Turn off computer when done..."), ShutBox);
  ShutCheck->setObjectName(QStringLiteral("ShutCheck"));
  ShutAllRadio = new QRadioButton(QStringLiteral("All"), ShutBox);
  ShutAllRadio->setObjectName(QStringLiteral("ShutAllRadio"));
  ShutAllRadio->setChecked(true);
  ShutJobRadio = new QRadioButton(QStringLiteral("Jobs:"), ShutBox);
  ShutJobRadio->setObjectName(QStringLiteral("ShutJobRadio"));
  ShutVolRadio = new QRadioButton(QStringLiteral("Volumes:"), ShutBox);
  ShutVolRadio->setObjectName(QStringLiteral("ShutVolRadio"));
  auto edit = [this](const char* name) {
    auto* line = new QLineEdit(QStringLiteral("1"), ShutBox);
    line->setObjectName(QLatin1String(name));
    line->setReadOnly(true);
    line->setMaxLength(5);
    line->setFixedWidth(44);
    return line;
  };
  ShutJobEdit = edit("ShutJobEdit");
  ShutVolEdit = edit("ShutVolEdit");
  ShutJobUpDown = new UpDown(ShutJobEdit, ShutBox);
  ShutJobUpDown->setObjectName(QStringLiteral("ShutJobUpDown"));
  ShutVolUpDown = new UpDown(ShutVolEdit, ShutBox);
  ShutVolUpDown->setObjectName(QStringLiteral("ShutVolUpDown"));
  grid->addWidget(ShutCheck, 0, 0, 1, 4);
  grid->addWidget(ShutAllRadio, 1, 0);
  grid->addWidget(ShutJobRadio, 2, 0);
  grid->addWidget(ShutJobEdit, 2, 1);
  grid->addWidget(ShutJobUpDown, 2, 2);
  grid->addWidget(ShutVolRadio, 3, 0);
  grid->addWidget(ShutVolEdit, 3, 1);
  grid->addWidget(ShutVolUpDown, 3, 2);
  grid->setColumnStretch(3, 1);
  connect(ShutCheck, &QCheckBox::clicked, this, &TKVNMenuForm::ShutCheckClick);
  connect(ShutAllRadio, &QRadioButton::clicked, this, &TKVNMenuForm::ShutAllRadioClick);
  connect(ShutJobRadio, &QRadioButton::clicked, this, &TKVNMenuForm::ShutJobRadioClick);
  connect(ShutVolRadio, &QRadioButton::clicked, this, &TKVNMenuForm::ShutVolRadioClick);
}

// --- window events -------------------------------------------------------

void TKVNMenuForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TKVNMenuForm::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  if (!event->spontaneous()) FormHide();
}

void TKVNMenuForm::closeEvent(QCloseEvent* event) {
  FormClose(event);
}

void TKVNMenuForm::FormShow() {
  encoding_active_ = false;
  for (QAction* action : {StartItem, DelItem, UpItem, DownItem, AbortItem})
    action->setEnabled(false);
  NewItem->setEnabled(WizardAvailable());
  PriorityCombo->setCurrentIndex(1);
  accepted_priority_ = 1;
  ResetDetailsPanel();
  if (!store_.InitJobRegistry() || !store_.LoadJobList()) {
    platform::ShowMessage(this, "Registry entries are corrupted! Please restart Kestrevane.",
                          platform::MessageIcon::Error);
    app::EndApplication();
    return;
  }
  RebuildList();
  StartAllItem->setEnabled(store_.PendingJobCount() > 0);
  ShutJobUpDown->SetMaximum(store_.PendingJobCount());
  ShutVolUpDown->SetMaximum(store_.RemainingVolumeCount());
  NormaliseShutdownControls();
}

void TKVNMenuForm::FormHide() {
  if (!store_.SaveJobList()) {
    platform::ShowMessage(this, "Error updating configuration!", platform::MessageIcon::Error);
    app::EndApplication();
  }
}

void TKVNMenuForm::FormClose(QCloseEvent* event) {
  app::ShellState& shell = app::Shell();
  if (encoding_active_) {
    if (!platform::AskYesNo(this, "Do you really want to abort the transcoding process?",
                            platform::MessageIcon::Warning)) {
      shell.ClosingInProgress = false;
      event->ignore();
      return;
    }
    AbortRun();
  }
  shell.ClosingInProgress = true;
  event->accept();
  deleteLater();
  app::EndApplication();
}

// --- list and details ----------------------------------------------------

void TKVNMenuForm::RebuildList() {
  const QSignalBlocker blocker(JobList->selectionModel());
  JobList->clear();
  for (size_t i = 0; i < store_.Jobs().size(); ++i) {
    auto* item = new QTreeWidgetItem(JobList);
    item->setTextAlignment(3, Qt::AlignCenter);
    RefreshRow(static_cast<int>(i));
  }
}

void TKVNMenuForm::RefreshRow(int row) {
  QTreeWidgetItem* item = JobList->topLevelItem(row);
  if (!item) return;
  const JobEntry& job = store_.Jobs().at(static_cast<size_t>(row));
  item->setIcon(0, StatusPicture(static_cast<int>(job.State)));
  item->setData(0, Qt::UserRole, static_cast<int>(job.State));
  item->setText(1, QString::fromStdString(job.Name));
  item->setText(2, QString::fromStdString(job.Date));
  item->setText(3, QString::fromStdString(job.Progress));
  item->setText(4, QString::fromStdString(job.Time));
  item->setText(5, QString::fromStdString(job.Left));
  item->setText(6, QString::fromStdString(job.Path));
}

int TKVNMenuForm::SelectedRow() const {
  const QList<QTreeWidgetItem*> selected = JobList->selectedItems();
  return selected.isEmpty() ? -1 : JobList->indexOfTopLevelItem(selected.first());
}

void TKVNMenuForm::SelectRow(int row) {
  QTreeWidgetItem* item = JobList->topLevelItem(row);
  if (!item) return;
  JobList->setCurrentItem(item);
  item->setSelected(true);
}

void TKVNMenuForm::OnSelectionChanged(const QItemSelection& selected,
                                      const QItemSelection& deselected) {
  // A deselection comes before the selection that replaces it.
  QList<int> rows;
  for (const QModelIndex& index : deselected.indexes())
    if (index.column() == 0) JobListSelectItem(index.row(), false);
  for (const QModelIndex& index : selected.indexes())
    if (index.column() == 0) JobListSelectItem(index.row(), true);
}

void TKVNMenuForm::SetPanelLabelsEnabled(bool enabled) {
  for (QLabel* label :
       {ProgLabel1, ProgLabel2, ProgLabel3, ProgLabel4, ProgTotalLabel1, ProgJobLabel,
        ProgDateLabel, ProgTimeLabel, ProgLeftLabel, ProgVolLabel1, ProgVolLabel2, ProgTotalLabel2})
    label->setEnabled(enabled);
}

void TKVNMenuForm::ResetDetailsPanel() {
  for (QLabel* label : {ProgJobLabel, ProgDateLabel, ProgTimeLabel, ProgLeftLabel})
    label->setText(QStringLiteral("--"));
  ProgVolLabel1->setText(QStringLiteral("Volume:"));
  ProgVolLabel2->setText(QStringLiteral("0.0 %"));
  ProgTotalLabel2->setText(QStringLiteral("0.0 %"));
  ProgVolBar->setValue(0);
  ProgTotalBar->setValue(0);
  SetPanelLabelsEnabled(false);
}

void TKVNMenuForm::ShowRowDetails(int row) {
  const JobDetails details = DetailsOf(store_.Jobs().at(static_cast<size_t>(row)));
  ProgJobLabel->setText(QString::fromStdString(details.job));
  ProgDateLabel->setText(QString::fromStdString(details.date));
  ProgTimeLabel->setText(QString::fromStdString(details.time));
  ProgLeftLabel->setText(QString::fromStdString(details.left));
  ProgVolLabel1->setText(QString::fromStdString(details.volume_caption));
  ProgVolLabel2->setText(QString::fromStdString(details.volume_percent));
  ProgVolBar->setValue(details.volume_bar);
  ProgTotalLabel2->setText(QString::fromStdString(details.total_percent));
  ProgTotalBar->setValue(details.total_bar);
}

void TKVNMenuForm::JobListSelectItem(int row, bool selected) {
  if (encoding_active_) {
    // The panel keeps showing the running job.
    selection_from_runner_ = false;
    return;
  }
  if (selected && (row < 0 || static_cast<size_t>(row) >= store_.Jobs().size())) return;
  if (selected) {
    if (!selection_from_runner_) {
      const JobEntry& job = store_.Jobs()[static_cast<size_t>(row)];
      StartItem->setEnabled(job.State == JobState::Pending);
      DelItem->setEnabled(true);
      UpItem->setEnabled(row > 0);
      DownItem->setEnabled(row + 1 < static_cast<int>(store_.Jobs().size()));
    }
    ShowRowDetails(row);
    // An idle job is shown in grey; the runner's own display stays enabled.
    if (!selection_from_runner_) SetPanelLabelsEnabled(false);
  } else {
    for (QAction* action : {StartItem, DelItem, UpItem, DownItem}) action->setEnabled(false);
    ResetDetailsPanel();
  }
  selection_from_runner_ = false;
}

// --- commands ------------------------------------------------------------

void TKVNMenuForm::AbortItemClick() {
  if (platform::AskYesNo(this, "Do you really want to abort the transcoding process?",
                         platform::MessageIcon::Warning))
    AbortRun();
}

void TKVNMenuForm::NewItemClick() {
  const WizardFactory& factory = WizardFactoryHolder();
  if (!factory) return;
  wizard_ = factory(this);
  if (!wizard_) return;
  wizard_->show();
  setEnabled(false);
}

void TKVNMenuForm::AddItemClick() {
  platform::FolderRequest request;
  request.owner = this;
  request.title = "Select folder containing the job.";
  request.allow_new_folder = true;
  const std::optional<std::string> folder = platform::ChooseFolder(request);
  if (!folder) return;
  if (platform::IsNetworkPath(*folder)) {
    platform::ShowMessage(this, "Jobs cannot be processed from a remote computer!",
                          platform::MessageIcon::Warning);
    return;
  }
  const JobStore::AddResult result = AddJobFromFolder(*folder);
  if (!result.valid) {
    platform::ShowMessage(this, "The selected folder does not contain a valid job!",
                          platform::MessageIcon::Error);
  } else if (result.already_listed) {
    platform::ShowMessage(this, "Job is already added to the list.",
                          platform::MessageIcon::Information);
  }
}

JobStore::AddResult TKVNMenuForm::AddJobFromFolder(const std::string& folder) {
  const JobStore::AddResult result = store_.AddJobFromFolder(folder);
  if (!result.valid || result.already_listed) return result;
  if (!result.saved) {
    platform::ShowMessage(this, "Error updating configuration!", platform::MessageIcon::Error);
    app::EndApplication();
  }
  auto* item = new QTreeWidgetItem(JobList);
  item->setTextAlignment(3, Qt::AlignCenter);
  const int row = static_cast<int>(store_.Jobs().size()) - 1;
  RefreshRow(row);
  // A new last row makes Down possible for the row selected above it.
  const int selected = SelectedRow();
  if (selected >= 0 && !encoding_active_) DownItem->setEnabled(selected < row);
  const JobEntry& job = store_.Jobs().back();
  if (job.State == JobState::Pending) {
    ShutJobUpDown->SetMaximum(ShutJobUpDown->Maximum() + 1);
    int done = 0, total = 0;
    if (ParseProgress(job.Progress, done, total))
      ShutVolUpDown->SetMaximum(ShutVolUpDown->Maximum() + total - done);
    NormaliseShutdownControls();
  }
  if (!encoding_active_) StartAllItem->setEnabled(store_.PendingJobCount() > 0);
  return result;
}

void TKVNMenuForm::DelItemClick() {
  const int row = SelectedRow();
  if (row < 0 || encoding_active_) return;
  const JobEntry job = store_.Jobs()[static_cast<size_t>(row)];
  if (job.State == JobState::Pending) {
    if (!platform::AskYesNo(this, "Do you really want remove this job from the queue?",
                            platform::MessageIcon::Information))
      return;
    ShutJobUpDown->SetMaximum(ShutJobUpDown->Maximum() - 1);
    int done = 0, total = 0;
    if (ParseProgress(job.Progress, done, total))
      ShutVolUpDown->SetMaximum(ShutVolUpDown->Maximum() - (total - done));
    NormaliseShutdownControls();
  }
  // The list is saved before the row goes from the screen; the job's folders
  // on disk stay untouched.
  const bool saved = store_.RemoveJob(static_cast<size_t>(row));
  StartAllItem->setEnabled(store_.PendingJobCount() > 0);
  {
    // The removed row leaves no selection behind.
    const QSignalBlocker blocker(JobList->selectionModel());
    delete JobList->takeTopLevelItem(row);
    JobList->clearSelection();
    JobList->setCurrentItem(nullptr);
  }
  JobListSelectItem(row, false);
  if (!saved) {
    platform::ShowMessage(this, "Error updating configuration!", platform::MessageIcon::Error);
    app::EndApplication();
  }
}

void TKVNMenuForm::UpItemClick() {
  const int row = SelectedRow();
  if (row <= 0) return;
  const bool had_focus = JobList->hasFocus();
  const bool saved = store_.SwapJobs(static_cast<size_t>(row), static_cast<size_t>(row - 1));
  RefreshRow(row);
  RefreshRow(row - 1);
  SelectRow(row - 1);
  if (had_focus) JobList->setFocus();
  if (!saved) {
    platform::ShowMessage(this, "Error updating configuration!", platform::MessageIcon::Error);
    app::EndApplication();
  }
}

void TKVNMenuForm::DownItemClick() {
  const int row = SelectedRow();
  if (row < 0 || row + 1 >= static_cast<int>(store_.Jobs().size())) return;
  const bool had_focus = JobList->hasFocus();
  const bool saved = store_.SwapJobs(static_cast<size_t>(row), static_cast<size_t>(row + 1));
  RefreshRow(row);
  RefreshRow(row + 1);
  SelectRow(row + 1);
  if (had_focus) JobList->setFocus();
  if (!saved) {
    platform::ShowMessage(this, "Error updating configuration!", platform::MessageIcon::Error);
    app::EndApplication();
  }
}

void TKVNMenuForm::OpenHelpFile(const char* file_name) {
  if (!platform::TheShell().OpenDocument(app::Shell().ProgramFolder + file_name)) {
    platform::ShowMessage(this, std::string("Unable to open file \"") + file_name + "\"!",
                          platform::MessageIcon::Error);
  }
}

void TKVNMenuForm::HelpReadmeItemClick() {
  OpenHelpFile("Readme.txt");
}

void TKVNMenuForm::HelpLicenseItemClick() {
  OpenHelpFile("License.txt");
}

void TKVNMenuForm::HelpAboutItemClick() {
  if (app::TKVNSplashForm* about = app::Shell().SplashWindow) about->ShowAsAbout(this);
}

// --- priority and shutdown options ---------------------------------------

void TKVNMenuForm::PriorityComboChange(int index) {
  if (index > 1 && index > accepted_priority_) {
    if (!platform::AskYesNo(this,
                            "Setting the priority of the encoder above normal may cause\n"
                            "the system to freeze! Are you sure you want to do this?",
                            platform::MessageIcon::Warning)) {
      PriorityCombo->setCurrentIndex(accepted_priority_);
      return;
    }
  }
  if (encoder_ && encoder_->ChildRunning()) encoder_->SetChildPriority(PriorityClassOf(index));
  accepted_priority_ = index;
}

void TKVNMenuForm::ApplyShutdownEnabling() {
  const bool usable =
      ShutCheck->isChecked() && ShutJobUpDown->Position() != 0 && ShutVolUpDown->Position() != 0;
  if (!usable) {
    for (QWidget* widget :
         std::initializer_list<QWidget*>{ShutAllRadio, ShutJobRadio, ShutVolRadio, ShutJobEdit,
                                         ShutVolEdit, ShutJobUpDown, ShutVolUpDown})
      widget->setEnabled(false);
    return;
  }
  for (QWidget* widget : {ShutAllRadio, ShutJobRadio, ShutVolRadio}) widget->setEnabled(true);
  const bool jobs = ShutJobRadio->isChecked();
  ShutJobEdit->setEnabled(jobs);
  ShutJobUpDown->setEnabled(jobs && ShutJobUpDown->Maximum() != 1);
  const bool volumes = ShutVolRadio->isChecked();
  ShutVolEdit->setEnabled(volumes);
  ShutVolUpDown->setEnabled(volumes && ShutVolUpDown->Maximum() != 1);
}

void TKVNMenuForm::ShutCheckClick() {
  ApplyShutdownEnabling();
}

void TKVNMenuForm::ShutAllRadioClick() {
  for (QWidget* widget :
       std::initializer_list<QWidget*>{ShutJobEdit, ShutVolEdit, ShutJobUpDown, ShutVolUpDown})
    widget->setEnabled(false);
}

void TKVNMenuForm::ShutJobRadioClick() {
  ShutJobEdit->setEnabled(true);
  ShutJobUpDown->setEnabled(true);
  ShutVolEdit->setEnabled(false);
  ShutVolUpDown->setEnabled(false);
}

void TKVNMenuForm::ShutVolRadioClick() {
  ShutVolEdit->setEnabled(true);
  ShutVolUpDown->setEnabled(true);
  ShutJobEdit->setEnabled(false);
  ShutJobUpDown->setEnabled(false);
}

void TKVNMenuForm::NormaliseShutdownControls() {
  for (auto [edit, up_down] :
       {std::pair{ShutJobEdit, ShutJobUpDown}, std::pair{ShutVolEdit, ShutVolUpDown}}) {
    if (up_down->Maximum() != 0) {
      if (up_down->Position() > up_down->Maximum()) up_down->SetPosition(up_down->Maximum());
      if (up_down->Position() == 0) edit->setText(QStringLiteral("1"));
    } else {
      edit->setText(QStringLiteral("0"));
    }
  }
  ApplyShutdownEnabling();
}

}  // namespace queue
