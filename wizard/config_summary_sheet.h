#pragma once

#include <QComboBox>
#include <QPlainTextEdit>

#include "wizard/config_sheet.h"

namespace wizard {

// The Summary sheet: the clip information carried into the volumes.
class SummarySheet : public ConfigSheet {
  Q_OBJECT
 public:
  explicit SummarySheet(ConfigSheets& page) : ConfigSheet(page, "InfoSheet") {}

  void Build() override;
  void ShowSettings(const JobSettings& s) override;
  void ShowEnabled(const ConfigControls&) override {}

 public slots:
  void InfoEditChange();
  void InfoEditExit(QWidget* edit);
  void InfoRatingComboChange();

 private:
  QLineEdit *InfoTitleEdit, *InfoAuthorEdit, *InfoCopyEdit, *InfoWordsEdit;
  QPlainTextEdit* InfoDescMemo;
  QComboBox* InfoRatingCombo;
};

}  // namespace wizard
