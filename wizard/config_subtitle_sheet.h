#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>

#include "wizard/config_sheet.h"

namespace wizard {

// The Subtitles sheet: burnt-in subtitles on or off, and their language.
class SubtitleSheet : public ConfigSheet {
  Q_OBJECT
 public:
  explicit SubtitleSheet(ConfigSheets& page) : ConfigSheet(page, "SubSheet") {}

  void Build() override;
  // The title's sub-picture streams in the language list.
  void SetUpForTitle(const TitleFacts& title);
  void ShowSettings(const JobSettings& s) override;
  void ShowEnabled(const ConfigControls& enabled) override;

 public slots:
  void SubCheckClick();
  void SubLangComboChange();

 private:
  QCheckBox* SubCheck;
  QLabel* SubLabel1;
  QComboBox* SubLangCombo;
};

}  // namespace wizard
