#include "wizard/config_page.h"

#include <QVBoxLayout>

#include "platform/message_box.h"
#include "platform/shell.h"
#include "wizard/codec_form.h"
#include "wizard/config_audio_sheet.h"
#include "wizard/config_general_sheet.h"
#include "wizard/config_subtitle_sheet.h"
#include "wizard/config_summary_sheet.h"
#include "wizard/config_video_sheet.h"
#include "wizard/filters_form.h"
#include "wizard/new_crop_form.h"
#include "wizard/settings_changes.h"
#include "wizard/wizard_host.h"
#include "wizard/writer_steps.h"

namespace wizard {

template <class Sheet>
Sheet* ConfigPage::AddSheet(const char* caption) {
  // In the notebook before its controls are made, so that they are made
  // with the notebook's font.
  auto* sheet = new Sheet(*this);
  ConfigTabs->addTab(sheet, QString::fromLatin1(caption));
  sheet->Build();
  return sheet;
}

ConfigPage::ConfigPage(WizardFrame& frame, QWidget* parent) : QWidget(parent), frame_(frame) {
  setObjectName(QStringLiteral("Step5"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  ConfigTabs = new QTabWidget(this);
  ConfigTabs->setObjectName(QStringLiteral("ConfigTabs"));
  layout->addWidget(ConfigTabs);
  general_ = AddSheet<GeneralSheet>("General");
  video_ = AddSheet<VideoSheet>("Video");
  audio_ = AddSheet<AudioSheet>("Audio");
  subtitles_ = AddSheet<SubtitleSheet>("Subtitles");
  summary_ = AddSheet<SummarySheet>("Summary");
  connect(video_->VideoCropAdjButton, &QPushButton::clicked, this,
          &ConfigPage::VideoCropAdjButtonClick);
  connect(video_->VideoFiltersButton, &QPushButton::clicked, this,
          &ConfigPage::VideoFiltersButtonClick);
  connect(video_->VideoCodecButton, &QPushButton::clicked, this,
          &ConfigPage::VideoCodecButtonClick);

  write_preview_ = [this](WizardState& state) {
    return WritePreviewScript(state, ProgramFolderOf(frame_.Host()));
  };
  open_crop_dialog_ = [this](ConfigPage&) {
    return TKVNNewCropForm::OpenFor(
        frame_, {video_->ShownMargins(), [this](const CropMargins& m) { TakeCropMargins(m); }},
        &crop_form_);
  };

  if (QPushButton* preview = frame_.PreviewButton()) {
    preview->hide();
    connect(preview, &QPushButton::clicked, this, &ConfigPage::PreviewButtonClick);
  }
}

ConfigPage::~ConfigPage() {
  // The dialogs belong to their owner window (or to none) but edit this
  // wizard's settings.
  delete filters_form_;
  delete codec_form_;
  delete crop_form_;
}

void ConfigPage::WizardClosing() {
  // The window system delivers a close to the disabled wizard as well; a
  // dialog left open would work on a wizard that is gone.
  if (crop_form_) crop_form_->CancelButtonClick();
  if (filters_form_ && filters_form_->isVisible()) filters_form_->close();
  if (codec_form_ && codec_form_->isVisible()) codec_form_->close();
}

QWidget* ConfigPage::DialogOwner() const {
  QWidget* queue_window = frame_.Host().DialogOwner();
  return queue_window != nullptr ? queue_window : frame_.Window();
}

// --- entering and leaving --------------------------------------------------

void ConfigPage::Enter() {
  frame_.SetHeader(3, QStringLiteral("Configuration"),
                   QStringLiteral("Set transcoding properties."));
  WizardState& state = frame_.State();
  QPushButton* next = frame_.NextButton();
  if (state.SelectionChanged || state.PreparedTitle != state.Selection()) {
    SetUpForNewTitle();
  } else {
    next->setEnabled(saved_next_enabled_);
  }
  frame_.SelectNotebookPage(kConfigPage);
  next->setText(QStringLiteral("Finish"));
  QFont bold = next->font();
  bold.setBold(true);
  next->setFont(bold);
  frame_.PreviewButton()->setVisible(next->isEnabled());
}

bool ConfigPage::Leave(bool forward) {
  // Forwards is Finish: the job writer's step, run by the frame.
  if (forward) return true;
  // A return to the same title keeps everything.
  frame_.State().SelectionChanged = false;
  QPushButton* next = frame_.NextButton();
  saved_next_enabled_ = next->isEnabled();
  QFont normal = next->font();
  normal.setBold(false);
  next->setFont(normal);
  next->setText(QStringLiteral("Next >"));
  frame_.PreviewButton()->hide();
  return true;
}

void ConfigPage::SetUpForNewTitle() {
  {
    HandlersOff off(*this);
    WizardState& state = frame_.State();
    state.PreparedTitle = state.Selection();
    JobSettings& settings = Settings();
    settings.InitialiseForTitle(FactsForTitle(state.SelectedTitleSet(), state.SelPgc));
    ConfigTabs->setCurrentWidget(general_);
    audio_->SetUpForTitle(settings.Facts);
    ConfigTabs->setTabVisible(ConfigTabs->indexOf(audio_), settings.HasAudio);
    subtitles_->SetUpForTitle(settings.Facts);
    ConfigTabs->setTabVisible(ConfigTabs->indexOf(subtitles_), settings.HasSubtitles);
    // JobSettings has set every value; the sheets show them.
    ShowSettings();
  }
  frame_.NextButton()->setEnabled(true);
  frame_.PreviewButton()->setVisible(true);
  update();
}

// --- showing the settings -------------------------------------------------

void ConfigPage::ShowSettings() {
  HandlersOff off(*this);
  const JobSettings& s = Settings();
  for (ConfigSheet* sheet :
       std::initializer_list<ConfigSheet*>{general_, video_, audio_, subtitles_, summary_})
    sheet->ShowSettings(s);
  ShowEnabled();
}

void ConfigPage::ShowEnabled() {
  const ConfigControls enabled = EnabledControls(Settings());
  for (ConfigSheet* sheet :
       std::initializer_list<ConfigSheet*>{general_, video_, audio_, subtitles_, summary_})
    sheet->ShowEnabled(enabled);
}

int ConfigPage::OutputWidthField() const {
  return video_->WidthField();
}

// --- the dialogs and the preview ---------------------------------------------

void ConfigPage::TakeCropMargins(const CropMargins& margins) {
  SetCropMargins(Settings(), margins, OutputWidthField());
  ShowSettings();
}

void ConfigPage::VideoCropAdjButtonClick() {
  // On OK the dialog hands its four margins to TakeCropMargins.
  if (!open_crop_dialog_ || !open_crop_dialog_(*this)) {
    platform::ShowMessage(frame_.Window(), "Unable to view selected title!",
                          platform::MessageIcon::Error);
  }
}

void ConfigPage::VideoFiltersButtonClick() {
  if (!filters_form_) {
    filters_form_ = new TKVNNewFiltersForm(Settings(), frame_.Window(), DialogOwner());
    connect(filters_form_, &TKVNNewFiltersForm::Closed, this, &ConfigPage::FiltersApplied);
  }
  filters_form_->show();
}

void ConfigPage::VideoCodecButtonClick() {
  if (!codec_form_) codec_form_ = new TKVNNewCodecForm(Settings(), frame_.Window(), DialogOwner());
  codec_form_->show();
}

void ConfigPage::FiltersApplied() {
  ShowSettings();
}

void ConfigPage::PreviewButtonClick() {
  WizardState& state = frame_.State();
  const std::string program_folder = ProgramFolderOf(frame_.Host());
  const bool written = write_preview_ && write_preview_(state);
  const bool started =
      written && platform::TheShell().StartProgram(program_folder + "mplayer2", {"preview.avs"},
                                                   state.JobDataFolder);
  if (!started) {
    platform::ShowMessage(frame_.Window(), "Unable to preview selected title!",
                          platform::MessageIcon::Error);
  }
}

}  // namespace wizard
