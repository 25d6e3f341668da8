#pragma once

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QRadioButton>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "queue/encoder_controller.h"
#include "queue/job_store.h"
#include "queue/priority_class.h"
#include "queue/up_down.h"

namespace queue {

// The working window: the job list, the commands on it, the details of the
// selected or running job, the encoder priority and the power-off options.
// It owns the in-memory job list and one encoder controller for its life,
// and runs the encoder over the queue (the runner half lives in
// job_runner.cpp).
class TKVNMenuForm : public QWidget, public EncoderEvents {
  Q_OBJECT
 public:
  // Needs the shell's RegistryAccess; `encoder` is the controller the runner
  // drives.
  explicit TKVNMenuForm(std::unique_ptr<EncoderController> encoder);
  ~TKVNMenuForm() override;

  const JobStore& Jobs() const { return store_; }

  // Appends the job in `folder` to the list, as Add Job and the wizard's
  // finish step do, and updates the commands and the shutdown controls.
  JobStore::AddResult AddJobFromFolder(const std::string& folder);

  void ResetDetailsPanel();
  void NormaliseShutdownControls();

  bool EncodingActive() const { return encoding_active_; }

  // Creates the new-job wizard for the queue window (owner); none until the
  // wizard is part of the program, and New Job is greyed then.
  using WizardFactory = std::function<QWidget*(TKVNMenuForm* owner)>;
  static void SetWizardFactory(WizardFactory factory);
  static bool WizardAvailable();

  // Notifications of the encoder controller, on the user-interface thread.
  void ShowVolumeProgress(double percent, bool changed) override;
  void VolumeFinished(int volume, int volumes) override;
  void RunStopped(bool failed, const std::string& message) override;

  // Stops the run: waits for the encoder's banner, then asks it to stop.
  void AbortRun();

 public slots:
  void StartItemClick();
  void StartAllItemClick();
  void AbortItemClick();
  void NewItemClick();
  void AddItemClick();
  void DelItemClick();
  void UpItemClick();
  void DownItemClick();
  void HelpReadmeItemClick();
  void HelpLicenseItemClick();
  void HelpAboutItemClick();
  void TimerTimer();
  void ShutCheckClick();
  void ShutAllRadioClick();
  void ShutJobRadioClick();
  void ShutVolRadioClick();
  void PriorityComboChange(int index);

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

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
  void RefreshRow(int row);
  void RebuildList();
  int SelectedRow() const;
  void SelectRow(int row);
  void OpenHelpFile(const char* file_name);
  // Saves the job list; a failure ends the application.
  void SaveJobListOrEnd();

  // Runner.
  void StartJob(int row);
  void StartVolumeRun(int volume, int volumes);
  void ReturnToIdle();
  void PowerOff();
  void ShowRunningTitles(double job_percent);
  void RestoreTitles();
  int FirstPendingRowBelow(int row) const;
  int ElapsedSecondsNow() const;
  void SetJobCommandsForRun();

  // Controls; the names are those of the window's design.
  QWidget* Dock;
  QToolBar* Toolbar;
  QAction* StartItem;
  QAction* StartAllItem;
  QAction* AbortItem;
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
  QGroupBox* ShutBox;
  QCheckBox* ShutCheck;
  QRadioButton *ShutAllRadio, *ShutJobRadio, *ShutVolRadio;
  QLineEdit *ShutJobEdit, *ShutVolEdit;
  UpDown *ShutJobUpDown, *ShutVolUpDown;
  QLabel* PriorityLabel;
  QComboBox* PriorityCombo;
  QTimer* Timer;

  JobStore store_;
  std::unique_ptr<EncoderController> encoder_;
  QString initial_caption_;
  bool encoding_active_ = false;
  bool selection_from_runner_ = false;
  int accepted_priority_ = 1;
  QPointer<QWidget> wizard_;

  // Run state.
  bool batch_mode_ = false;
  int running_row_ = -1;
  int running_volume_ = 0;
  int running_volumes_ = 0;
  QDateTime job_start_time_;
  int time_base_ = 0;
  int elapsed_counter_ = 0;
  std::string time_at_last_volume_, left_at_last_volume_;
  int saved_job_max_ = 0;
  int saved_vol_max_ = 0;
  double rate_sample_percent_ = -1.0;
  int rate_sample_seconds_ = -1;
};

}  // namespace queue
