#pragma once

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QRadioButton>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "queue/dropped_folder.h"
#include "queue/encoder_controller.h"
#include "queue/job_list_commands.h"
#include "queue/job_runner.h"
#include "queue/job_store.h"
#include "queue/power_off_form.h"
#include "queue/queue_shell.h"
#include "queue/runner_clock.h"
#include "queue/up_down.h"

namespace queue {

// The working window: the job list, the commands on it, the details of the
// selected or running job, the encoder priority and the power-off options.
// It shows the state of its JobRunner and hands the user's commands to it.
class TKVNMenuForm : public QWidget, private RunnerObserver {
  Q_OBJECT
 public:
  // `shell` is the application around the window; `encoder` the controller
  // the runner drives; `clock` the runner's clock.
  TKVNMenuForm(QueueShell& shell, std::unique_ptr<EncoderController> encoder,
               std::unique_ptr<RunnerClock> clock = MakeRunnerClock());
  ~TKVNMenuForm() override;

  const JobStore& Jobs() const { return runner_->Jobs(); }
  JobRunner& Runner() { return *runner_; }

  // Appends the job in `folder` to the list, as Add Job and the wizard's
  // finish step do, and updates the commands and the shutdown controls.
  JobStore::AddResult AddJobFromFolder(const std::string& folder);

  void ResetDetailsPanel();
  void NormaliseShutdownControls();

  bool EncodingActive() const { return runner_->Running(); }

  // Creates the new-job wizard for the queue window (owner), with its DVD
  // source filled in with `dvd_source` unless that is empty (a DVD folder
  // dropped on the window); none until the wizard is part of the program,
  // and New Job is greyed then.
  using WizardFactory = std::function<QWidget*(TKVNMenuForm* owner, const std::string& dvd_source)>;
  static void SetWizardFactory(WizardFactory factory);
  static bool WizardAvailable();

  // Stops the run: waits for the encoder's banner, then asks it to stop.
  void AbortRun();

 public slots:
  void StartItemClick();
  void StartAllItemClick();
  void AbortItemClick();
  void PauseItemClick();
  void NewItemClick();
  void AddItemClick();
  void DelItemClick();
  void UpItemClick();
  void DownItemClick();
  void HelpReadmeItemClick();
  void HelpLicenseItemClick();
  void HelpAboutItemClick();
  void ShutCheckClick();
  void ShutAllRadioClick();
  void ShutJobRadioClick();
  void ShutVolRadioClick();
  void PriorityComboChange(int index);

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void BuildToolbar();
  void BuildJobList();
  void BuildProgressBox();
  void BuildShutdownBox();

  void FormShow();
  void FormHide();
  void FormClose(QCloseEvent* event);
  void JobListSelectItem(int row, bool selected);
  void OnSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected);

  void ApplyShutdownEnabling();
  void SetPanelLabelsEnabled(bool enabled);
  void ShowRowDetails(int row);
  void ShowProblem(const std::string& problem);
  void RefreshRow(int row);
  void RebuildList();
  int SelectedRow() const;
  void SelectRow(int row);
  void OpenHelpFile(const char* file_name);

  // The list's context menu, keys and double-click, and the status line.
  void BuildListCommands();
  void OpenJobFolder(int row);
  // New Job, and Add Job once its folder is chosen; also the ends of a drop.
  void OpenWizard(const std::string& dvd_source);
  void AddChosenJobFolder(const std::string& folder);
  // What a drop of `mime` would do now, with the commands as they stand.
  DroppedFolder DropOf(const QMimeData* mime) const;

  // What the runner reports.
  void ListLoaded() override;
  void RowAdded(size_t row) override;
  void RowRemoved(size_t row) override;
  void RowsSwapped(size_t first, size_t second) override;
  void RowChanged(size_t row) override;
  void ListSaveFailed() override;
  void ShutdownCountsChanged() override;
  void RunStarted() override;
  void JobStarted(size_t row) override;
  void VolumeStarted(int volume, int volumes) override;
  void ProgressChanged(double volume_percent, double job_percent) override;
  void TitlesChanged(std::optional<double> job_percent) override;
  void JobEnded(size_t row, const JobOutcome& outcome) override;
  void RunEnded() override;
  void PauseChanged(bool paused) override;
  void QueueTimeLeftChanged(std::optional<HoursMinutes> left) override;
  void PowerOffCountdownChanged(std::optional<int> seconds_left) override;

  // Controls; the names are those of the window's design.
  QWidget* Dock;
  QToolBar* Toolbar;
  QAction* StartItem;
  QAction* StartAllItem;
  QAction* AbortItem;
  QAction* PauseItem;
  QAction* NewItem;
  QAction* AddItem;
  QAction* DelItem;
  QAction* UpItem;
  QAction* DownItem;
  QToolButton* HelpSubmenuItem;
  QAction* HelpReadmeItem;
  QAction* HelpLicenseItem;
  QAction* HelpAboutItem;
  QTreeWidget* JobList;
  QGroupBox* ProgBox;
  QLabel *ProgLabel1, *ProgLabel2, *ProgLabel3, *ProgLabel4, *ProgTotalLabel1;
  QLabel *ProgJobLabel, *ProgDateLabel, *ProgTimeLabel, *ProgLeftLabel;
  QLabel *ProgVolLabel1, *ProgVolLabel2, *ProgTotalLabel2;
  QProgressBar *ProgVolBar, *ProgTotalBar;
  // Why the shown job's last run failed, or why it is broken.
  QLabel* ProgProblemLabel;
  QGroupBox* ShutBox;
  QCheckBox* ShutCheck;
  QRadioButton *ShutAllRadio, *ShutJobRadio, *ShutVolRadio;
  QLineEdit *ShutJobEdit, *ShutVolEdit;
  UpDown *ShutJobUpDown, *ShutVolUpDown;
  QLabel* PriorityLabel;
  QComboBox* PriorityCombo;
  // A batch's time left, and the status tips of the commands.
  QStatusBar* StatusBar;
  QLabel* QueueLeftLabel;  // a batch's time left

  QueueShell& shell_;
  std::unique_ptr<JobRunner> runner_;
  QString initial_caption_;
  int accepted_priority_ = 1;
  QPointer<QWidget> wizard_;
  QPointer<TKVNPowerOffForm> power_off_form_;
  JobListCommands* list_commands_ = nullptr;
};

}  // namespace queue
