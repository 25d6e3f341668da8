#pragma once

#include <QPointer>
#include <QTabWidget>
#include <QWidget>
#include <functional>

#include "wizard/config_sheet.h"
#include "wizard/crop_rules.h"
#include "wizard/wizard_frame.h"
#include "wizard/wizard_state.h"

namespace wizard {

class TKVNNewFiltersForm;
class TKVNNewCodecForm;
class TKVNNewCropForm;
class GeneralSheet;
class VideoSheet;
class AudioSheet;
class SubtitleSheet;
class SummarySheet;

// The fourth page of the new-job wizard: the transcoding settings of the
// chosen title on five sheets, each a class of its own (config_*_sheet.h).
// The page enters and leaves, sets the sheets up for a new title, shows the
// settings on every sheet with the controls EnabledControls allows, and
// opens the option dialogs and the preview.
class ConfigPage : public QWidget, public WizardPage, private ConfigSheets {
  Q_OBJECT
 public:
  ConfigPage(WizardFrame& frame, QWidget* parent);
  ~ConfigPage() override;

  void Enter() override;
  bool Leave(bool forward) override;
  // The crop, filter and codec dialogs close as their Cancel closes them.
  void WizardClosing() override;

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
  void VideoCropAdjButtonClick();
  void VideoFiltersButtonClick();
  void VideoCodecButtonClick();
  void PreviewButtonClick();
  // The filter dialog changed the frame rate and the duration.
  void FiltersApplied();

 private:
  // ConfigSheets.
  JobSettings& Settings() override { return frame_.State().Settings; }
  bool HandlersActive() const override { return handlers_active_; }
  void SetHandlersActive(bool active) override { handlers_active_ = active; }
  void ShowSettings() override;
  void ShowEnabled() override;
  int OutputWidthField() const override;
  QWidget* MessageOwner() override { return frame_.Window(); }

  template <class Sheet>
  Sheet* AddSheet(const char* caption);
  // The title's facts, entering the page for a new title.
  void SetUpForNewTitle();
  // The crop dialog's OK: all four margins at once.
  void TakeCropMargins(const CropMargins& margins);

  WizardFrame& frame_;
  bool handlers_active_ = true;
  bool saved_next_enabled_ = true;
  QPointer<TKVNNewFiltersForm> filters_form_;
  QPointer<TKVNNewCodecForm> codec_form_;
  QPointer<TKVNNewCropForm> crop_form_;
  PreviewScriptWriter write_preview_;
  CropDialogOpener open_crop_dialog_;

  QTabWidget* ConfigTabs;
  GeneralSheet* general_;
  VideoSheet* video_;
  AudioSheet* audio_;
  SubtitleSheet* subtitles_;
  SummarySheet* summary_;
};

}  // namespace wizard
