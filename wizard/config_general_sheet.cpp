#include "wizard/config_general_sheet.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QVBoxLayout>
#include <algorithm>

#include "wizard/numeric_entry.h"
#include "wizard/settings_changes.h"

namespace wizard {

namespace {

const NumberMessages kAboveZeroMessages = {"Please enter an integer greater than 0.",
                                           "Please enter a valid integer greater than 0."};
const NumberMessages kPercentMessages = {"Please enter an integer between 0 and 100.",
                                         "Please enter a valid integer between 0 and 100."};
const NumberMessages kComplexityMessages = {"Please enter an integer between 50 and 100.",
                                            "Please enter a valid integer between 50 and 100."};

QIcon VolumeIcon(int icon) {
  return QIcon(QStringLiteral(":/wizard/config/%1.svg")
                   .arg(QLatin1String(icon == 0 ? "volume_custom" : "volume_cd")));
}

}  // namespace

// --- building ----------------------------------------------------------------

void GeneralSheet::Build() {
  QGroupBox* mode_box = BuildModeGroup();
  QGroupBox* volume_box = BuildVolumeGroup();
  QGroupBox* complexity_box = BuildComplexityGroup();
  QGroupBox* misc_box = BuildMiscGroup();
  // Two columns: the encoding on the left, the output files on the right.
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(kSheetMargin, kSheetMargin, kSheetMargin, kSheetMargin);
  grid->setSpacing(3);
  grid->addWidget(mode_box, 0, 0);
  grid->addWidget(complexity_box, 1, 0, 2, 1);
  grid->addWidget(volume_box, 0, 1, 2, 1);
  grid->addWidget(misc_box, 2, 1);
  grid->setRowStretch(3, 1);
  grid->setColumnStretch(0, 1);

  ConnectHandlers();
}

QGroupBox* GeneralSheet::BuildModeGroup() {
  auto* mode_box = Group(this, "EncModeGroupBox", "Encoding mode");
  EncModeFixedRadio = new QRadioButton(QStringLiteral("Fixed size"), mode_box);
  EncModeFixedRadio->setObjectName(QStringLiteral("EncModeFixedRadio"));
  EncModeBitrateRadio = new QRadioButton(QStringLiteral("Average bitrate:"), mode_box);
  EncModeBitrateRadio->setObjectName(QStringLiteral("EncModeBitrateRadio"));
  MakeSpinner(mode_box, "EncModeBitrate", 5, 1, kMaxBitrateKbps, 1, EncModeBitrateEdit,
              EncModeBitrateUpDown);
  EncModeBitrateEdit->setToolTip(QStringLiteral("1 Kbps = 1024 bps"));
  EncModeBitrateLabel = new QLabel(QStringLiteral("Kbps"), mode_box);
  EncModeBitrateLabel->setObjectName(QStringLiteral("EncModeBitrateLabel"));
  EncModeQualityRadio = new QRadioButton(QStringLiteral("Constant quality:"), mode_box);
  EncModeQualityRadio->setObjectName(QStringLiteral("EncModeQualityRadio"));
  MakeSpinner(mode_box, "EncModeQuality", 5, 0, 100, 1, EncModeQualityEdit, EncModeQualityUpDown);
  EncModeQualityLabel = new QLabel(QStringLiteral("%"), mode_box);
  EncModeQualityLabel->setObjectName(QStringLiteral("EncModeQualityLabel"));
  auto* mode = new QGridLayout(mode_box);
  Compact(mode);
  mode->setHorizontalSpacing(2);
  mode->addWidget(EncModeFixedRadio, 0, 0, 1, 4);
  mode->addWidget(EncModeBitrateRadio, 1, 0);
  mode->addWidget(EncModeBitrateEdit, 1, 1);
  mode->addWidget(EncModeBitrateUpDown, 1, 2);
  mode->addWidget(EncModeBitrateLabel, 1, 3);
  mode->addWidget(EncModeQualityRadio, 2, 0);
  mode->addWidget(EncModeQualityEdit, 2, 1);
  mode->addWidget(EncModeQualityUpDown, 2, 2);
  mode->addWidget(EncModeQualityLabel, 2, 3);
  mode->setColumnStretch(4, 1);

  return mode_box;
}

QGroupBox* GeneralSheet::BuildVolumeGroup() {
  auto* volume_box = Group(this, "VolGroupBox", "Volume options");
  VolCheck = new QCheckBox(QStringLiteral("Split to volumes"), volume_box);
  VolCheck->setObjectName(QStringLiteral("VolCheck"));
  VolCombo = new QComboBox(volume_box);
  VolCombo->setObjectName(QStringLiteral("VolCombo"));
  VolCombo->addItem(VolumeIcon(0), QStringLiteral("Custom"));
  for (const VolumePresetEntry& preset : VolumePresetTable)
    VolCombo->addItem(VolumeIcon(preset.Icon), QString::fromUtf8(preset.Name));
  MakeSpinner(volume_box, "Vol", 5, 1, kMaxVolumeSizeMB, 1, VolEdit, VolUpDown);
  VolLabel = new QLabel(QStringLiteral("MB"), volume_box);
  VolLabel->setObjectName(QStringLiteral("VolLabel"));
  VolNumLabel = new QLabel(QStringLiteral("Number of volumes:"), volume_box);
  VolNumLabel->setObjectName(QStringLiteral("VolNumLabel"));
  MakeSpinner(volume_box, "VolNum", 2, 1, kMaxVolumeCount, 1, VolNumEdit, VolNumUpDown);
  VolNumEdit->setReadOnly(true);
  auto* volume = new QGridLayout(volume_box);
  Compact(volume);
  volume->setHorizontalSpacing(2);
  // Each row lines up on its own, so the long count caption sets no column.
  auto* size_row = new QHBoxLayout;
  size_row->setSpacing(2);
  size_row->addStretch(1);
  size_row->addWidget(VolEdit);
  size_row->addWidget(VolUpDown);
  size_row->addWidget(VolLabel);
  auto* count_row = new QHBoxLayout;
  count_row->setSpacing(2);
  count_row->addWidget(VolNumLabel, 1);
  count_row->addWidget(VolNumEdit);
  count_row->addWidget(VolNumUpDown);
  volume->addWidget(VolCheck, 0, 0);
  volume->addWidget(VolCombo, 1, 0);
  volume->addLayout(size_row, 2, 0);
  volume->addLayout(count_row, 3, 0);

  return volume_box;
}

QGroupBox* GeneralSheet::BuildComplexityGroup() {
  auto* complexity_box = Group(this, "EHQGroupBox", "Encoding complexity");
  EHQCustomCheck = new QCheckBox(QStringLiteral("Custom"), complexity_box);
  EHQCustomCheck->setObjectName(QStringLiteral("EHQCustomCheck"));
  EHQTwoPassCheck = new QCheckBox(QStringLiteral("Two Pass"), complexity_box);
  EHQTwoPassCheck->setObjectName(QStringLiteral("EHQTwoPassCheck"));
  EHQTrack = new QSlider(Qt::Horizontal, complexity_box);
  EHQTrack->setObjectName(QStringLiteral("EHQTrack"));
  EHQTrack->setRange(0, static_cast<int>(ComplexityPresetTable[0].size()) - 1);
  EHQTrack->setPageStep(1);
  EHQTrack->setTickPosition(QSlider::TicksBelow);
  EHQ1Label1 = new QLabel(QStringLiteral("P0:"), complexity_box);
  EHQ1Label1->setObjectName(QStringLiteral("EHQ1Label1"));
  EHQ1Label1->setToolTip(QStringLiteral("Analysis pass"));
  MakeSpinner(complexity_box, "EHQ1", 3, 50, 100, 1, EHQ1Edit, EHQ1UpDown);
  EHQ1Label2 = new QLabel(QStringLiteral("%"), complexity_box);
  EHQ1Label2->setObjectName(QStringLiteral("EHQ1Label2"));
  EHQ2Label1 = new QLabel(QStringLiteral("P1:"), complexity_box);
  EHQ2Label1->setObjectName(QStringLiteral("EHQ2Label1"));
  EHQ2Label1->setToolTip(QStringLiteral("Encoding pass"));
  MakeSpinner(complexity_box, "EHQ2", 3, 50, 100, 1, EHQ2Edit, EHQ2UpDown);
  EHQ2Label2 = new QLabel(QStringLiteral("%"), complexity_box);
  EHQ2Label2->setObjectName(QStringLiteral("EHQ2Label2"));
  auto* complexity = new QGridLayout(complexity_box);
  Compact(complexity);
  complexity->setHorizontalSpacing(2);
  complexity->addWidget(EHQCustomCheck, 0, 0, 1, 4);
  complexity->addWidget(EHQTwoPassCheck, 0, 4, 1, 5);
  complexity->addWidget(EHQTrack, 1, 0, 1, 9);
  int column = 0;
  for (QWidget* widget :
       std::initializer_list<QWidget*>{EHQ1Label1, EHQ1Edit, EHQ1UpDown, EHQ1Label2, EHQ2Label1,
                                       EHQ2Edit, EHQ2UpDown, EHQ2Label2})
    complexity->addWidget(widget, 2, column++);
  complexity->setColumnMinimumWidth(4, 24);
  complexity->setColumnStretch(8, 1);

  return complexity_box;
}

QGroupBox* GeneralSheet::BuildMiscGroup() {
  auto* misc_box = Group(this, "MiscGroupBox", "Miscellaneous");
  MiscLossCheck = new QCheckBox(QStringLiteral("Loss protection"), misc_box);
  MiscLossCheck->setObjectName(QStringLiteral("MiscLossCheck"));
  auto* misc = new QVBoxLayout(misc_box);
  Compact(misc);
  misc->addWidget(MiscLossCheck);

  return misc_box;
}

void GeneralSheet::ConnectHandlers() {
  connect(EncModeFixedRadio, &QRadioButton::clicked, this, &GeneralSheet::EncModeFixedRadioClick);
  connect(EncModeBitrateRadio, &QRadioButton::clicked, this,
          &GeneralSheet::EncModeBitrateRadioClick);
  connect(EncModeQualityRadio, &QRadioButton::clicked, this,
          &GeneralSheet::EncModeQualityRadioClick);
  connect(EncModeBitrateEdit, &QLineEdit::textChanged, this,
          &GeneralSheet::EncModeBitrateEditChange);
  connect(EncModeQualityEdit, &QLineEdit::textChanged, this,
          &GeneralSheet::EncModeQualityEditChange);
  connect(VolCheck, &QCheckBox::clicked, this, &GeneralSheet::VolCheckClick);
  connect(VolCombo, &QComboBox::currentIndexChanged, this, &GeneralSheet::VolComboChange);
  connect(VolEdit, &QLineEdit::textChanged, this, &GeneralSheet::VolEditChange);
  connect(VolNumEdit, &QLineEdit::textChanged, this, &GeneralSheet::VolNumEditChange);
  connect(EHQCustomCheck, &QCheckBox::clicked, this, &GeneralSheet::EHQCustomCheckClick);
  connect(EHQTwoPassCheck, &QCheckBox::clicked, this, &GeneralSheet::EHQTwoPassCheckClick);
  connect(EHQTrack, &QSlider::valueChanged, this, &GeneralSheet::EHQTrackChange);
  connect(EHQ1Edit, &QLineEdit::textChanged, this, &GeneralSheet::EHQ1EditChange);
  connect(EHQ2Edit, &QLineEdit::textChanged, this, &GeneralSheet::EHQ2EditChange);
  connect(MiscLossCheck, &QCheckBox::clicked, this, &GeneralSheet::MiscLossCheckClick);

  // NumEditKeyPress and the checks on leaving.
  new EditWatcher(EncModeBitrateEdit, IsNumberKey, [this] { EncModeBitrateEditExit(); });
  new EditWatcher(EncModeQualityEdit, IsNumberKey, [this] { EncModeQualityEditExit(); });
  new EditWatcher(VolEdit, IsNumberKey, [this] { VolEditExit(); });
  new EditWatcher(VolNumEdit, IsNumberKey, nullptr);
  new EditWatcher(EHQ1Edit, IsNumberKey, [this] { EHQ1EditExit(); });
  new EditWatcher(EHQ2Edit, IsNumberKey, [this] { EHQ2EditExit(); });
}

// --- showing -----------------------------------------------------------------

void GeneralSheet::ShowSettings(const JobSettings& s) {
  EncModeFixedRadio->setChecked(s.EncodeMode == EncodeModeKind::FixedSize);
  EncModeBitrateRadio->setChecked(s.EncodeMode == EncodeModeKind::AverageBitrate);
  EncModeQualityRadio->setChecked(s.EncodeMode == EncodeModeKind::ConstantQuality);
  EncModeBitrateUpDown->SetMinimum(std::clamp(s.MinimumBitrateKbps, 1, kMaxBitrateKbps));
  ShowNumber(EncModeBitrateEdit, s.BitrateKbps);
  ShowNumber(EncModeQualityEdit, s.QualityPercent);
  VolCheck->setChecked(s.SplitVolumes);
  VolCombo->setCurrentIndex(s.VolumePreset);
  VolUpDown->SetMinimum(std::clamp(s.MinimumVolumeSizeMB, 1, kMaxVolumeSizeMB));
  ShowNumber(VolEdit, s.VolumeSizeMB);
  ShowNumber(VolNumEdit, s.VolumeCount);
  EHQCustomCheck->setChecked(s.ComplexityCustom);
  EHQTwoPassCheck->setChecked(s.TwoPass);
  EHQTrack->setMaximum(s.ComplexitySliderMax);
  EHQTrack->setValue(s.ComplexityPreset);
  ShowNumber(EHQ1Edit, s.TwoPass ? s.firstPassComplexity : 0);
  ShowNumber(EHQ2Edit, s.encoderComplexity);
  MiscLossCheck->setChecked(s.enableLossProtection);
}

void GeneralSheet::ShowEnabled(const ConfigControls& c) {
  SetAllEnabled({EncModeBitrateEdit, EncModeBitrateUpDown, EncModeBitrateLabel}, c.Bitrate);
  SetAllEnabled({EncModeQualityEdit, EncModeQualityUpDown, EncModeQualityLabel}, c.Quality);
  VolCheck->setEnabled(c.SplitChoice);
  SetAllEnabled({VolCombo, VolLabel}, c.VolumePreset);
  SetAllEnabled({VolEdit, VolUpDown}, c.VolumeSize);
  VolNumLabel->setEnabled(c.VolumeCountLabel);
  SetAllEnabled({VolNumEdit, VolNumUpDown}, c.VolumeCount);
  EHQTrack->setEnabled(c.ComplexityPreset);
  EHQTwoPassCheck->setEnabled(c.TwoPassChoice);
  SetAllEnabled({EHQ1Label1, EHQ1Label2}, c.FirstPassLabels);
  SetAllEnabled({EHQ1Edit, EHQ1UpDown}, c.FirstPass);
  SetAllEnabled({EHQ2Edit, EHQ2UpDown}, c.EncoderComplexity);
}

// --- encoding mode and volumes -------------------------------------------------

void GeneralSheet::EncModeFixedRadioClick() {
  if (!HandlersActive()) return;
  JobSettings& s = Settings();
  ChooseFixedSize(s, FieldValue(EncModeBitrateEdit, EncModeBitrateUpDown, s.BitrateKbps),
                  FieldValue(VolEdit, VolUpDown, s.VolumeSizeMB),
                  FieldValue(VolNumEdit, VolNumUpDown, s.VolumeCount));
  Changed();
}

void GeneralSheet::EncModeBitrateRadioClick() {
  if (!HandlersActive()) return;
  JobSettings& s = Settings();
  ChooseAverageBitrate(s, FieldValue(EncModeBitrateEdit, EncModeBitrateUpDown, s.BitrateKbps));
  Changed();
}

void GeneralSheet::EncModeQualityRadioClick() {
  if (!HandlersActive()) return;
  // Manual resize and manual audio bit rate: JobSettings switches both with
  // the mode.
  JobSettings& s = Settings();
  ChooseConstantQuality(s, FieldValue(EncModeQualityEdit, EncModeQualityUpDown, s.QualityPercent));
  Changed();
}

void GeneralSheet::EncModeBitrateEditChange() {
  if (!HandlersActive() || !HoldsInteger(*EncModeBitrateEdit)) return;
  if (EncModeBitrateEdit->text().toInt() < EncModeBitrateUpDown->Minimum()) return;
  TypedChange(EncModeBitrateEdit,
              [this] { TypeBitrate(Settings(), SpinnerValue(*EncModeBitrateUpDown)); });
}

void GeneralSheet::EncModeQualityEditChange() {
  if (!HandlersActive() || !HoldsInteger(*EncModeQualityEdit)) return;
  TypedChange(EncModeQualityEdit,
              [this] { TypeQuality(Settings(), SpinnerValue(*EncModeQualityUpDown)); });
}

void GeneralSheet::VolCheckClick() {
  if (!HandlersActive()) return;
  ChooseSplitVolumes(Settings(), VolCheck->isChecked());
  page_.ShowEnabled();
}

void GeneralSheet::VolComboChange() {
  if (!HandlersActive()) return;
  JobSettings& s = Settings();
  // "Custom" keeps the size in the field.
  ChooseVolumePreset(s, VolCombo->currentIndex(), FieldValue(VolEdit, VolUpDown, s.VolumeSizeMB));
  Changed();
}

void GeneralSheet::VolEditChange() {
  if (!HandlersActive() || !HoldsInteger(*VolEdit)) return;
  TypedChange(VolEdit, [this] { TypeVolumeSize(Settings(), SpinnerValue(*VolUpDown)); });
}

void GeneralSheet::VolNumEditChange() {
  if (!HandlersActive() || !HoldsInteger(*VolNumEdit)) return;
  JobSettings& s = Settings();
  TypeVolumeCount(s, SpinnerValue(*VolNumUpDown), FieldValue(VolEdit, VolUpDown, s.VolumeSizeMB));
  Changed();
}

// --- complexity --------------------------------------------------------------

void GeneralSheet::EHQCustomCheckClick() {
  if (!HandlersActive()) return;
  ChooseCustomComplexity(Settings(), EHQCustomCheck->isChecked(), EHQTwoPassCheck->isChecked(),
                         EHQTrack->value());
  Changed();
}

void GeneralSheet::EHQTwoPassCheckClick() {
  if (!HandlersActive()) return;
  ChooseTwoPass(Settings(), EHQTwoPassCheck->isChecked());
  Changed();
}

void GeneralSheet::EHQTrackChange() {
  if (!HandlersActive() || Settings().ComplexityCustom) return;
  ChooseComplexityPreset(Settings(), EHQTrack->value());
  Changed();
}

void GeneralSheet::EHQ1EditChange() {
  if (!HandlersActive() || !HoldsInteger(*EHQ1Edit)) return;
  TypeFirstPassComplexity(Settings(), SpinnerValue(*EHQ1UpDown));
}

void GeneralSheet::EHQ2EditChange() {
  if (!HandlersActive() || !HoldsInteger(*EHQ2Edit)) return;
  TypeEncoderComplexity(Settings(), SpinnerValue(*EHQ2UpDown));
}

void GeneralSheet::MiscLossCheckClick() {
  if (!HandlersActive()) return;
  Settings().enableLossProtection = MiscLossCheck->isChecked();
}

// --- leaving number fields -----------------------------------------------------

void GeneralSheet::EncModeBitrateEditExit() {
  if (!CheckNumberField(*EncModeBitrateEdit, kAboveZeroMessages)) return;
  const int value = SpinnerValue(*EncModeBitrateUpDown);
  if (value != 0) EncModeBitrateEdit->setText(QString::number(value));
}

void GeneralSheet::EncModeQualityEditExit() {
  if (!CheckNumberField(*EncModeQualityEdit, kPercentMessages)) return;
  EncModeQualityEdit->setText(QString::number(SpinnerValue(*EncModeQualityUpDown)));
}

void GeneralSheet::VolEditExit() {
  if (!CheckNumberField(*VolEdit, kAboveZeroMessages)) return;
  const int value = SpinnerValue(*VolUpDown);
  if (value != 0) VolEdit->setText(QString::number(value));
}

void GeneralSheet::EHQ1EditExit() {
  if (!CheckNumberField(*EHQ1Edit, kComplexityMessages)) return;
  EHQ1Edit->setText(QString::number(SpinnerValue(*EHQ1UpDown)));
}

void GeneralSheet::EHQ2EditExit() {
  if (!CheckNumberField(*EHQ2Edit, kComplexityMessages)) return;
  EHQ2Edit->setText(QString::number(SpinnerValue(*EHQ2UpDown)));
}

}  // namespace wizard
