#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QWidget>

#include "queue/up_down.h"
#include "wizard/codec_controls.h"
#include "wizard/job_settings.h"

namespace wizard {

// The codec properties of the encoder job files, for experts. Without
// "Manual" the dialog shows the automatic values, which cannot be changed.
// It loads the settings when shown and writes them back when closed by any
// means; meanwhile the wizard is disabled. Which controls can be used
// follows EnabledCodecControls of the settings as the controls hold them.
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
  // The group boxes with their controls (codec_form_groups.cpp).
  void BuildRateControlGroup();
  void BuildQuantizerGroup();
  void BuildInloopGroup();
  void BuildBFrameGroup();
  void BuildMiscGroup();
  void MakeSpinner(QWidget* parent, const char* name, int max_length, int maximum, QLineEdit*& edit,
                   queue::UpDown*& up_down);
  // The controls from the codec fields of `settings`.
  void LoadControls(const JobSettings& settings);
  // The settings with the codec fields the enabling depends on as the
  // controls hold them.
  JobSettings Edited() const;
  void ShowEnabled(const CodecControls& enabled);
  void SpinnerExit(QLineEdit* edit, queue::UpDown* up_down, bool percent);

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
