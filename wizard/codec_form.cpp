#include "wizard/codec_form.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QShowEvent>
#include <QVBoxLayout>

#include "wizard/filters_form.h"
#include "wizard/numeric_entry.h"
#include "wizard/option_choices.h"

namespace wizard {

namespace {

const NumberMessages kPercentMessages = {"Please enter an integer between 0 and 100.",
                                         "Please enter a valid integer between 0 and 100."};
const NumberMessages kQuantizerMessages = {"Please enter an integer between 0 and 30.",
                                           "Please enter a valid integer between 0 and 30."};

QLabel* NamedLabel(QWidget* parent, const char* name, const char* caption) {
  auto* label = new QLabel(QString::fromLatin1(caption), parent);
  label->setObjectName(QLatin1String(name));
  return label;
}

QCheckBox* NamedCheck(QWidget* parent, const char* name, const char* caption) {
  auto* check = new QCheckBox(QString::fromLatin1(caption), parent);
  check->setObjectName(QLatin1String(name));
  return check;
}

}  // namespace

void TKVNNewCodecForm::MakeSpinner(QWidget* parent, const char* name, int max_length, int maximum,
                                   QLineEdit*& edit, queue::UpDown*& up_down) {
  edit = new QLineEdit(parent);
  edit->setObjectName(QLatin1String(name) + QLatin1String("Edit"));
  edit->setMaxLength(max_length);
  edit->setAlignment(Qt::AlignRight);
  edit->setFixedWidth(edit->fontMetrics().horizontalAdvance(QLatin1Char('0')) * 3 + 14);
  up_down = new queue::UpDown(edit, parent);
  up_down->setObjectName(QLatin1String(name) + QLatin1String("UpDown"));
  up_down->SetMinimum(0);
  up_down->SetMaximum(maximum);
  edit->setText(QStringLiteral("0"));
  const bool percent = maximum == 100;
  new EditWatcher(edit, IsNumberKey,
                  [this, edit, up_down, percent] { SpinnerExit(edit, up_down, percent); });
}

TKVNNewCodecForm::TKVNNewCodecForm(JobSettings& settings, QWidget* wizard, QWidget* owner)
    : QWidget(owner, Qt::Tool), settings_(settings), wizard_(wizard) {
  setObjectName(QStringLiteral("TKVNNewCodecForm"));
  setWindowTitle(QStringLiteral("Codec options (experts only)"));

  ManualCheck = NamedCheck(this, "ManualCheck", "Manual");

  RCGroupBox = new QGroupBox(QStringLiteral("Rate control"), this);
  RCGroupBox->setObjectName(QStringLiteral("RCGroupBox"));
  RCNewCheck = NamedCheck(RCGroupBox, "RCNewCheck", "rcEnableCurveCompression");
  RCHighLabel1 = NamedLabel(RCGroupBox, "RCHighLabel1", "rcHighBitrateReduce:");
  MakeSpinner(RCGroupBox, "RCHigh", 3, 100, RCHighEdit, RCHighUpDown);
  RCHighLabel2 = NamedLabel(RCGroupBox, "RCHighLabel2", "%");
  RCLowLabel1 = NamedLabel(RCGroupBox, "RCLowLabel1", "rcLowBitrateBoost:");
  MakeSpinner(RCGroupBox, "RCLow", 3, 100, RCLowEdit, RCLowUpDown);
  RCLowLabel2 = NamedLabel(RCGroupBox, "RCLowLabel2", "%");
  auto* rc = new QGridLayout(RCGroupBox);
  rc->setHorizontalSpacing(2);
  rc->addWidget(RCNewCheck, 0, 0, 1, 4);
  rc->addWidget(RCHighLabel1, 1, 0);
  rc->addWidget(RCHighEdit, 1, 1);
  rc->addWidget(RCHighUpDown, 1, 2);
  rc->addWidget(RCHighLabel2, 1, 3);
  rc->addWidget(RCLowLabel1, 2, 0);
  rc->addWidget(RCLowEdit, 2, 1);
  rc->addWidget(RCLowUpDown, 2, 2);
  rc->addWidget(RCLowLabel2, 2, 3);
  rc->setColumnStretch(0, 1);

  QuantGroupBox = new QGroupBox(QStringLiteral("Reference quantizers"), this);
  QuantGroupBox->setObjectName(QStringLiteral("QuantGroupBox"));
  RefQuantPLabel = NamedLabel(QuantGroupBox, "RefQuantPLabel", "rcPFrameRefQuant:");
  MakeSpinner(QuantGroupBox, "RefQuantP", 2, 30, RefQuantPEdit, RefQuantPUpDown);
  RefQuantBLabel = NamedLabel(QuantGroupBox, "RefQuantBLabel", "rcBFrameRefQuant:");
  MakeSpinner(QuantGroupBox, "RefQuantB", 2, 30, RefQuantBEdit, RefQuantBUpDown);
  auto* quant = new QGridLayout(QuantGroupBox);
  quant->setHorizontalSpacing(2);
  quant->addWidget(RefQuantPLabel, 0, 0);
  quant->addWidget(RefQuantPEdit, 0, 1);
  quant->addWidget(RefQuantPUpDown, 0, 2);
  quant->addWidget(RefQuantBLabel, 1, 0);
  quant->addWidget(RefQuantBEdit, 1, 1);
  quant->addWidget(RefQuantBUpDown, 1, 2);
  quant->setColumnStretch(0, 1);

  InloopGroupBox = new QGroupBox(QStringLiteral("Inloop filter"), this);
  InloopGroupBox->setObjectName(QStringLiteral("InloopGroupBox"));
  InloopQuantLabel = NamedLabel(InloopGroupBox, "InloopQuantLabel", "inloopCutOffQuant:");
  MakeSpinner(InloopGroupBox, "InloopQuant", 2, 30, InloopQuantEdit, InloopQuantUpDown);
  InloopCompatCheck = NamedCheck(InloopGroupBox, "InloopCompatCheck", "inloopCutOffCompatible");
  InloopBRefQuantCheck =
      NamedCheck(InloopGroupBox, "InloopBRefQuantCheck", "inloopCutOffBUseRefQuant");
  auto* inloop = new QGridLayout(InloopGroupBox);
  inloop->setHorizontalSpacing(2);
  inloop->addWidget(InloopQuantLabel, 0, 0);
  inloop->addWidget(InloopQuantEdit, 0, 1);
  inloop->addWidget(InloopQuantUpDown, 0, 2);
  inloop->addWidget(InloopCompatCheck, 1, 0, 1, 3);
  inloop->addWidget(InloopBRefQuantCheck, 2, 0, 1, 3);
  inloop->setColumnStretch(0, 1);

  BGroupBox = new QGroupBox(QStringLiteral("B frames"), this);
  BGroupBox->setObjectName(QStringLiteral("BGroupBox"));
  BMaxRadio = new QRadioButton(QStringLiteral("maxConsecutiveBFrames:"), BGroupBox);
  BMaxRadio->setObjectName(QStringLiteral("BMaxRadio"));
  BMaxCombo = new QComboBox(BGroupBox);
  BMaxCombo->setObjectName(QStringLiteral("BMaxCombo"));
  for (int value : kMaxBFramesValues) BMaxCombo->addItem(QString::number(value));
  BPatternRadio = new QRadioButton(QStringLiteral("patternAdaptivity:"), BGroupBox);
  BPatternRadio->setObjectName(QStringLiteral("BPatternRadio"));
  BPatternCombo = new QComboBox(BGroupBox);
  BPatternCombo->setObjectName(QStringLiteral("BPatternCombo"));
  for (int value = 0; value <= 3; ++value) BPatternCombo->addItem(QString::number(value));
  auto* b = new QGridLayout(BGroupBox);
  b->addWidget(BMaxRadio, 0, 0);
  b->addWidget(BMaxCombo, 0, 1);
  b->addWidget(BPatternRadio, 1, 0);
  b->addWidget(BPatternCombo, 1, 1);
  b->setColumnStretch(0, 1);

  MiscGroupBox = new QGroupBox(QStringLiteral("Miscellaneous"), this);
  MiscGroupBox->setObjectName(QStringLiteral("MiscGroupBox"));
  MiscAllFramesCheck = NamedCheck(MiscGroupBox, "MiscAllFramesCheck", "encodeAllFrames");
  MiscChromaCheck = NamedCheck(MiscGroupBox, "MiscChromaCheck", "chromaModeDecision");
  MiscRPRCheck = NamedCheck(MiscGroupBox, "MiscRPRCheck", "enableRPR");
  auto* misc = new QVBoxLayout(MiscGroupBox);
  misc->addWidget(MiscAllFramesCheck);
  misc->addWidget(MiscChromaCheck);
  misc->addWidget(MiscRPRCheck);

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

void TKVNNewCodecForm::RateControlEnabling(bool on) {
  for (QWidget* widget : std::initializer_list<QWidget*>{
           RCHighLabel1, RCHighEdit, RCHighUpDown, RCHighLabel2, RCLowLabel1, RCLowEdit,
           RCLowUpDown, RCLowLabel2, RefQuantPLabel, RefQuantPEdit, RefQuantPUpDown, RefQuantBLabel,
           RefQuantBEdit, RefQuantBUpDown})
    widget->setEnabled(on);
  MiscAllFramesCheck->setEnabled(!on);
}

void TKVNNewCodecForm::ManualCheckClick() {
  if (!handlers_active_) return;
  if (ManualCheck->isChecked()) {
    // Curve compression needs the analysis pass.
    RCNewCheck->setEnabled(settings_.TwoPass);
    RateControlEnabling(RCNewCheck->isChecked());
    for (QWidget* widget : std::initializer_list<QWidget*>{
             InloopQuantLabel, InloopQuantEdit, InloopQuantUpDown, InloopCompatCheck,
             InloopBRefQuantCheck, BMaxRadio, BPatternRadio, MiscChromaCheck, MiscRPRCheck})
      widget->setEnabled(true);
    BMaxCombo->setEnabled(BMaxRadio->isChecked());
    BPatternCombo->setEnabled(BPatternRadio->isChecked());
    return;
  }
  // The dialog always shows the values that will be used.
  JobSettings automatic = settings_;
  automatic.CodecManual = false;
  automatic.ApplyCodecDefaults();
  LoadControls(automatic);
  for (QWidget* widget : std::initializer_list<QWidget*>{
           RCNewCheck, InloopQuantLabel, InloopQuantEdit, InloopQuantUpDown, InloopCompatCheck,
           InloopBRefQuantCheck, BMaxRadio, BMaxCombo, BPatternRadio, BPatternCombo,
           MiscChromaCheck, MiscRPRCheck})
    widget->setEnabled(false);
  RateControlEnabling(false);
  MiscAllFramesCheck->setEnabled(false);
}

void TKVNNewCodecForm::RCNewCheckClick() {
  if (!handlers_active_ || !ManualCheck->isChecked()) return;
  const bool on = RCNewCheck->isChecked();
  RateControlEnabling(on);
  if (on) MiscAllFramesCheck->setChecked(true);
}

void TKVNNewCodecForm::BMaxRadioClick() {
  if (!handlers_active_ || !ManualCheck->isChecked()) return;
  BMaxCombo->setEnabled(true);
  BPatternCombo->setEnabled(false);
}

void TKVNNewCodecForm::BPatternRadioClick() {
  if (!handlers_active_ || !ManualCheck->isChecked()) return;
  BPatternCombo->setEnabled(true);
  BMaxCombo->setEnabled(false);
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
