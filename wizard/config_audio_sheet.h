#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QRadioButton>
#include <QSlider>

#include "wizard/config_sheet.h"

namespace wizard {

// The Audio sheet: the audio stream, its channels, the audio row's bit rate
// and the gain.
class AudioSheet : public ConfigSheet {
  Q_OBJECT
 public:
  explicit AudioSheet(ConfigSheets& page) : ConfigSheet(page, "AudioSheet") {}

  void Build() override;
  // The title's audio streams in the track list.
  void SetUpForTitle(const TitleFacts& title);
  void ShowSettings(const JobSettings& s) override;
  void ShowEnabled(const ConfigControls& enabled) override;

 public slots:
  void Audio1TrackComboChange();
  void Audio1EncModeRadioClick();
  void Audio1BitrateRadioClick();
  void Audio1BitrateTrackChange();
  void Audio1GainCheckClick();
  void Audio1GainTrackChange();

 private:
  QLayout* BuildTrackRow();
  QGroupBox* BuildModeGroup();
  QGroupBox* BuildBitrateGroup();
  QGroupBox* BuildGainGroup();
  void ConnectHandlers();

  QLabel* Audio1TrackLabel;
  QComboBox* Audio1TrackCombo;
  QRadioButton *Audio1MonoRadio, *Audio1StereoRadio, *Audio1SurroundRadio, *Audio1MultiRadio;
  QRadioButton *Audio1BitrateAutoRadio, *Audio1BitrateManuRadio;
  QSlider* Audio1BitrateTrack;
  QLabel* Audio1BitrateLabel;
  QCheckBox* Audio1GainCheck;
  QSlider* Audio1GainTrack;
  QLabel *Audio1GainLabel1, *Audio1GainLabel2, *Audio1GainLabel3, *Audio1GainLabel4,
      *Audio1GainLabel5;
};

}  // namespace wizard
