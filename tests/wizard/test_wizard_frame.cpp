#include "tests/wizard/test_wizard_frame.h"

#include <QVBoxLayout>

namespace kv_test {

TestWizardFrame::TestWizardFrame() {
  setObjectName(QStringLiteral("TestWizardFrame"));
  auto* layout = new QVBoxLayout(this);
  notebook_ = new QStackedWidget(this);
  notebook_->setObjectName(QStringLiteral("Notebook"));
  notebook_->setFixedSize(460, 240);
  layout->addWidget(notebook_);
  for (int i = 0; i < 4; ++i) {
    pages_[i] = new QWidget(notebook_);
    notebook_->addWidget(pages_[i]);
  }
  preview_ = new QPushButton(QStringLiteral("Preview"), this);
  back_ = new QPushButton(QStringLiteral("< Back"), this);
  next_ = new QPushButton(QStringLiteral("Next >"), this);
  next_->setObjectName(QStringLiteral("NextButton"));
  back_->setObjectName(QStringLiteral("BackButton"));
  preview_->setObjectName(QStringLiteral("PreviewButton"));
  for (QPushButton* b : {preview_, back_, next_}) layout->addWidget(b);
  connect(next_, &QPushButton::clicked, this, [this] { NextButtonClick(); });
  connect(back_, &QPushButton::clicked, this, [this] { BackButtonClick(); });
}

void TestWizardFrame::SetPage(wizard::WizardPageIndex index, QWidget* page) {
  notebook_->removeWidget(pages_[index]);
  delete pages_[index];
  pages_[index] = page;
  notebook_->insertWidget(index, page);
}

wizard::WizardPage* TestWizardFrame::Page(int index) const {
  return dynamic_cast<wizard::WizardPage*>(pages_[index]);
}

void TestWizardFrame::EnterPage(wizard::WizardPageIndex index) {
  entered.push_back(index);
  if (wizard::WizardPage* page = Page(index)) {
    page->Enter();
  } else {
    SelectNotebookPage(index);
  }
}

void TestWizardFrame::SetHeader(int icon, const QString& title, const QString& comment) {
  header_icon = icon;
  header_title = title;
  header_comment = comment;
}

void TestWizardFrame::SelectNotebookPage(wizard::WizardPageIndex page) {
  notebook_->setCurrentIndex(page);
}

void TestWizardFrame::NextButtonClick() {
  const int current = CurrentPage();
  wizard::WizardPage* page = Page(current);
  if (current < 3 && (!page || page->Leave(true)))
    EnterPage(static_cast<wizard::WizardPageIndex>(current + 1));
}

void TestWizardFrame::BackButtonClick() {
  const int current = CurrentPage();
  wizard::WizardPage* page = Page(current);
  if (current == 0 || (page && !page->Leave(false))) return;
  // Pages 2 and 3 go back to the first page: their analysis is discarded.
  EnterPage(current == wizard::kConfigPage ? wizard::kTitlePage : wizard::kSourcePage);
}

}  // namespace kv_test
