#include "queue/queue_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QMenu>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/folder_chooser.h"
#include "platform/message_box.h"
#include "platform/shell.h"
#include "queue/job_details.h"
#include "queue/job_file.h"
#include "queue/queue_edits.h"
#include "queue/run_messages.h"

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

TKVNMenuForm::TKVNMenuForm(QueueShell& shell, std::unique_ptr<EncoderController> encoder,
                           std::unique_ptr<RunnerClock> clock)
    : QWidget(nullptr, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      shell_(shell),
      runner_(std::make_unique<JobRunner>(shell.Registry(), std::move(encoder), std::move(clock),
                                          shell.EncoderPath())) {
  setObjectName(QStringLiteral("TKVNMenuForm"));
  setWindowTitle(QStringLiteral("Kestrevane"));
  setFixedSize(kClientWidth, kClientHeight);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - QPoint(kClientWidth / 2, kClientHeight / 2));

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
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
  StatusBar = new QStatusBar(this);
  StatusBar->setObjectName(QStringLiteral("StatusBar"));
  StatusBar->setSizeGripEnabled(false);
  QueueLeftLabel = NamedLabel("QueueLeftLabel", "", StatusBar);
  StatusBar->addWidget(QueueLeftLabel);
  layout->addWidget(StatusBar);
  BuildListCommands();

  shell_.AttachWorkingWindow(this);
  runner_->SetObserver(this);

  initial_caption_ = windowTitle();
  ShutCheck->setChecked(false);
  ApplyShutdownEnabling();
}

TKVNMenuForm::~TKVNMenuForm() {
  // Releasing the runner releases the encoder controller, which ends an
  // encoder that still runs.
  runner_->SetObserver(nullptr);
  runner_.reset();
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
  item(PauseItem, "PauseItem", "Pause", "pause", &TKVNMenuForm::PauseItemClick);
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
  ProgProblemLabel = NamedLabel("ProgProblemLabel", "", ProgBox);
  ProgProblemLabel->setTextFormat(Qt::PlainText);
  // A long reason is cut at the box's edge; the tool tip holds all of it.
  ProgProblemLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  ProgProblemLabel->setMinimumHeight(ProgProblemLabel->fontMetrics().height());
  grid->addWidget(ProgProblemLabel, 6, 0, 1, 3);
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
  // The options reach the runner however they are set; the clicks also
  // bring the controls' enabling up to date.
  connect(ShutCheck, &QCheckBox::toggled, this,
          [this](bool checked) { runner_->SetShutdownEnabled(checked); });
  for (auto [radio, choice] :
       {std::pair{ShutAllRadio, ShutdownChoice::All}, std::pair{ShutJobRadio, ShutdownChoice::Jobs},
        std::pair{ShutVolRadio, ShutdownChoice::Volumes}}) {
    connect(radio, &QRadioButton::toggled, this, [this, choice = choice](bool checked) {
      if (checked) runner_->SetShutdownChoice(choice);
    });
  }
  connect(ShutJobUpDown, &UpDown::PositionChanged, this,
          [this](int position) { runner_->SetShutdownCount(ShutdownChoice::Jobs, position); });
  connect(ShutVolUpDown, &UpDown::PositionChanged, this,
          [this](int position) { runner_->SetShutdownCount(ShutdownChoice::Volumes, position); });
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
  // A run keeps its list and commands; only an idle window starts afresh.
  if (runner_->Running()) return;
  for (QAction* action : {StartItem, DelItem, UpItem, DownItem, AbortItem, PauseItem})
    action->setEnabled(false);
  NewItem->setEnabled(WizardAvailable());
  PriorityCombo->setCurrentIndex(1);
  accepted_priority_ = 1;
  runner_->SetPriority(PriorityClassOf(1));
  ResetDetailsPanel();
  if (!runner_->LoadList()) {
    platform::ShowMessage(this, "Registry entries are corrupted! Please restart Kestrevane.",
                          platform::MessageIcon::Error);
    shell_.EndApplication();
    return;
  }
  StartAllItem->setEnabled(Jobs().PendingJobCount() > 0);
}

void TKVNMenuForm::FormHide() {
  runner_->SaveList();
}

void TKVNMenuForm::FormClose(QCloseEvent* event) {
  if (runner_->Running()) {
    if (!platform::AskYesNo(this, "Do you really want to abort the transcoding process?",
                            platform::MessageIcon::Warning)) {
      shell_.SetClosingInProgress(false);
      event->ignore();
      return;
    }
    AbortRun();
  }
  shell_.SetClosingInProgress(true);
  event->accept();
  deleteLater();
  shell_.EndApplication();
}

// --- list and details ----------------------------------------------------

