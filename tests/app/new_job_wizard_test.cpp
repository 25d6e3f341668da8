// New Job from a DVD folder dropped on the queue window: the wizard opens
// with the folder as its source, as if it had been typed.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

#include "app/main_form.h"
#include "tests/support/temp_dir.h"

namespace {

QLineEdit* Edit(QWidget& wizard, const char* name) {
  return wizard.findChild<QLineEdit*>(QLatin1String(name));
}

TEST(NewJobWizard, ADroppedDvdFolderIsTheSourceAsIfTyped) {
  std::unique_ptr<QWidget> dropped(app::CreateNewJobWizard(nullptr, "/media/Film/VIDEO_TS"));
  dropped->show();
  ASSERT_NE(Edit(*dropped, "SrcEdit"), nullptr);
  EXPECT_EQ(Edit(*dropped, "SrcEdit")->text(), "/media/Film/VIDEO_TS");
  auto* next = dropped->findChild<QPushButton*>(QStringLiteral("NextButton"));
  EXPECT_FALSE(next->isEnabled()) << "the job still needs its name";
  kv_test::TempDir jobs("kv-dropped-dvd-jobs");
  Edit(*dropped, "LocEdit")->setText(QString::fromStdString(jobs.Path()));
  QTest::keyClicks(Edit(*dropped, "NameEdit"), "Film");
  EXPECT_TRUE(next->isEnabled()) << "the page takes the source as its own";

  std::unique_ptr<QWidget> plain(app::CreateNewJobWizard(nullptr, ""));
  EXPECT_EQ(Edit(*plain, "SrcEdit")->text(), "");
}

}  // namespace
