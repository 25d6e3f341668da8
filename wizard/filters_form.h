#pragma once

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QWidget>

#include "wizard/job_settings.h"

namespace wizard {

// Centres a tool window on its owner, or on the screen without one.
void CentreOnOwner(QWidget* window);

// The filter options of the configuration page: deinterlacing, inverse
// telecine and field order. It loads the settings when shown and writes
// them back when closed by any means; meanwhile the wizard is disabled.
class TKVNNewFiltersForm : public QWidget {
  Q_OBJECT
 public:
  // `wizard` is disabled while the dialog shows; `owner` owns the window.
  TKVNNewFiltersForm(JobSettings& settings, QWidget* wizard, QWidget* owner);

 signals:
  // The settings were written back (frame rate and duration may differ).
  void Closed();

 public slots:
  void IVTCMethodComboChange();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormShow();
  void FormClose();

  JobSettings& settings_;
  QWidget* wizard_;
  bool handlers_active_ = true;

  QGroupBox* DeintGroupBox;
  QLabel* DeintMethodLabel;
  QComboBox* DeintMethodCombo;
  QGroupBox* IVTCGroupBox;
  QLabel *IVTCMethodLabel, *IVTCFieldLabel;
  QComboBox *IVTCMethodCombo, *IVTCFieldCombo;
};

}  // namespace wizard
