#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QRadioButton>
#include <QSlider>

#include "wizard/config_sheet.h"

namespace wizard {

// The General sheet: the encoding mode with its bit rate or quality, the
// volumes, the complexity and loss protection.
class GeneralSheet : public ConfigSheet {
  Q_OBJECT
 public:
  explicit GeneralSheet(ConfigSheets& page) : ConfigSheet(page, "GeneralSheet") {}

  void Build() override;
  void ShowSettings(const JobSettings& s) override;
  void ShowEnabled(const ConfigControls& enabled) override;

 public slots:
  void EncModeFixedRadioClick();
  void EncModeBitrateRadioClick();
  void EncModeQualityRadioClick();
  void EncModeBitrateEditChange();
  void EncModeQualityEditChange();
  void VolCheckClick();
  void VolComboChange();
  void VolEditChange();
  void VolNumEditChange();
  void EHQCustomCheckClick();
  void EHQTwoPassCheckClick();
  void EHQTrackChange();
  void EHQ1EditChange();
  void EHQ2EditChange();
  void MiscLossCheckClick();

  void EncModeBitrateEditExit();
  void EncModeQualityEditExit();
  void VolEditExit();
  void EHQ1EditExit();
  void EHQ2EditExit();

 private:
  QGroupBox* BuildModeGroup();
  QGroupBox* BuildVolumeGroup();
  QGroupBox* BuildComplexityGroup();
  QGroupBox* BuildMiscGroup();
  void ConnectHandlers();

  QRadioButton *EncModeFixedRadio, *EncModeBitrateRadio, *EncModeQualityRadio;
  QLineEdit *EncModeBitrateEdit, *EncModeQualityEdit;
  queue::UpDown *EncModeBitrateUpDown, *EncModeQualityUpDown;
  QLabel *EncModeBitrateLabel, *EncModeQualityLabel;
  QCheckBox* VolCheck;
  QComboBox* VolCombo;
  QLineEdit *VolEdit, *VolNumEdit;
  queue::UpDown *VolUpDown, *VolNumUpDown;
  QLabel *VolLabel, *VolNumLabel;
  QCheckBox *EHQCustomCheck, *EHQTwoPassCheck;
  QSlider* EHQTrack;
  QLabel *EHQ1Label1, *EHQ1Label2, *EHQ2Label1, *EHQ2Label2;
  QLineEdit *EHQ1Edit, *EHQ2Edit;
  queue::UpDown *EHQ1UpDown, *EHQ2UpDown;
  QCheckBox* MiscLossCheck;
};

}  // namespace wizard
