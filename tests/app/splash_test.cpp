// The splash and About window as a widget: its labels from the version
// block, its cursors, the fades and the click that is ignored at start-up.
#include "app/splash_form.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <set>
#include <vector>

#include "tests/support/recorders.h"

namespace {

using app::TKVNSplashForm;
using app::VersionInfo;

VersionInfo Version(const std::string& file_version, const std::string& comments,
                    const std::string& copyright) {
  const std::string table = "StringFileInfo\\040904E4\\";
  return VersionInfo({{table + "FileVersion", file_version},
                      {table + "Comments", comments},
                      {table + "LegalCopyright", copyright}});
}

std::vector<int> Alphas(const QSignalSpy& spy) {
  std::vector<int> alphas;
  for (const QList<QVariant>& call : spy) alphas.push_back(call.at(0).toInt());
  return alphas;
}

QString LabelText(QWidget& window, const char* name) {
  auto* label = window.findChild<QLabel*>(name);
  return label ? label->text() : QStringLiteral("<missing>");
}

TEST(SplashWindow, ShowsTheVersionBlockInItsLabels) {
  TKVNSplashForm splash(Version("1.2.3.4", "Beta", "Copyright (c) the makers"));
  EXPECT_FALSE(splash.VersionError());
  EXPECT_EQ(LabelText(splash, "ProductLabel"), "Kestrevane");
  EXPECT_EQ(LabelText(splash, "VersionLabel"), "Version 1.2.3.4 Beta");
  EXPECT_EQ(LabelText(splash, "CopyrightLabel"), "Copyright (c) the makers");
  EXPECT_EQ(splash.size(), QSize(400, 300));
  EXPECT_EQ(splash.findChild<QLabel*>("VersionLabel")->pos(), QPoint(16, 240));
  EXPECT_EQ(splash.findChild<QLabel*>("CopyrightLabel")->pos(), QPoint(16, 272));
  EXPECT_FALSE(splash.findChild<QLabel*>("Image")->pixmap().isNull());
}

TEST(SplashWindow, TheProgramsOwnBlockIsComplete) {
  kv_test::MessageBoxRecorder boxes;
  TKVNSplashForm splash;
  EXPECT_FALSE(splash.VersionError());
  EXPECT_TRUE(boxes.Messages().empty());
  EXPECT_TRUE(LabelText(splash, "VersionLabel").startsWith("Version 1."));
}

TEST(SplashWindow, AMissingStringIsAVersionError) {
  for (const char* missing : {"FileVersion", "Comments", "LegalCopyright"}) {
    std::map<std::string, std::string> strings = {
        {"StringFileInfo\\040904E4\\FileVersion", "1.0"},
        {"StringFileInfo\\040904E4\\Comments", "x"},
        {"StringFileInfo\\040904E4\\LegalCopyright", "c"}};
    strings.erase(std::string("StringFileInfo\\040904E4\\") + missing);
    kv_test::MessageBoxRecorder boxes;
    boxes.Answer(platform::MessageAnswer::Ok);
    TKVNSplashForm splash{VersionInfo(strings)};
    EXPECT_TRUE(splash.VersionError()) << missing;
    ASSERT_EQ(boxes.Messages().size(), 1u);
    EXPECT_EQ(boxes.Messages()[0].text, "Unable to retrieve version information!");
    EXPECT_EQ(boxes.Messages()[0].icon, platform::MessageIcon::Error);
  }
  kv_test::MessageBoxRecorder boxes;
  boxes.Answer(platform::MessageAnswer::Ok);
  TKVNSplashForm without_block{std::nullopt};
  EXPECT_TRUE(without_block.VersionError());
  EXPECT_EQ(boxes.Messages().size(), 1u);
}

TEST(SplashWindow, TheSequenceFadesInRunsTheChecksAndHandsOverToTheQueueWindow) {
  TKVNSplashForm splash(Version("1.0", "x", "c"));
  QSignalSpy alphas(&splash, &TKVNSplashForm::AlphaChanged);
  splash.show();
  EXPECT_EQ(splash.cursor().shape(), Qt::ArrowCursor);
  std::vector<std::string> order;
  Qt::CursorShape cursor_during_checks = Qt::BlankCursor;
  splash.RunSplashSequence(
      [&] {
        order.push_back("checks");
        if (QApplication::overrideCursor())
          cursor_during_checks = QApplication::overrideCursor()->shape();
        return true;
      },
      [&] {
        order.push_back("queue window");
        EXPECT_TRUE(splash.isVisible()) << "the splash goes only after the queue window shows";
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
      });
  EXPECT_EQ(order, (std::vector<std::string>{"checks", "queue window"}));
  EXPECT_EQ(cursor_during_checks, Qt::WaitCursor);
  EXPECT_FALSE(splash.isVisible());

  // 0 at the show, then 1, 5, ... 253 and 255.
  std::vector<int> expected = {0};
  for (int alpha = 1; alpha < 256; alpha += 4) expected.push_back(alpha);
  expected.push_back(255);
  EXPECT_EQ(Alphas(alphas), expected);
}

// Counts the paints of the splash's picture and the alpha each was made at.
class PaintLog : public QObject {
 public:
  explicit PaintLog(TKVNSplashForm& splash) {
    splash.findChild<QLabel*>("Image")->installEventFilter(this);
    connect(&splash, &TKVNSplashForm::AlphaChanged, this, [this](int alpha) { alpha_ = alpha; });
  }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) alphas.push_back(alpha_);
    return false;
  }
  std::vector<int> alphas;

 private:
  int alpha_ = 0;
};

