#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QTreeWidget>
#include <QWidget>
#include <functional>

#include "queue/up_down.h"
#include "wizard/numeric_entry.h"
#include "wizard/wizard_frame.h"
#include "wizard/wizard_state.h"

namespace wizard {

class TKVNNewFiltersForm;
class TKVNNewCodecForm;

// The fourth page of the new-job wizard: the transcoding settings of the
// chosen title on five sheets. The page shows JobSettings, forwards every
// change to its operations and shows the result again; its own rules are
// which controls are usable in which state.
class ConfigPage : public QWidget, public WizardPage {
  Q_OBJECT
 public:
  ConfigPage(WizardFrame& frame, QWidget* parent);
  ~ConfigPage() override;

  void Enter() override;
  bool Leave(bool forward) override;

  // Writes the preview script for the state; false when it cannot.
  using PreviewScriptWriter = std::function<bool(WizardState&)>;
  void SetPreviewScriptWriter(PreviewScriptWriter writer) { write_preview_ = std::move(writer); }
  // Opens the crop dialog over the page (TKVNNewCropForm unless replaced);
  // false when the title cannot be opened.
  using CropDialogOpener = std::function<bool(ConfigPage& page)>;
  void SetCropDialogOpener(CropDialogOpener opener) { open_crop_dialog_ = std::move(opener); }

  // The window that owns the option dialogs: the queue window when there is
  // one, else the wizard.
  QWidget* DialogOwner() const;
  WizardFrame& Frame() const { return frame_; }

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
  void VideoResWEditExit();
  void VideoResHEditExit();
  void VideoCropEditExit(QLineEdit* edit);
  void EHQ1EditExit();
  void EHQ2EditExit();

  void VideoResAutoCheckClick();
  void VideoResManuCheckClick();
  void VideoResWEditChange();
  void VideoResHEditChange();
  void VideoCropNoCheckClick();
  void VideoCropAutoCheckClick();
  void VideoCropManuCheckClick();
  void VideoCropTEditChange();
  void VideoCropBEditChange();
  void VideoCropLEditChange();
  void VideoCropREditChange();
  void VideoCropAdjButtonClick();
  void VideoTruCheckClick();
  void VideoFiltersButtonClick();
  void VideoCodecButtonClick();

  void Audio1TrackComboChange();
  void Audio1EncModeRadioClick();
  void Audio1BitrateRadioClick();
  void Audio1BitrateTrackChange();
  void Audio1GainCheckClick();
  void Audio1GainTrackChange();

  void SubCheckClick();
  void SubLangComboChange();

  void InfoEditChange();
  void InfoEditExit(QWidget* edit);
  void InfoRatingComboChange();

  void PreviewButtonClick();

  // The filter dialog changed the frame rate and the duration.
  void FiltersApplied();

 private:
  JobSettings& Settings() const { return frame_.State().Settings; }

  void BuildGeneralSheet(QWidget* sheet);
  void BuildVideoSheet(QWidget* sheet);
  void BuildAudioSheet(QWidget* sheet);
  void BuildSubtitleSheet(QWidget* sheet);
  void BuildSummarySheet(QWidget* sheet);
  // A number field with its up-down: `edit` and `up_down` get the names
  // `name` + "Edit" and `name` + "UpDown".
  void MakeSpinner(QWidget* parent, const char* name, int max_length, int minimum, int maximum,
                   int increment, QLineEdit*& edit, queue::UpDown*& up_down);

  // The title's facts, entering the page for a new title.
  void SetUpForNewTitle();
  void ApplyDefaultsForNewTitle();

  // Every control from JobSettings, with the handlers held off. The field
  // that has the input focus keeps what the user is typing.
  void ShowSettings();
  void ShowNumber(QLineEdit* edit, int value);
  void ShowStreamInformation();

  // The controls half of the handlers: which controls are usable.
  void EncModeFixedControls();
  void EncModeBitrateControls();
  void EncModeQualityControls();
  void VolCheckControls();
  void VolComboControls();
  void EHQCustomControls();
  void EHQTwoPassControls();
  void EHQTrackControls();
  void VideoResControls();
  void VideoCropControls();
  void Audio1BitrateControls();
  void SubCheckControls();
  void SetCropRadiosEnabled();

  // The four margin fields and the maxima of their up-downs, so that at
  // least 32 pixels of the picture remain each way.
  void ShowCropMargins(int top, int bottom, int left, int right);
  // A margin field changed: the crop rectangle along that axis, with the
  // aspect ratio and the output size that follow from it.
  void CropMarginChanged(bool vertical);
  // A crop radio was clicked.
  void ChooseCrop(CropModeKind mode);
  // The value of a spinner that holds an integer, else `fallback`.
  static int FieldValue(const QLineEdit* edit, const queue::UpDown* up_down, int fallback);

  WizardFrame& frame_;
  bool handlers_active_ = true;
  // The field whose change handler runs keeps the text being typed.
  QLineEdit* typing_ = nullptr;
  bool saved_next_enabled_ = true;
  QPointer<TKVNNewFiltersForm> filters_form_;
  QPointer<TKVNNewCodecForm> codec_form_;
  PreviewScriptWriter write_preview_;
  CropDialogOpener open_crop_dialog_;

  QTabWidget* ConfigTabs;
  QWidget *GeneralSheet, *VideoSheet, *AudioSheet, *SubSheet, *InfoSheet;

  // General.
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

  // Video.
  QLabel* VideoInfoLabel;
  QTreeWidget* VideoInfoList;
  QRadioButton *VideoResAutoCheck, *VideoResManuCheck;
  QLineEdit *VideoResWEdit, *VideoResHEdit;
  queue::UpDown *VideoResWUpDown, *VideoResHUpDown;
  QRadioButton *VideoCropNoCheck, *VideoCropAutoCheck, *VideoCropManuCheck;
  QLineEdit *VideoCropTEdit, *VideoCropBEdit, *VideoCropLEdit, *VideoCropREdit;
  queue::UpDown *VideoCropTUpDown, *VideoCropBUpDown, *VideoCropLUpDown, *VideoCropRUpDown;
  QPushButton* VideoCropAdjButton;
  QCheckBox* VideoTruCheck;
  QPushButton *VideoFiltersButton, *VideoCodecButton;

  // Audio.
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

  // Subtitles.
  QCheckBox* SubCheck;
  QLabel* SubLabel1;
  QComboBox* SubLangCombo;

  // Summary.
  QLineEdit *InfoTitleEdit, *InfoAuthorEdit, *InfoCopyEdit, *InfoWordsEdit;
  QPlainTextEdit* InfoDescMemo;
  QComboBox* InfoRatingCombo;
};

}  // namespace wizard
