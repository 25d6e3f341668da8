#include "tests/wizard/wizard_fixture.h"

#include <QCoreApplication>
#include <QTest>

#include "app/application_wizard_host.h"

namespace kv_test {

WizardTest::~WizardTest() {
  delete wizard_.data();
}

void WizardTest::OpenWizard() {
  if (!window_) Open();
  wizard_ = new wizard::TKVNNewForm(app::MakeWizardHost(&Window()));
  wizard_->show();
  Window().setEnabled(false);
}

void WizardTest::Click(const char* button) {
  QPushButton* target = Button(button);
  ASSERT_TRUE(target->isVisible() && target->isEnabled()) << button;
  QTest::mouseClick(target, Qt::LeftButton);
}

void WizardTest::FillSourcePage(const std::string& name, const std::string& location,
                                const std::string& source) {
  Edit("LocEdit")->setText(QString::fromStdString(location));
  Edit("SrcEdit")->setText(QString::fromStdString(source));
  Edit("NameEdit")->clear();
  QTest::keyClicks(Edit("NameEdit"), QString::fromStdString(name));
}

void WizardTest::StartAnalysis(const std::string& source, const std::string& name) {
  MakeFolders(Jobs());
  FillSourcePage(name, Jobs(), source);
  Click("NextButton");
}

void WizardTest::WaitForAnalysis() {
  ServeEventsUntil([this] { return !WizardOpen() || !wizard_->State().AnalysisRunning; });
  SettleDeletes();
}

std::vector<std::string> WizardTest::LogLines() {
  std::vector<std::string> lines;
  auto* list = Find<QTreeWidget>("LogList");
  for (int i = 0; i < list->topLevelItemCount(); ++i)
    lines.push_back(list->topLevelItem(i)->text(2).toStdString());
  return lines;
}

void WizardTest::CloseWizard() {
  wizard_->close();
  SettleDeletes();
}

void WizardTest::SettleDeletes() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::processEvents();
}

}  // namespace kv_test
