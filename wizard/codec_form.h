#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QWidget>

#include "queue/up_down.h"
#include "wizard/job_settings.h"

namespace wizard {

// The codec properties of the encoder job files, for experts. Without
// "Manual" the dialog shows the automatic values, which cannot be changed.
// It loads the settings when shown and writes them back when closed by any
// means; meanwhile the wizard is disabled.
class TKVNNewCodecForm : public QWidget {
  Q_OBJECT
 public:
  TKVNNewCodecForm(JobSettings& settings, QWidget* wizard, QWidget* owner);

 public slots:
  void ManualCheckClick();
  void RCNewCheckClick();
  void BMaxRadioClick();
  void BPatternRadioClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormShow();
  void FormClose();
  // The controls from the codec fields of `settings`.
  void LoadControls(const JobSettings& settings);
  void RateControlEnabling(bool on);
  void SpinnerExit(QLineEdit* edit, queue::UpDown* up_down, bool percent);
  void MakeSpinner(QWidget* parent, const char* name, int max_length, int maximum, QLineEdit*& edit,
                   queue::UpDown*& up_down);

  JobSettings& settings_;
  QWidget* wizard_;
  bool handlers_active_ = true;

  QCheckBox* ManualCheck;
  QGroupBox* RCGroupBox;
  QCheckBox* RCNewCheck;
  QLabel *RCHighLabel1, *RCHighLabel2, *RCLowLabel1, *RCLowLabel2;
  QLineEdit *RCHighEdit, *RCLowEdit;
  queue::UpDown *RCHighUpDown, *RCLowUpDown;
  QGroupBox* QuantGroupBox;
  QLabel *RefQuantPLabel, *RefQuantBLabel;
  QLineEdit *RefQuantPEdit, *RefQuantBEdit;
  queue::UpDown *RefQuantPUpDown, *RefQuantBUpDown;
  QGroupBox* InloopGroupBox;
  QLabel* InloopQuantLabel;
  QLineEdit* InloopQuantEdit;
  queue::UpDown* InloopQuantUpDown;
  QCheckBox *InloopCompatCheck, *InloopBRefQuantCheck;
  QGroupBox* BGroupBox;
  QRadioButton *BMaxRadio, *BPatternRadio;
  QComboBox *BMaxCombo, *BPatternCombo;
  QGroupBox* MiscGroupBox;
  QCheckBox *MiscAllFramesCheck, *MiscChromaCheck, *MiscRPRCheck;
};

}  // namespace wizard
