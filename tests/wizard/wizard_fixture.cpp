#include "tests/wizard/wizard_fixture.h"

#include <QCoreApplication>
#include <QTest>

namespace kv_test {

WizardTest::~WizardTest() {
  delete wizard_.data();
}

void WizardTest::OpenWizard() {
  if (!window_) Open();
  wizard_ = new wizard::TKVNNewForm(&Window());
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

void WizardTest::CloseWizard() {
  wizard_->close();
  SettleDeletes();
}

void WizardTest::SettleDeletes() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::processEvents();
}

}  // namespace kv_test