void TKVNMenuForm::RebuildList() {
  const QSignalBlocker blocker(JobList->selectionModel());
  JobList->clear();
  for (size_t i = 0; i < Jobs().Jobs().size(); ++i) {
    auto* item = new QTreeWidgetItem(JobList);
    item->setTextAlignment(3, Qt::AlignCenter);
    RefreshRow(static_cast<int>(i));
  }
}

void TKVNMenuForm::RefreshRow(int row) {
  QTreeWidgetItem* item = JobList->topLevelItem(row);
  if (!item) return;
  const JobEntry& job = Jobs().Jobs().at(static_cast<size_t>(row));
  item->setIcon(0, StatusPicture(static_cast<int>(job.State)));
  item->setData(0, Qt::UserRole, static_cast<int>(job.State));
  item->setText(1, QString::fromStdString(job.Name));
  item->setText(2, QString::fromStdString(job.Date));
  item->setText(3, QString::fromStdString(ProgressText(job.Progress)));
  item->setText(4, QString::fromStdString(TimeText(job.Time)));
  item->setText(5, QString::fromStdString(TimeText(job.Left)));
  item->setText(6, QString::fromStdString(job.Path));
  // A failed or broken job tells why wherever the pointer rests on its row.
  const QString problem = QString::fromStdString(job.Problem);
  for (int column = 0; column < JobList->columnCount(); ++column) item->setToolTip(column, problem);
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
  ShowProblem(std::string());
  SetPanelLabelsEnabled(false);
}

void TKVNMenuForm::ShowRowDetails(int row) {
  const JobDetails details = DetailsOf(Jobs().Jobs().at(static_cast<size_t>(row)));
  ProgJobLabel->setText(QString::fromStdString(details.job));
  ProgDateLabel->setText(QString::fromStdString(details.date));
  ProgTimeLabel->setText(QString::fromStdString(details.time));
  ProgLeftLabel->setText(QString::fromStdString(details.left));
  ProgVolLabel1->setText(QString::fromStdString(details.volume_caption));
  ProgVolLabel2->setText(QString::fromStdString(details.volume_percent));
  ProgVolBar->setValue(details.volume_bar);
  ProgTotalLabel2->setText(QString::fromStdString(details.total_percent));
  ProgTotalBar->setValue(details.total_bar);
  ShowProblem(Jobs().Jobs().at(static_cast<size_t>(row)).Problem);
}

void TKVNMenuForm::JobListSelectItem(int row, bool selected) {
  // While a run goes on the panel keeps showing the running job and the
  // commands stay as the run set them.
  if (runner_->Running()) return;
  const std::vector<JobEntry>& jobs = Jobs().Jobs();
  if (selected && (row < 0 || static_cast<size_t>(row) >= jobs.size())) return;
  if (selected) {
    StartItem->setEnabled(jobs[static_cast<size_t>(row)].State == JobState::Pending);
    DelItem->setEnabled(true);
    UpItem->setEnabled(CanMoveUp(*runner_, static_cast<size_t>(row)));
    DownItem->setEnabled(CanMoveDown(*runner_, static_cast<size_t>(row)));
    ShowRowDetails(row);
    // An idle job is shown in grey.
    SetPanelLabelsEnabled(false);
  } else {
    for (QAction* action : {StartItem, DelItem, UpItem, DownItem}) action->setEnabled(false);
    ResetDetailsPanel();
  }
}

// --- commands ------------------------------------------------------------

void TKVNMenuForm::StartItemClick() {
  const int row = SelectedRow();
  if (row >= 0) runner_->EncodeJob(static_cast<size_t>(row));
}

void TKVNMenuForm::StartAllItemClick() {
  runner_->EncodeAll();
}

void TKVNMenuForm::AbortItemClick() {
  if (platform::AskYesNo(this, "Do you really want to abort the transcoding process?",
                         platform::MessageIcon::Warning))
    AbortRun();
}

void TKVNMenuForm::AbortRun() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  runner_->Abort();
  QApplication::restoreOverrideCursor();
}

void TKVNMenuForm::NewItemClick() {
  OpenWizard(std::string());
}

void TKVNMenuForm::OpenWizard(const std::string& dvd_source) {
  const WizardFactory& factory = WizardFactoryHolder();
  if (!factory) return;
  wizard_ = factory(this, dvd_source);
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
  if (folder) AddChosenJobFolder(*folder);
}

void TKVNMenuForm::AddChosenJobFolder(const std::string& folder) {
  AddJobFolder(*runner_, folder, this);
}

JobStore::AddResult TKVNMenuForm::AddJobFromFolder(const std::string& folder) {
  return runner_->AddJobFromFolder(folder);
}

