#include "wizard/codec_form.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QShowEvent>

#include "wizard/filters_form.h"
#include "wizard/numeric_entry.h"
#include "wizard/option_choices.h"
#include "wizard/settings_changes.h"

namespace wizard {

namespace {

const NumberMessages kPercentMessages = {"Please enter an integer between 0 and 100.",
                                         "Please enter a valid integer between 0 and 100."};
const NumberMessages kQuantizerMessages = {"Please enter an integer between 0 and 30.",
                                           "Please enter a valid integer between 0 and 30."};

void SetAllEnabled(std::initializer_list<QWidget*> widgets, bool enabled) {
  for (QWidget* widget : widgets) widget->setEnabled(enabled);
}

}  // namespace

TKVNNewCodecForm::TKVNNewCodecForm(JobSettings& settings, QWidget* wizard, QWidget* owner)
    : QWidget(owner, Qt::Tool), settings_(settings), wizard_(wizard) {
  setObjectName(QStringLiteral("TKVNNewCodecForm"));
  setWindowTitle(QStringLiteral("Codec options (experts only)"));

  ManualCheck = new QCheckBox(QStringLiteral("Manual"), this);
  ManualCheck->setObjectName(QStringLiteral("ManualCheck"));
  BuildRateControlGroup();
  BuildQuantizerGroup();
  BuildInloopGroup();
  BuildBFrameGroup();
  BuildMiscGroup();

  auto* grid = new QGridLayout(this);
  grid->addWidget(ManualCheck, 0, 0, 1, 2);
  grid->addWidget(RCGroupBox, 1, 0);
  grid->addWidget(QuantGroupBox, 2, 0);
  grid->addWidget(InloopGroupBox, 3, 0);
  grid->addWidget(BGroupBox, 1, 1);
  grid->addWidget(MiscGroupBox, 2, 1, 2, 1, Qt::AlignTop);
  grid->setSizeConstraint(QLayout::SetFixedSize);

  connect(ManualCheck, &QCheckBox::clicked, this, &TKVNNewCodecForm::ManualCheckClick);
  connect(RCNewCheck, &QCheckBox::clicked, this, &TKVNNewCodecForm::RCNewCheckClick);
  connect(BMaxRadio, &QRadioButton::clicked, this, &TKVNNewCodecForm::BMaxRadioClick);
  connect(BPatternRadio, &QRadioButton::clicked, this, &TKVNNewCodecForm::BPatternRadioClick);
}

void TKVNNewCodecForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TKVNNewCodecForm::closeEvent(QCloseEvent* event) {
  event->accept();
  FormClose();
}

void TKVNNewCodecForm::LoadControls(const JobSettings& s) {
  RCNewCheck->setChecked(s.rcEnableCurveCompression);
  RCHighEdit->setText(QString::number(s.rcHighBitrateReduce));
  RCLowEdit->setText(QString::number(s.rcLowBitrateBoost));
  RefQuantPEdit->setText(QString::number(s.rcPFrameRefQuant));
  RefQuantBEdit->setText(QString::number(s.rcBFrameRefQuant));
  InloopQuantEdit->setText(QString::number(s.inloopCutOffQuant));
  InloopCompatCheck->setChecked(s.inloopCutOffCompatible);
  InloopBRefQuantCheck->setChecked(s.inloopCutOffBUseRefQuant);
  BMaxRadio->setChecked(s.UseMaxConsecutiveBFrames);
  BPatternRadio->setChecked(!s.UseMaxConsecutiveBFrames);
  BMaxCombo->setCurrentIndex(MaxBFramesIndex(s.maxConsecutiveBFrames));
  BPatternCombo->setCurrentIndex(std::clamp(s.patternAdaptivity, 0, 3));
  MiscAllFramesCheck->setChecked(s.encodeAllFrames);
  MiscChromaCheck->setChecked(s.chromaModeDecision);
  MiscRPRCheck->setChecked(s.enableRPR);
}

JobSettings TKVNNewCodecForm::Edited() const {
  JobSettings s = settings_;
  s.CodecManual = ManualCheck->isChecked();
  s.rcEnableCurveCompression = RCNewCheck->isChecked();
  s.UseMaxConsecutiveBFrames = BMaxRadio->isChecked();
  s.encodeAllFrames = MiscAllFramesCheck->isChecked();
  return s;
}

void TKVNNewCodecForm::ShowEnabled(const CodecControls& enabled) {
  RCNewCheck->setEnabled(enabled.CurveCompression);
  SetAllEnabled({RCHighLabel1, RCHighEdit, RCHighUpDown, RCHighLabel2, RCLowLabel1, RCLowEdit,
                 RCLowUpDown, RCLowLabel2, RefQuantPLabel, RefQuantPEdit, RefQuantPUpDown,
                 RefQuantBLabel, RefQuantBEdit, RefQuantBUpDown},
                enabled.RateControl);
  MiscAllFramesCheck->setEnabled(enabled.AllFrames);
  SetAllEnabled({InloopQuantLabel, InloopQuantEdit, InloopQuantUpDown, InloopCompatCheck,
                 InloopBRefQuantCheck, BMaxRadio, BPatternRadio, MiscChromaCheck, MiscRPRCheck},
                enabled.Manual);
  BMaxCombo->setEnabled(enabled.MaxBFrames);
  BPatternCombo->setEnabled(enabled.BPattern);
}

void TKVNNewCodecForm::FormShow() {
  handlers_active_ = false;
  wizard_->setEnabled(false);
  setEnabled(true);
  CentreOnOwner(this);
  activateWindow();
  ManualCheck->setChecked(settings_.CodecManual);
  LoadControls(settings_);
  handlers_active_ = true;
  ManualCheckClick();
}

void TKVNNewCodecForm::ManualCheckClick() {
  if (!handlers_active_) return;
  if (!ManualCheck->isChecked()) {
    // The dialog always shows the values that will be used.
    JobSettings automatic = settings_;
    automatic.CodecManual = false;
    automatic.ApplyCodecDefaults();
    LoadControls(automatic);
  }
  ShowEnabled(EnabledCodecControls(Edited()));
}

void TKVNNewCodecForm::RCNewCheckClick() {
  if (!handlers_active_ || !ManualCheck->isChecked()) return;
  JobSettings edited = Edited();
  ChooseCurveCompression(edited, RCNewCheck->isChecked());
  MiscAllFramesCheck->setChecked(edited.encodeAllFrames);
  ShowEnabled(EnabledCodecControls(edited));
}

void TKVNNewCodecForm::BMaxRadioClick() {
  if (!handlers_active_ || !ManualCheck->isChecked()) return;
  ShowEnabled(EnabledCodecControls(Edited()));
}

void TKVNNewCodecForm::BPatternRadioClick() {
  if (!handlers_active_ || !ManualCheck->isChecked()) return;
  ShowEnabled(EnabledCodecControls(Edited()));
}

void TKVNNewCodecForm::SpinnerExit(QLineEdit* edit, queue::UpDown* up_down, bool percent) {
  if (!CheckNumberField(*edit, percent ? kPercentMessages : kQuantizerMessages)) return;
  edit->setText(QString::number(SpinnerValue(*up_down)));
}

void TKVNNewCodecForm::FormClose() {
  JobSettings& s = settings_;
  s.CodecManual = ManualCheck->isChecked();
  s.rcEnableCurveCompression = RCNewCheck->isChecked();
  // A field left empty or holding no number keeps its last value.
  auto number = [](QLineEdit* edit, queue::UpDown* up_down, int& field) {
    if (HoldsInteger(*edit)) field = SpinnerValue(*up_down);
  };
  number(RCHighEdit, RCHighUpDown, s.rcHighBitrateReduce);
  number(RCLowEdit, RCLowUpDown, s.rcLowBitrateBoost);
  number(RefQuantPEdit, RefQuantPUpDown, s.rcPFrameRefQuant);
  number(RefQuantBEdit, RefQuantBUpDown, s.rcBFrameRefQuant);
  number(InloopQuantEdit, InloopQuantUpDown, s.inloopCutOffQuant);
  s.inloopCutOffCompatible = InloopCompatCheck->isChecked();
  s.inloopCutOffBUseRefQuant = InloopBRefQuantCheck->isChecked();
  s.UseMaxConsecutiveBFrames = BMaxRadio->isChecked();
  s.maxConsecutiveBFrames = kMaxBFramesValues[std::clamp(BMaxCombo->currentIndex(), 0, 2)];
  s.patternAdaptivity = std::clamp(BPatternCombo->currentIndex(), 0, 3);
  s.encodeAllFrames = MiscAllFramesCheck->isChecked();
  s.chromaModeDecision = MiscChromaCheck->isChecked();
  s.enableRPR = MiscRPRCheck->isChecked();
  wizard_->setEnabled(true);
}

}  // namespace wizard
