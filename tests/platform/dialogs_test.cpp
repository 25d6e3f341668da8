// The real message box and folder chooser on the offscreen platform: the
// test answers them like a user once they are on screen.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "platform/folder_chooser.h"
#include "platform/message_box.h"
#include "tests/support/temp_dir.h"

namespace {

using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageIcon;

// Runs `act` on the modal window as soon as it shows; gives up (closing
// whatever is modal) after a few seconds so that a test never hangs.
void WhenModalShows(std::function<void(QWidget*)> act, int tries_left = 500) {
  QTimer::singleShot(10, [act = std::move(act), tries_left]() mutable {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal->isVisible()) {
      act(modal);
    } else if (tries_left > 0) {
      WhenModalShows(std::move(act), tries_left - 1);
    } else {
      ADD_FAILURE() << "no modal window appeared";
      if (modal) modal->close();
    }
  });
}

QMessageBox* AsBox(QWidget* modal) {
  auto* box = qobject_cast<QMessageBox*>(modal);
  EXPECT_NE(box, nullptr);
  return box;
}

TEST(RealMessageBox, ShowsTheCaptionTextAndIconWithAnOkButton) {
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  WhenModalShows([&](QWidget* modal) {
    QMessageBox* box = AsBox(modal);
    if (!box) return modal->close();
    title = box->windowTitle();
    text = box->text();
    icon = box->icon();
    buttons = box->standardButtons();
    box->button(QMessageBox::Ok)->click();
    return true;
  });
  const MessageAnswer answer = platform::MessageBoxSeam().Current().Show(
      nullptr, "Unable to find a valid DVD title at the specified location!", MessageIcon::Error,
      MessageButtons::Ok);
  EXPECT_EQ(answer, MessageAnswer::Ok);
  EXPECT_EQ(title, "Kestrevane");
  EXPECT_EQ(text, "Unable to find a valid DVD title at the specified location!");
  EXPECT_EQ(icon, QMessageBox::Critical);
  EXPECT_EQ(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

TEST(RealMessageBox, YesNoDefaultsToYesAndEscapeMeansNo) {
  WhenModalShows([](QWidget* modal) {
    QMessageBox* box = AsBox(modal);
    if (!box) return;
    EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(box->icon(), QMessageBox::Question);
    EXPECT_EQ(static_cast<QAbstractButton*>(box->defaultButton()), box->button(QMessageBox::Yes));
    QTest::keyClick(box, Qt::Key_Escape);
  });
  EXPECT_EQ(platform::MessageBoxSeam().Current().Show(nullptr, "Remove the job?",
                                                      MessageIcon::Question, MessageButtons::YesNo),
            MessageAnswer::No);

  WhenModalShows([](QWidget* modal) {
    if (QMessageBox* box = AsBox(modal)) {
      EXPECT_EQ(box->icon(), QMessageBox::Warning);
      QTest::keyClick(box, Qt::Key_Return);
    }
  });
  EXPECT_EQ(platform::MessageBoxSeam().Current().Show(nullptr, "Overwrite?", MessageIcon::Warning,
                                                      MessageButtons::YesNo),
            MessageAnswer::Yes);
}

TEST(RealFolderChooser, OpensOnTheInitialFolderAndReturnsTheChoice) {
  kv_test::TempDir dir;
  kv_test::MakeFolders(dir.File("dvd/VIDEO_TS"));
  bool read_only = false, dirs_only = false;
  QString title;
  WhenModalShows([&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    if (!dialog) {
      ADD_FAILURE() << "not a file dialog";
      return modal->close();
    }
    title = dialog->windowTitle();
    read_only = dialog->testOption(QFileDialog::ReadOnly);
    dirs_only = dialog->testOption(QFileDialog::ShowDirsOnly);
    EXPECT_EQ(QDir(dialog->directory()).canonicalPath().toStdString(),
              QDir(QString::fromStdString(dir.File("dvd"))).canonicalPath().toStdString());
    dialog->setDirectory(QString::fromStdString(dir.File("dvd/VIDEO_TS")));  // the user goes in
    static_cast<QDialog*>(dialog)->accept();
    return true;
  });
  platform::FolderRequest request;
  request.title = "Select the drive or folder containing the DVD files.";
  request.initial_folder = dir.File("dvd");
  const auto chosen = platform::FolderChooserSeam().Current().Choose(request);
  EXPECT_EQ(title, "Select the drive or folder containing the DVD files.");
  EXPECT_TRUE(read_only);  // no new folders
  EXPECT_TRUE(dirs_only);
  ASSERT_TRUE(chosen);
  EXPECT_EQ(QDir(QString::fromStdString(*chosen)).canonicalPath().toStdString(),
            QDir(QString::fromStdString(dir.File("dvd/VIDEO_TS"))).canonicalPath().toStdString());
}

TEST(RealFolderChooser, AllowsNewFoldersWhenAskedAndCancelGivesNothing) {
  bool read_only = true;
  WhenModalShows([&](QWidget* modal) {
    if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
      read_only = dialog->testOption(QFileDialog::ReadOnly);
      static_cast<QDialog*>(dialog)->reject();
    } else {
      modal->close();
    }
  });
  platform::FolderRequest request;
  request.title = "Select destination folder.";
  request.allow_new_folder = true;
  EXPECT_EQ(platform::FolderChooserSeam().Current().Choose(request), std::nullopt);
  EXPECT_FALSE(read_only);
}

}  // namespace