void TKVNMenuForm::DelItemClick() {
  const int row = SelectedRow();
  if (row >= 0) RemoveJobAsking(*runner_, static_cast<size_t>(row), this);
}

void TKVNMenuForm::UpItemClick() {
  const int row = SelectedRow();
  if (row >= 0 && CanMoveUp(*runner_, static_cast<size_t>(row)))
    runner_->SwapJobs(static_cast<size_t>(row), static_cast<size_t>(row - 1));
}

void TKVNMenuForm::DownItemClick() {
  const int row = SelectedRow();
  if (row >= 0 && CanMoveDown(*runner_, static_cast<size_t>(row)))
    runner_->SwapJobs(static_cast<size_t>(row), static_cast<size_t>(row + 1));
}

void TKVNMenuForm::OpenHelpFile(const char* file_name) {
  if (!platform::TheShell().OpenDocument(shell_.ProgramFolder() + file_name)) {
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
  shell_.ShowAbout(this);
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
  runner_->SetPriority(PriorityClassOf(index));
  accepted_priority_ = index;
}

void TKVNMenuForm::ApplyShutdownEnabling() {
  const ShutdownOptions& options = runner_->Shutdown();
  if (!options.Usable()) {
    for (QWidget* widget :
         std::initializer_list<QWidget*>{ShutAllRadio, ShutJobRadio, ShutVolRadio, ShutJobEdit,
                                         ShutVolEdit, ShutJobUpDown, ShutVolUpDown})
      widget->setEnabled(false);
    return;
  }
  for (QWidget* widget : {ShutAllRadio, ShutJobRadio, ShutVolRadio}) widget->setEnabled(true);
  const bool jobs = options.choice == ShutdownChoice::Jobs;
  ShutJobEdit->setEnabled(jobs);
  ShutJobUpDown->setEnabled(jobs && options.jobs.maximum != 1);
  const bool volumes = options.choice == ShutdownChoice::Volumes;
  ShutVolEdit->setEnabled(volumes);
  ShutVolUpDown->setEnabled(volumes && options.volumes.maximum != 1);
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
  runner_->NormaliseShutdown();
}

// --- what the runner reports ---------------------------------------------

void TKVNMenuForm::ListLoaded() {
  RebuildList();
}

void TKVNMenuForm::RowAdded(size_t row) {
  auto* item = new QTreeWidgetItem();
  item->setTextAlignment(3, Qt::AlignCenter);
  JobList->insertTopLevelItem(static_cast<int>(row), item);
  RefreshRow(static_cast<int>(row));
  if (runner_->Running()) return;
  // A new last row makes Down possible for the row selected above it.
  const int selected = SelectedRow();
  if (selected >= 0) DownItem->setEnabled(CanMoveDown(*runner_, static_cast<size_t>(selected)));
  StartAllItem->setEnabled(Jobs().PendingJobCount() > 0);
}

void TKVNMenuForm::RowRemoved(size_t row) {
  if (!runner_->Running()) StartAllItem->setEnabled(Jobs().PendingJobCount() > 0);
  {
    // The removed row leaves no selection behind.
    const QSignalBlocker blocker(JobList->selectionModel());
    delete JobList->takeTopLevelItem(static_cast<int>(row));
    JobList->clearSelection();
    JobList->setCurrentItem(nullptr);
  }
  JobListSelectItem(static_cast<int>(row), false);
}

void TKVNMenuForm::RowsSwapped(size_t first, size_t second) {
  RefreshRow(static_cast<int>(first));
  RefreshRow(static_cast<int>(second));
  // The selection follows its job, and so does the keyboard focus.
  const int selected = SelectedRow();
  const bool had_focus = JobList->hasFocus();
  if (selected == static_cast<int>(first))
    SelectRow(static_cast<int>(second));
  else if (selected == static_cast<int>(second))
    SelectRow(static_cast<int>(first));
  if (had_focus) JobList->setFocus();
}

void TKVNMenuForm::RowChanged(size_t row) {
  RefreshRow(static_cast<int>(row));
  if (runner_->RunningRow() == row) {
    const JobEntry& job = Jobs().Jobs()[row];
    ProgTimeLabel->setText(QString::fromStdString(TimeText(job.Time)));
    ProgLeftLabel->setText(QString::fromStdString(TimeText(job.Left)));
  }
}

void TKVNMenuForm::ListSaveFailed() {
  // The list on disk no longer matches the one shown: end rather than go on.
  platform::ShowMessage(this, "Error updating configuration!", platform::MessageIcon::Error);
  shell_.EndApplication();
}

void TKVNMenuForm::ShutdownCountsChanged() {
  const ShutdownOptions& options = runner_->Shutdown();
  ShutJobUpDown->ShowState(options.jobs.position, options.jobs.maximum);
  ShutVolUpDown->ShowState(options.volumes.position, options.volumes.maximum);
  ApplyShutdownEnabling();
}

void TKVNMenuForm::RunStarted() {
  for (QAction* action : {StartItem, StartAllItem, NewItem, AddItem, DelItem, UpItem, DownItem})
    action->setEnabled(false);
  AbortItem->setEnabled(true);
  PauseItem->setEnabled(true);
  if (runner_->BatchMode()) QueueTimeLeftChanged(std::nullopt);
  SetPanelLabelsEnabled(true);
}

void TKVNMenuForm::JobStarted(size_t row) {
  // The runner's own selection: whatever the user had selected, the run
  // keeps its commands and the panel shows the running job in full colour.
  SelectRow(static_cast<int>(row));
  ShowRowDetails(static_cast<int>(row));
  SetPanelLabelsEnabled(true);
  RefreshRow(static_cast<int>(row));
}

void TKVNMenuForm::VolumeStarted(int volume, int volumes) {
  ProgVolLabel1->setText(QString::fromStdString(VolumeCaption(volume, volumes)));
  ProgVolBar->setValue(0);
  ProgVolLabel2->setText(QStringLiteral("0.0 %"));
  ProgVolLabel2->repaint();
}

void TKVNMenuForm::ProgressChanged(double volume_percent, double job_percent) {
  ProgVolBar->setValue(static_cast<int>(volume_percent));
  ProgVolLabel2->setText(QString::fromStdString(FormatPercent(volume_percent)));
  ProgTotalBar->setValue(static_cast<int>(job_percent));
  ProgTotalLabel2->setText(QString::fromStdString(FormatPercent(job_percent)));
}

void TKVNMenuForm::TitlesChanged(std::optional<double> job_percent) {
  if (!job_percent) {
    shell_.SetApplicationTitle(shell_.ApplicationTitle());
    setWindowTitle(initial_caption_);
    return;
  }
  shell_.SetApplicationTitle(EncodingTitle(*job_percent));
  setWindowTitle(initial_caption_ + QString::fromStdString(EncodingCaptionSuffix(*job_percent)));
}

void TKVNMenuForm::JobEnded(size_t, const JobOutcome& outcome) {
  if (outcome.end == JobEnd::Completed) {
    ProgTotalBar->setValue(100);
    ProgTotalLabel2->setText(QStringLiteral("100.0 %"));
  }
  if (outcome.end == JobEnd::Failed && outcome.attended)
    platform::ShowMessage(this, outcome.message, platform::MessageIcon::Error);
}

void TKVNMenuForm::RunEnded() {
  StartItem->setEnabled(true);
  NewItem->setEnabled(WizardAvailable());
  AddItem->setEnabled(true);
  AbortItem->setEnabled(false);
  PauseItem->setEnabled(false);
  PauseChanged(false);
  QueueLeftLabel->clear();
  const std::vector<JobEntry>& jobs = Jobs().Jobs();
  StartAllItem->setEnabled(std::any_of(jobs.begin(), jobs.end(), [](const JobEntry& job) {
    return job.State == JobState::Pending;
  }));
  const int row = SelectedRow();
  if (row >= 0)
    JobListSelectItem(row, true);
  else
    JobListSelectItem(-1, false);
  repaint();
}

// --- pause, the power-off's countdown and a batch's time left --------------

void TKVNMenuForm::PauseItemClick() {
  if (runner_->Paused())
    runner_->Resume();
  else
    runner_->Pause();
}

void TKVNMenuForm::PauseChanged(bool paused) {
  PauseItem->setIcon(MenuPicture(paused ? "resume" : "pause"));
  const QString hint = paused ? QStringLiteral("Resume") : QStringLiteral("Pause");
  PauseItem->setToolTip(hint);
  PauseItem->setStatusTip(hint);
}

void TKVNMenuForm::QueueTimeLeftChanged(std::optional<HoursMinutes> left) {
  QueueLeftLabel->setText(QString::fromStdString(QueueTimeLeftText(left)));
}

void TKVNMenuForm::PowerOffCountdownChanged(std::optional<int> seconds_left) {
  if (!seconds_left) {
    if (power_off_form_) power_off_form_->deleteLater();
    power_off_form_.clear();
    return;
  }
  if (!power_off_form_) {
    power_off_form_ = new TKVNPowerOffForm(this);
    connect(power_off_form_, &TKVNPowerOffForm::CancelRequested, this,
            [this] { runner_->CancelPowerOff(); });
    power_off_form_->show();
  }
  power_off_form_->ShowSecondsLeft(*seconds_left);
}

}  // namespace queue
