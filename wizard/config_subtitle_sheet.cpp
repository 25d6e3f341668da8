#include "wizard/config_subtitle_sheet.h"

#include <QGridLayout>

#include "wizard/config_texts.h"
#include "wizard/settings_changes.h"

namespace wizard {

void SubtitleSheet::Build() {
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(kSheetMargin, kSheetMargin, kSheetMargin, kSheetMargin);
  SubCheck = new QCheckBox(QStringLiteral("Enable subtitles"), this);
  SubCheck->setObjectName(QStringLiteral("SubCheck"));
  SubLabel1 = new QLabel(QStringLiteral("Language:"), this);
  SubLabel1->setObjectName(QStringLiteral("SubLabel1"));
  SubLangCombo = new QComboBox(this);
  SubLangCombo->setObjectName(QStringLiteral("SubLangCombo"));
  SubLangCombo->setMinimumContentsLength(16);
  SubLabel1->setBuddy(SubLangCombo);
  grid->addWidget(SubCheck, 0, 0, 1, 2);
  grid->addWidget(SubLabel1, 1, 0);
  grid->addWidget(SubLangCombo, 1, 1);
  grid->setColumnStretch(2, 1);
  grid->setRowStretch(2, 1);
  connect(SubCheck, &QCheckBox::clicked, this, &SubtitleSheet::SubCheckClick);
  connect(SubLangCombo, &QComboBox::currentIndexChanged, this, &SubtitleSheet::SubLangComboChange);
}

void SubtitleSheet::SetUpForTitle(const TitleFacts& title) {
  SubLangCombo->clear();
  for (size_t i = 0; i < title.SubtitleStreams.size(); ++i) {
    SubLangCombo->addItem(
        QString::fromStdString(SubtitleItemText(int(i), title.SubtitleStreams[i])));
  }
}

void SubtitleSheet::ShowSettings(const JobSettings& s) {
  if (!s.HasSubtitles) return;
  SubCheck->setChecked(s.SubtitlesEnabled);
  SubLangCombo->setCurrentIndex(s.SubtitleTrack);
}

void SubtitleSheet::ShowEnabled(const ConfigControls& c) {
  SetAllEnabled({SubLabel1, SubLangCombo}, c.SubtitleLanguage);
}

void SubtitleSheet::SubCheckClick() {
  if (!HandlersActive()) return;
  JobSettings& s = Settings();
  const bool crop_was_auto = s.CropMode == CropModeKind::Auto;
  // Burnt-in subtitles and automatic crop never go together.
  EnableSubtitles(s, SubCheck->isChecked(), page_.OutputWidthField());
  if (crop_was_auto && s.CropMode != CropModeKind::Auto)
    Changed();
  else
    page_.ShowEnabled();
}

void SubtitleSheet::SubLangComboChange() {
  if (!HandlersActive() || SubLangCombo->currentIndex() < 0) return;
  Settings().SubtitleTrack = SubLangCombo->currentIndex();
}

}  // namespace wizard
