// The runner half of the queue window: it encodes the selected job, or every
// pending job from the top, volume after volume through the encoder
// controller, keeps the times and the JobFile up to date, and switches the
// computer off when asked.
#include <QApplication>
#include <QEventLoop>
#include <cmath>
#include <cstdio>

#include "app/shell_state.h"
#include "platform/file_system.h"
#include "platform/message_box.h"
#include "platform/power_off.h"
#include "platform/sounds.h"
#include "queue/folder_tree.h"
#include "queue/job_details.h"
#include "queue/job_file.h"
#include "queue/queue_window.h"

namespace queue {

void TKVNMenuForm::SetJobCommandsForRun() {
  encoding_active_ = true;
  for (QAction* action : {StartItem, StartAllItem, NewItem, AddItem, DelItem, UpItem, DownItem})
    action->setEnabled(false);
  AbortItem->setEnabled(true);
  SetPanelLabelsEnabled(true);
}

void TKVNMenuForm::StartItemClick() {
  const int row = SelectedRow();
  if (row < 0 || encoding_active_ ||
      store_.Jobs()[static_cast<size_t>(row)].State != JobState::Pending)
    return;
  SetJobCommandsForRun();
  batch_mode_ = false;
  saved_job_max_ = ShutJobUpDown->Maximum();
  saved_vol_max_ = ShutVolUpDown->Maximum();
  int done = 0, total = 0;
  ParseProgress(store_.Jobs()[static_cast<size_t>(row)].Progress, done, total);
  // A single job: the options count within this job only.
  ShutJobUpDown->SetMaximum(1);
  ShutVolUpDown->SetMaximum(total - done);
  NormaliseShutdownControls();
  StartJob(row);
}

void TKVNMenuForm::StartAllItemClick() {
  if (encoding_active_) return;
  const int row = FirstPendingRowBelow(-1);
  if (row < 0) return;
  SetJobCommandsForRun();
  saved_job_max_ = ShutJobUpDown->Maximum();
  saved_vol_max_ = ShutVolUpDown->Maximum();
  batch_mode_ = true;
  StartJob(row);
}

int TKVNMenuForm::FirstPendingRowBelow(int row) const {
  for (size_t i = static_cast<size_t>(row + 1); i < store_.Jobs().size(); ++i)
    if (store_.Jobs()[i].State == JobState::Pending) return static_cast<int>(i);
  return -1;
}

void TKVNMenuForm::StartJob(int row) {
  running_row_ = row;
  // The row is shown as a selection of the runner's own: commands stay as
  // they are and the labels stay enabled.
  encoding_active_ = false;
  selection_from_runner_ = true;
  if (SelectedRow() == row)
    JobListSelectItem(row, true);
  else
    SelectRow(row);
  selection_from_runner_ = false;
  encoding_active_ = true;

  JobEntry& job = store_.Job(static_cast<size_t>(row));
  job.State = JobState::Running;
  // The encoder runs in the job's data folder ("pid", "avsdebug").
  platform::SetCurrentFolder(JobDataFolderOf(job.Path));
  int done = 0, total = 0;
  ParseProgress(job.Progress, done, total);
  time_at_last_volume_ = job.Time;
  left_at_last_volume_ = job.Left;
  if (job.Time == "--") {
    time_base_ = elapsed_counter_ = 0;
    job.Time = "00:00";
    ProgTimeLabel->setText(QStringLiteral("00:00"));
  } else {
    int hours = 0, minutes = 0;
    std::sscanf(job.Time.c_str(), "%d:%d", &hours, &minutes);
    time_base_ = elapsed_counter_ = hours * 3600 + minutes * 60;
    ProgTimeLabel->setText(QString::fromStdString(job.Time));
  }
  ProgLeftLabel->setText(QString::fromStdString(job.Left));
  RefreshRow(row);
  job_start_time_ = QDateTime::currentDateTime();
  rate_sample_percent_ = -1.0;
  rate_sample_seconds_ = -1;
  Timer->start();
  StartVolumeRun(done + 1, total);
}

void TKVNMenuForm::StartVolumeRun(int volume, int volumes) {
  running_volume_ = volume;
  running_volumes_ = volumes;
  char caption[64];
  std::snprintf(caption, sizeof caption, "Volume %d / %d:", volume, volumes);
  ProgVolLabel1->setText(QString::fromUtf8(caption));
  ProgVolBar->setValue(0);
  ProgVolLabel2->setText(QStringLiteral("0.0 %"));
  ProgVolLabel2->repaint();
  encoder_->Close();
  char job_file[32];
  std::snprintf(job_file, sizeof job_file, "out%.2d.rpjf", volume);
  if (!encoder_->StartVolume(app::Shell().EncoderPath, job_file, volume, volumes,
                             PriorityClassOf(PriorityCombo->currentIndex())))
    RunStopped(true, "Unable to initialize encoder!");
}

int TKVNMenuForm::ElapsedSecondsNow() const {
  return static_cast<int>(job_start_time_.secsTo(QDateTime::currentDateTime())) + time_base_;
}

void TKVNMenuForm::ShowRunningTitles(double job_percent) {
  app::ShellState& shell = app::Shell();
  if (std::ceil(job_percent) == 100.0) {
    RestoreTitles();
    return;
  }
  char suffix[48];
  std::snprintf(suffix, sizeof suffix, " - %.1f%%", job_percent);
  if (shell.MainWindow) shell.MainWindow->setWindowTitle(QStringLiteral("Kestrevane") + suffix);
  std::snprintf(suffix, sizeof suffix, " - Encoding %.1f%%", job_percent);
  setWindowTitle(initial_caption_ + QString::fromUtf8(suffix));
}

void TKVNMenuForm::RestoreTitles() {
  app::ShellState& shell = app::Shell();
  if (shell.MainWindow)
    shell.MainWindow->setWindowTitle(QString::fromStdString(shell.ApplicationTitle));
  setWindowTitle(initial_caption_);
}

void TKVNMenuForm::ShowVolumeProgress(double percent, bool changed) {
  ProgVolBar->setValue(static_cast<int>(percent));
  ProgVolLabel2->setText(QString::fromStdString(FormatPercent(percent)));
  const double job_percent =
      ((running_volume_ - 1) * 100.0 + percent) / std::max(running_volumes_, 1);
  ProgTotalBar->setValue(static_cast<int>(job_percent));
  ProgTotalLabel2->setText(QString::fromStdString(FormatPercent(job_percent)));
  ShowRunningTitles(job_percent);
  if (changed) {
    rate_sample_percent_ = job_percent;
    rate_sample_seconds_ = ElapsedSecondsNow();
  }
}

void TKVNMenuForm::TimerTimer() {
  if (running_row_ < 0) return;
  elapsed_counter_ += Timer->interval() / 1000;
  const int hours = elapsed_counter_ / 3600;
  const std::string elapsed = FormatHoursMinutes({hours, elapsed_counter_ / 60 - hours * 60});
  std::optional<std::string> left;
  if (rate_sample_percent_ > 0.01 && rate_sample_seconds_ >= 1) {
    const double d = ElapsedSecondsNow();
    const double e = d * rate_sample_percent_ / rate_sample_seconds_;
    if (e > 0.01) {
      const int r = static_cast<int>(d * (100.0 - e) / e);
      const int left_hours = r / 3600;
      left = FormatHoursMinutes({left_hours, static_cast<int>(r / 60.0) - left_hours * 60});
    }
  }
  JobEntry& job = store_.Job(static_cast<size_t>(running_row_));
  job.Time = elapsed;
  ProgTimeLabel->setText(QString::fromStdString(elapsed));
  if (left) {
    job.Left = *left;
    ProgLeftLabel->setText(QString::fromStdString(*left));
  }
  RefreshRow(running_row_);
}

void TKVNMenuForm::VolumeFinished(int volume, int volumes) {
  if (running_row_ < 0) return;
  // The encoder has ended: the titles are plain until the next volume reports.
  RestoreTitles();
  JobEntry& job = store_.Job(static_cast<size_t>(running_row_));
  char progress[32];
  std::snprintf(progress, sizeof progress, "%d / %d", volume, volumes);
  job.Progress = progress;
  if (volume == volumes) {
    job.Left = "--";
    ProgLeftLabel->setText(QStringLiteral("--"));
  }
  const bool volume_stop =
      ShutCheck->isChecked() && ShutVolRadio->isChecked() && ShutVolUpDown->Position() == 1;
  if (ShutCheck->isChecked() && ShutVolRadio->isChecked())
    ShutVolUpDown->SetPosition(ShutVolUpDown->Position() - 1);
  ShutVolUpDown->SetMaximum(ShutVolUpDown->Maximum() - 1);
  saved_vol_max_ -= 1;
  // A JobFile that cannot be written keeps its previous state; the run goes on.
  WriteJobFile(job);
  time_at_last_volume_ = job.Time;
  left_at_last_volume_ = job.Left;
  if (volume == volumes) {
    job.State = JobState::Done;
    platform::SetCurrentFolder(job.Path);
    RemoveFolderTree(JobDataFolderOf(job.Path));
    if (!store_.SaveJobList()) {
      platform::ShowMessage(this, "Error updating configuration!", platform::MessageIcon::Error);
      app::EndApplication();
    }
  }
  RefreshRow(running_row_);

  if (volume_stop) {
    if (volume < volumes) {
      RestoreTitles();
      job.State = JobState::Pending;
      RefreshRow(running_row_);
    }
    Timer->stop();
    NormaliseShutdownControls();
    platform::TheSounds().Play(platform::SystemSound::Default);
    ReturnToIdle();
    PowerOff();
    return;
  }
  if (volume == volumes) {
    Timer->stop();
    const bool job_stop =
        ShutCheck->isChecked() && ShutJobRadio->isChecked() && ShutJobUpDown->Position() == 1;
    if (ShutCheck->isChecked() && ShutJobRadio->isChecked())
      ShutJobUpDown->SetPosition(ShutJobUpDown->Position() - 1);
    ShutJobUpDown->SetMaximum(ShutJobUpDown->Maximum() - 1);
    saved_job_max_ -= 1;
    NormaliseShutdownControls();
    ProgTotalBar->setValue(100);
    ProgTotalLabel2->setText(QStringLiteral("100.0 %"));
    platform::TheSounds().Play(platform::SystemSound::Default);
    if (batch_mode_ && !job_stop) {
      const int next = FirstPendingRowBelow(running_row_);
      if (next >= 0) {
        StartJob(next);
        return;
      }
    }
    ReturnToIdle();
    if (job_stop || (ShutCheck->isChecked() && ShutAllRadio->isChecked())) PowerOff();
    return;
  }
  NormaliseShutdownControls();
  repaint();
  StartVolumeRun(volume + 1, volumes);
}

void TKVNMenuForm::RunStopped(bool failed, const std::string& message) {
  if (running_row_ < 0) return;
  RestoreTitles();
  Timer->stop();
  JobEntry& job = store_.Job(static_cast<size_t>(running_row_));
  bool stop = false;
  if (!failed) {
    job.State = JobState::Pending;
    platform::TheSounds().Play(platform::SystemSound::Exclamation);
  } else {
    // Unattended runs only sound the failure.
    if (batch_mode_ || ShutCheck->isChecked())
      platform::TheSounds().Play(platform::SystemSound::Error);
    else
      platform::ShowMessage(this, message, platform::MessageIcon::Error);
    job.State = JobState::Pending;
    int done = 0, total = 0;
    ParseProgress(job.Progress, done, total);
    const int remaining = total - done;
    if (ShutCheck->isChecked()) {
      if (ShutJobRadio->isChecked()) {
        if (ShutJobUpDown->Position() == 1)
          stop = true;
        else
          ShutJobUpDown->SetPosition(ShutJobUpDown->Position() - 1);
      } else if (ShutVolRadio->isChecked()) {
        if (remaining < ShutVolUpDown->Position())
          ShutVolUpDown->SetPosition(ShutVolUpDown->Position() - remaining);
        else
          stop = true;
      }
    }
    ShutVolUpDown->SetMaximum(ShutVolUpDown->Maximum() - remaining);
    ShutJobUpDown->SetMaximum(ShutJobUpDown->Maximum() - 1);
    NormaliseShutdownControls();
  }
  RefreshRow(running_row_);
  if (failed && batch_mode_ && !stop) {
    const int next = FirstPendingRowBelow(running_row_);
    if (next >= 0) {
      StartJob(next);
      return;
    }
  }
  job.Time = time_at_last_volume_;
  job.Left = left_at_last_volume_;
  RefreshRow(running_row_);
  ProgVolBar->setValue(0);
  ProgVolLabel2->setText(QStringLiteral("0.0 %"));
  RestoreTitles();
  ReturnToIdle();
  if (stop || (failed && ShutCheck->isChecked() && ShutAllRadio->isChecked())) PowerOff();
}

void TKVNMenuForm::ReturnToIdle() {
  StartItem->setEnabled(true);
  NewItem->setEnabled(WizardAvailable());
  AddItem->setEnabled(true);
  AbortItem->setEnabled(false);
  StartAllItem->setEnabled(FirstPendingRowBelow(-1) >= 0);
  encoding_active_ = false;
  running_row_ = -1;
  ShutVolUpDown->SetMaximum(saved_vol_max_);
  ShutJobUpDown->SetMaximum(saved_job_max_);
  NormaliseShutdownControls();
  const int row = SelectedRow();
  if (row >= 0)
    JobListSelectItem(row, true);
  else
    JobListSelectItem(-1, false);
  repaint();
}

void TKVNMenuForm::AbortRun() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  // Until the encoder has announced itself it cannot be asked to stop; its
  // notifications are still handled, so a run that ends meanwhile ends here.
  while (encoding_active_ && !encoder_->BannerSeen()) {
    QEventLoop wait;
    QTimer::singleShot(50, &wait, &QEventLoop::quit);
    wait.exec(QEventLoop::ExcludeUserInputEvents);
  }
  if (encoding_active_) encoder_->RequestStop();
  QApplication::restoreOverrideCursor();
}

void TKVNMenuForm::PowerOff() {
  // A refused power-off leaves the program idle; nothing is shown.
  platform::ThePowerOff().Request(nullptr);
}

}  // namespace queue
