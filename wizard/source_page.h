#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include "wizard/wizard_frame.h"

namespace wizard {

// Page 1 ("Step1"): the job's name, where it is stored and where the DVD
// files are. Its rules live in source_rules.h.
class SourcePage : public QWidget, public WizardPage {
  Q_OBJECT
 public:
  explicit SourcePage(WizardFrame& frame);

  void Enter() override;
  bool Leave(bool forward) override;
  // The DVD folder as if typed into its field.
  void SetSource(const std::string& folder);

 public slots:
  void NameEditChange();
  void NameEditExit();
  void LocEditChange();
  void SrcEditChange();
  void LocBrowseButtonClick();
  void SrcBrowseButtonClick();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // NameEditKeyPress: true when the key is swallowed.
  bool NameEditKeyPress(const QString& text);
  // Rebuilds the job folder from the name and the location and shows it;
  // false when there is none.
  bool RebuildJobPath();
  bool SourceSyntaxPasses();
  void HidePath();
  void SetNextEnabled(bool enabled);

  WizardFrame& frame_;
  QLineEdit* NameEdit;
  QLineEdit* LocEdit;
  QPushButton* LocBrowseButton;
  QLineEdit* SrcEdit;
  QPushButton* SrcBrowseButton;
  QLabel* PathIcon;
  QLabel* PathLabel;
};

}  // namespace wizard
