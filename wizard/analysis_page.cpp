#include "wizard/analysis_page.h"

#include <QHeaderView>
#include <QLocale>
#include <QPushButton>
#include <QTime>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/file_system.h"
#include "platform/message_box.h"
#include "platform/sounds.h"
#include "queue/folder_tree.h"
#include "wizard/wizard_host.h"
#include "wizard/wizard_state.h"

namespace wizard {

namespace {

constexpr int kLogRowHeight = 20;

QString LocalLongTime() {
  // The system's long time format without a time zone.
  QString format = QLocale::system().timeFormat(QLocale::LongFormat);
  format.remove(QLatin1Char('t'));
  return QLocale::system().toString(QTime::currentTime(), format.trimmed());
}

}  // namespace

AnalysisPage::AnalysisPage(WizardFrame& frame,
                           std::function<std::vector<queue::JobEntry>()> queue_rows)
    : frame_(frame), queue_rows_(std::move(queue_rows)) {
  for (const char* name : {"log_info", "log_warning", "log_error", "log_working"})
    LogIconList.push_back(QIcon(QStringLiteral(":/wizard/%1.svg").arg(QLatin1String(name))));

  LogList = new QTreeWidget(this);
  LogList->setObjectName(QStringLiteral("LogList"));
  LogList->setColumnCount(3);
  LogList->setHeaderLabels({QString(), QStringLiteral("Time"), QStringLiteral("Event")});
  LogList->setRootIsDecorated(false);
  LogList->setFocusPolicy(Qt::NoFocus);
  LogList->setSelectionMode(QAbstractItemView::NoSelection);
  LogList->setEditTriggers(QAbstractItemView::NoEditTriggers);
  LogList->header()->setSectionResizeMode(QHeaderView::Fixed);
  LogList->header()->setSectionsMovable(false);
  LogList->setColumnWidth(0, 26);
  LogList->setColumnWidth(1, 80);
  LogList->setColumnWidth(2, 311);

  ProgressBar = new QProgressBar(this);
  ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
  ProgressBar->setRange(0, 100);
  ProgressBar->setValue(0);
  TimeTextLabel = new QLabel(QStringLiteral("Time remaining:"), this);
  TimeTextLabel->setObjectName(QStringLiteral("TimeTextLabel"));
  TimeLabel = new QLabel(QStringLiteral("? minutes"), this);
  TimeLabel->setObjectName(QStringLiteral("TimeLabel"));
  TimeTextLabel->hide();
  TimeLabel->hide();

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(12, 10, 12, 6);
  layout->addWidget(LogList, 1);
  layout->addWidget(ProgressBar);
  auto* time_row = new QHBoxLayout();
  time_row->addWidget(TimeTextLabel);
  time_row->addWidget(TimeLabel, 1);
  layout->addLayout(time_row);
}

AnalysisPage::~AnalysisPage() {
  // A worker waiting in a call returns at once, sees the stop and ends.
  calls_.Shutdown();
  threads_.clear();
  if (frame_.State().AnalysisRunning) RestoreApplicationTitle();
}

void AnalysisPage::Enter() {
  WizardState& state = frame_.State();
  frame_.BackButton()->setEnabled(true);
  frame_.BackButton()->show();
  frame_.SetHeader(1, QStringLiteral("DVD Analysis"),
                   QStringLiteral("Please wait while analyzing the DVD title..."));
  frame_.NextButton()->setEnabled(false);
  LogList->clear();
  ProgressBar->setValue(0);
  remaining_.Reset();
  ShowRemainingTime();
  frame_.SelectNotebookPage(kAnalysisPage);
  state.TreeStale = true;
  state.SelectionChanged = true;
  state.PreparedTitle = TitleChoice();
  state.AnalysisDone = false;
  state.AnalysisAborting = false;
  for (TitleSetInfo& entry : state.TitleSets) entry = TitleSetInfo();
  AddLogLine(LogKind::Information, QStringLiteral("Analysis started"));

  AnalysisSetup setup;
  setup.JobFolder = state.JobFolder;
  setup.JobDataFolder = state.JobDataFolder;
  setup.DvdFolder = state.DvdFolder;
  if (queue_rows_) setup.Queue = queue_rows_();
  threads_.push_back(
      std::make_unique<TKVNAnalyzeThread>(std::move(setup), state.TitleSets, *this, calls_));
  state.AnalysisRunning = true;
}

bool AnalysisPage::Leave(bool forward) {
  WizardState& state = frame_.State();
  if (state.AnalysisRunning && !AbortAnalysis(Question::Abort)) return false;
  if (state.AnalysisDone && !forward && platform::DirectoryExists(state.JobFolder)) {
    if (!platform::AskYesNo(
            frame_.Window(),
            "The result of the analysis will be discarded. Are you sure you want to do this?",
            platform::MessageIcon::Warning))
      return false;
    queue::RemoveFolderTree(state.JobFolder);
  }
  return true;
}

bool AnalysisPage::AbortAnalysis(Question question) {
  WizardState& state = frame_.State();
  // A question of the worker is open: it is answered first.
  if (calls_.Serving() || threads_.empty()) return false;
  TKVNAnalyzeThread& thread = *threads_.back();
  PauseAnalysis();
  const bool yes =
      platform::AskYesNo(frame_.Window(),
                         question == Question::Abort ? "Do you really want abort the analysis?"
                                                     : "Do you really want to close this wizard?",
                         platform::MessageIcon::Warning);
  if (!yes) {
    ResumeAnalysis();
    return false;
  }
  state.AnalysisAborting = true;
  ResumeAnalysis();
  thread.Terminate();
  thread.WaitFor();
  state.AnalysisRunning = false;
  if (platform::DirectoryExists(state.JobFolder)) queue::RemoveFolderTree(state.JobFolder);
  RestoreApplicationTitle();
  remaining_.Reset();
  ShowRemainingTime();
  AddLogLine(LogKind::Error, QStringLiteral("Analysis aborted"));
  platform::ShowMessage(frame_.Window(), "Analysis aborted by user.", platform::MessageIcon::Error);
  return true;
}

bool AnalysisPage::WorkerRunning() const {
  return std::any_of(threads_.begin(), threads_.end(),
                     [](const auto& thread) { return !thread->Finished(); });
}

void AnalysisPage::PauseAnalysis() {
  threads_.back()->Pause();
  calls_.Hold(true);
}

void AnalysisPage::ResumeAnalysis() {
  calls_.Hold(false);
  threads_.back()->Resume();
}

void AnalysisPage::Log(LogKind kind, const std::string& text) {
  AddLogLine(kind, QString::fromStdString(text));
}

void AnalysisPage::Progress(int percent) {
  ProgressBar->setValue(percent);
  WizardHost& host = frame_.Host();
  host.SetApplicationTitle(host.ApplicationTitle() + " - " + std::to_string(percent) + "%");
}

void AnalysisPage::RemainingSeconds(int seconds) {
  remaining_.Update(seconds);
  ShowRemainingTime();
}

void AnalysisPage::ShowError(const std::string& message) {
  platform::ShowMessage(frame_.Window(), message, platform::MessageIcon::Error);
}

bool AnalysisPage::AskImport() {
  return platform::AskYesNo(frame_.Window(),
                            "Do you want to import the analysis data from a pending job?",
                            platform::MessageIcon::Information);
}

void AnalysisPage::Ended(bool success) {
  RestoreApplicationTitle();
  AnalysisEnded(success);
}

void AnalysisPage::AnalysisEnded(bool success) {
  WizardState& state = frame_.State();
  if (state.AnalysisAborting) return;
  if (!success) {
    state.AnalysisDone = false;
    state.AnalysisRunning = false;
    frame_.Release();
    return;
  }
  remaining_.Reset();
  ShowRemainingTime();
  frame_.NextButton()->setEnabled(true);
  state.AnalysisRunning = false;
  state.AnalysisDone = true;
  ProgressBar->setValue(100);
  AddLogLine(LogKind::Information, QStringLiteral("Analysis finished"));
  frame_.SetHeaderComment(QStringLiteral("Press the \"Next\" button to continue!"));
  platform::TheSounds().Play(platform::SystemSound::Default);
  frame_.NextButton()->setFocus();
}

void AnalysisPage::AddLogLine(LogKind kind, const QString& text) {
  auto* row = new QTreeWidgetItem(LogList);
  row->setIcon(0, LogIconList.value(static_cast<int>(kind)));
  row->setData(0, Qt::UserRole, static_cast<int>(kind));
  row->setText(1, LocalLongTime());
  row->setText(2, text);
  row->setSizeHint(0, QSize(26, kLogRowHeight));
  LogList->scrollToItem(row);
}

void AnalysisPage::ShowRemainingTime() {
  TimeLabel->setText(QString::fromStdString(remaining_.Text()));
  TimeTextLabel->setVisible(remaining_.Visible());
  TimeLabel->setVisible(remaining_.Visible());
}

void AnalysisPage::RestoreApplicationTitle() {
  WizardHost& host = frame_.Host();
  host.SetApplicationTitle(host.ApplicationTitle());
}

}  // namespace wizard