TEST(SplashWindow, EveryFadeStepIsPaintedBeforeTheChecksAndThePauseKeepsPainting) {
  TKVNSplashForm splash(Version("1.0", "x", "c"));
  PaintLog paints(splash);
  splash.show();
  size_t paints_at_checks = 0;
  std::set<int> painted_alphas;
  splash.RunSplashSequence(
      [&] {
        paints_at_checks = paints.alphas.size();
        painted_alphas.insert(paints.alphas.begin(), paints.alphas.end());
        // Something asks the splash to paint again during the pause.
        splash.update();
        return true;
      },
      [&] { EXPECT_GT(paints.alphas.size(), paints_at_checks) << "painted during the pause"; });
  for (int alpha = 1; alpha < 256; alpha += 4) EXPECT_TRUE(painted_alphas.count(alpha)) << alpha;
  EXPECT_TRUE(painted_alphas.count(255)) << "the finished splash is painted before the checks";
  // The offscreen platform shows no opacity: the splash is fully opaque there.
  EXPECT_FALSE(splash.OpacitySupported());
  EXPECT_DOUBLE_EQ(splash.windowOpacity(), 1.0);
}

TEST(SplashWindow, AFailedCheckEndsBeforeTheQueueWindow) {
  TKVNSplashForm splash(Version("1.0", "x", "c"));
  splash.show();
  bool queue_window_shown = false;
  splash.RunSplashSequence([] { return false; }, [&] { queue_window_shown = true; });
  EXPECT_FALSE(queue_window_shown);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(SplashWindow, AClickDuringTheSplashDoesNothing) {
  TKVNSplashForm splash(Version("1.0", "x", "c"));
  splash.show();
  QSignalSpy alphas(&splash, &TKVNSplashForm::AlphaChanged);
  QTest::mouseClick(splash.findChild<QLabel*>("Image"), Qt::LeftButton);
  EXPECT_TRUE(splash.isVisible());
  EXPECT_EQ(alphas.count(), 0);
  EXPECT_TRUE(splash.SplashMode());
}

TEST(AboutWindow, HoldsTheQueueWindowUntilItsPictureIsClicked) {
  TKVNSplashForm about(Version("1.0", "x", "c"));
  QWidget queue_window;
  queue_window.show();
  about.ShowAsAbout(&queue_window);
  EXPECT_FALSE(about.SplashMode());
  EXPECT_TRUE(about.isVisible());
  EXPECT_EQ(about.cursor().shape(), Qt::PointingHandCursor);
  EXPECT_FALSE(queue_window.isEnabled());
  EXPECT_DOUBLE_EQ(about.windowOpacity(), 1.0);

  QSignalSpy alphas(&about, &TKVNSplashForm::AlphaChanged);
  QTest::mouseClick(about.findChild<QLabel*>("Image"), Qt::LeftButton, {}, QPoint(200, 250));
  std::vector<int> expected;
  for (int alpha = 255; alpha >= 0; alpha -= 4) expected.push_back(alpha);
  expected.push_back(0);
  EXPECT_EQ(Alphas(alphas), expected);
  EXPECT_FALSE(about.isVisible());
  EXPECT_TRUE(queue_window.isEnabled());

  // Every later show is an About show again.
  about.ShowAsAbout(&queue_window);
  EXPECT_EQ(about.cursor().shape(), Qt::PointingHandCursor);
  EXPECT_FALSE(queue_window.isEnabled());
  about.ImageClick();
  EXPECT_TRUE(queue_window.isEnabled());
}

TEST(AboutWindow, EscapeAndAWindowCloseEndOnlyTheAboutWindow) {
  TKVNSplashForm about(Version("1.0", "x", "c"));
  QWidget queue_window;
  queue_window.show();

  about.ShowAsAbout(&queue_window);
  QTest::keyClick(&about, Qt::Key_Escape);
  EXPECT_FALSE(about.isVisible());
  EXPECT_TRUE(queue_window.isEnabled());

  // Alt+F4 reaches the About window as a close request.
  about.ShowAsAbout(&queue_window);
  EXPECT_FALSE(about.close()) << "the window stays for the next About";
  EXPECT_FALSE(about.isVisible());
  EXPECT_TRUE(queue_window.isEnabled());
  EXPECT_TRUE(queue_window.isVisible());

  // Other keys leave it open.
  about.ShowAsAbout(&queue_window);
  QTest::keyClick(&about, Qt::Key_A);
  EXPECT_TRUE(about.isVisible());
  about.ImageClick();
}

TEST(SplashWindow, EscapeDuringTheSplashDoesNothing) {
  TKVNSplashForm splash(Version("1.0", "x", "c"));
  splash.show();
  QTest::keyClick(&splash, Qt::Key_Escape);
  EXPECT_FALSE(splash.close());
  EXPECT_TRUE(splash.isVisible());
  EXPECT_TRUE(splash.SplashMode());
}

}  // namespace
