// The codec dialog's group boxes and their controls, built once.
#include <QGridLayout>
#include <QVBoxLayout>

#include "wizard/codec_form.h"
#include "wizard/numeric_entry.h"
#include "wizard/option_choices.h"

namespace wizard {

namespace {

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

QGroupBox* NamedGroup(QWidget* parent, const char* name, const char* title) {
  auto* box = new QGroupBox(QString::fromLatin1(title), parent);
  box->setObjectName(QLatin1String(name));
  return box;
}

// A caption, a number field and its up-down on one row of `grid`.
void SpinnerRow(QGridLayout* grid, int row, QLabel* caption, QLineEdit* edit,
                queue::UpDown* up_down) {
  grid->addWidget(caption, row, 0);
  grid->addWidget(edit, row, 1);
  grid->addWidget(up_down, row, 2);
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

void TKVNNewCodecForm::BuildRateControlGroup() {
  RCGroupBox = NamedGroup(this, "RCGroupBox", "Rate control");
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
  SpinnerRow(rc, 1, RCHighLabel1, RCHighEdit, RCHighUpDown);
  rc->addWidget(RCHighLabel2, 1, 3);
  SpinnerRow(rc, 2, RCLowLabel1, RCLowEdit, RCLowUpDown);
  rc->addWidget(RCLowLabel2, 2, 3);
  rc->setColumnStretch(0, 1);
}

void TKVNNewCodecForm::BuildQuantizerGroup() {
  QuantGroupBox = NamedGroup(this, "QuantGroupBox", "Reference quantizers");
  RefQuantPLabel = NamedLabel(QuantGroupBox, "RefQuantPLabel", "rcPFrameRefQuant:");
  MakeSpinner(QuantGroupBox, "RefQuantP", 2, 30, RefQuantPEdit, RefQuantPUpDown);
  RefQuantBLabel = NamedLabel(QuantGroupBox, "RefQuantBLabel", "rcBFrameRefQuant:");
  MakeSpinner(QuantGroupBox, "RefQuantB", 2, 30, RefQuantBEdit, RefQuantBUpDown);
  auto* quant = new QGridLayout(QuantGroupBox);
  quant->setHorizontalSpacing(2);
  SpinnerRow(quant, 0, RefQuantPLabel, RefQuantPEdit, RefQuantPUpDown);
  SpinnerRow(quant, 1, RefQuantBLabel, RefQuantBEdit, RefQuantBUpDown);
  quant->setColumnStretch(0, 1);
}

void TKVNNewCodecForm::BuildInloopGroup() {
  InloopGroupBox = NamedGroup(this, "InloopGroupBox", "Inloop filter");
  InloopQuantLabel = NamedLabel(InloopGroupBox, "InloopQuantLabel", "inloopCutOffQuant:");
  MakeSpinner(InloopGroupBox, "InloopQuant", 2, 30, InloopQuantEdit, InloopQuantUpDown);
  InloopCompatCheck = NamedCheck(InloopGroupBox, "InloopCompatCheck", "inloopCutOffCompatible");
  InloopBRefQuantCheck =
      NamedCheck(InloopGroupBox, "InloopBRefQuantCheck", "inloopCutOffBUseRefQuant");
  auto* inloop = new QGridLayout(InloopGroupBox);
  inloop->setHorizontalSpacing(2);
  SpinnerRow(inloop, 0, InloopQuantLabel, InloopQuantEdit, InloopQuantUpDown);
  inloop->addWidget(InloopCompatCheck, 1, 0, 1, 3);
  inloop->addWidget(InloopBRefQuantCheck, 2, 0, 1, 3);
  inloop->setColumnStretch(0, 1);
}

void TKVNNewCodecForm::BuildBFrameGroup() {
  BGroupBox = NamedGroup(this, "BGroupBox", "B frames");
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
}

void TKVNNewCodecForm::BuildMiscGroup() {
  MiscGroupBox = NamedGroup(this, "MiscGroupBox", "Miscellaneous");
  MiscAllFramesCheck = NamedCheck(MiscGroupBox, "MiscAllFramesCheck", "encodeAllFrames");
  MiscChromaCheck = NamedCheck(MiscGroupBox, "MiscChromaCheck", "chromaModeDecision");
  MiscRPRCheck = NamedCheck(MiscGroupBox, "MiscRPRCheck", "enableRPR");
  auto* misc = new QVBoxLayout(MiscGroupBox);
  misc->addWidget(MiscAllFramesCheck);
  misc->addWidget(MiscChromaCheck);
  misc->addWidget(MiscRPRCheck);
}

}  // namespace wizard
