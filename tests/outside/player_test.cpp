// The preview player: its time line on its own, and the real window on the
// offscreen platform playing scripts served by the installed frameserver,
// driven by a clock the test moves.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <chrono>
#include <functional>
#include <thread>

#include "app/frameserver_install.h"
#include "outside/player/player_window.h"
#include "platform/folders.h"
#include "platform/message_box.h"
#include "platform/registry_store.h"
#include "tests/support/recorders.h"
#include "tests/support/temp_dir.h"

namespace {

bool Install() {
  auto store = platform::RegistryStore::Open(platform::RegistryStore::DefaultPath());
  app::FrameserverInstallation installation(*store, platform::SystemFolder());
  return installation.InstallFrameserver(KV_PROGRAM_FOLDER);
}

TEST(PlayerPlayback, FramesFollowTheClock) {
  player::Playback p(10, 25, 1);  // 0.4 s
  EXPECT_FALSE(p.Playing());
  p.Play(100.0);
  EXPECT_EQ(p.FrameAt(100.0), 0);
  EXPECT_EQ(p.FrameAt(100.039), 0);
  EXPECT_EQ(p.FrameAt(100.04), 1);
  EXPECT_EQ(p.FrameAt(100.2), 5);
  p.Pause(100.2);
  EXPECT_EQ(p.FrameAt(500.0), 5);  // paused: the clock no longer counts
  p.Play(500.0);
  EXPECT_EQ(p.FrameAt(500.08), 7);
  EXPECT_FALSE(p.EndedAt(500.199));
  EXPECT_TRUE(p.EndedAt(500.2));
  EXPECT_EQ(p.FrameAt(600.0), 9);  // held at the last frame
  p.Seek(2, 700.0);
  EXPECT_EQ(p.FrameAt(700.0), 2);
  p.Pause(700.0);
  p.Seek(99, 700.0);
  EXPECT_EQ(p.FrameAt(700.0), 9);
  // NTSC rate: frame 30 starts at 1.001 s.
  player::Playback ntsc(100, 30000, 1001);
  ntsc.Play(0);
  EXPECT_EQ(ntsc.FrameAt(1.0), 29);
  EXPECT_EQ(ntsc.FrameAt(1.001), 30);
  char text[32];
  EXPECT_STREQ(player::FormatTime(3725.9, text, sizeof text), "1:02:05");
}

class PlayerWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Install());
    dir_ = std::make_unique<kv_test::TempDir>("kv-player");
  }

  std::unique_ptr<player::PlayerWindow> OpenScript(const std::string& text) {
    kv_test::WriteFile(dir_->File("preview.avs"), text);
    std::string error;
    auto window = player::PlayerWindow::Open(
        dir_->File("preview.avs"), &error, [this] { return clock_; }, false);
    EXPECT_TRUE(window) << error;
    return window;
  }

  // Ticks until `done` holds (the reader works ahead on its own thread);
  // false when it never does.
  static bool TickUntil(player::PlayerWindow& window, const std::function<bool()>& done) {
    for (int i = 0; i < 20000 && !done(); ++i) {
      window.Tick();
      QApplication::processEvents();
      if (!done()) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return done();
  }
  // Until the window shows `frame`.
  static bool TickUntil(player::PlayerWindow& window, int64_t frame) {
    return TickUntil(window, [&] { return window.PresentedFrame() == frame; });
  }

  std::unique_ptr<kv_test::TempDir> dir_;
  double clock_ = 1000.0;
};

TEST_F(PlayerWindowTest, PresentsFramesAtTheClipsRateAndStopsAtTheEnd) {
  auto window = OpenScript(
      "BlankClip(length=30, width=64, height=48, fps=25, pattern=true, "
      "tone=440)\r\n");
  ASSERT_TRUE(window);
  window->show();
  auto* slider = window->findChild<QSlider*>("PositionSlider");
  auto* time = window->findChild<QLabel*>("TimeLabel");
  auto* play = window->findChild<QPushButton*>("PlayButton");
  ASSERT_TRUE(slider && time && play && window->findChild<QPushButton*>("CloseButton"));
  EXPECT_EQ(slider->maximum(), 29);
  QImage previous;
  // One frame period per step: every frame in turn, each a new picture.
  for (int64_t frame = 0; frame < 30; ++frame) {
    ASSERT_TRUE(TickUntil(*window, frame)) << frame;
    EXPECT_EQ(window->PresentedImage().size(), QSize(64, 48));
    EXPECT_NE(window->PresentedImage(), previous) << frame;
    previous = window->PresentedImage();
    EXPECT_EQ(slider->value(), frame);
    EXPECT_TRUE(window->Playing());
    clock_ += 0.04;
  }
  // Past the end: the last picture stays and playback stops.
  window->Tick();
  EXPECT_FALSE(window->Playing());
  EXPECT_EQ(window->PresentedFrame(), 29);
  EXPECT_EQ(play->text(), "Play");
  EXPECT_EQ(time->text(), "0:00:01 / 0:00:01");
  // Play again starts from the beginning; moving the slider jumps there.
  play->click();
  EXPECT_TRUE(window->Playing());
  ASSERT_TRUE(TickUntil(*window, 0));
  slider->setValue(20);
  ASSERT_TRUE(TickUntil(*window, 20));
  // Pause holds the picture while the clock runs.
  play->click();
  EXPECT_FALSE(window->Playing());
  clock_ += 5;
  for (int i = 0; i < 50; ++i) window->Tick();
  EXPECT_EQ(window->PresentedFrame(), 20);
}

TEST_F(PlayerWindowTest, FallsBehindByDroppingPicturesNotTime) {
  auto window = OpenScript("BlankClip(length=40, width=64, height=48, fps=25, pattern=true)\r\n");
  ASSERT_TRUE(window);
  ASSERT_TRUE(TickUntil(*window, 0));
  clock_ += 0.04 * 7 + 0.01;  // the clock is seven frames on
  ASSERT_TRUE(TickUntil(*window, 7));
}

TEST_F(PlayerWindowTest, AFailedReadIsShownAndStopsPlaybackUntilASeek) {
  // A series of pictures with the last three missing: frame 3 cannot be read.
  for (int i = 0; i < 3; ++i) {
    QImage picture(48, 32, QImage::Format_RGB32);
    picture.fill(QColor(40 * i, 200, 90));
    ASSERT_TRUE(
        picture.save(QString::fromStdString(dir_->File("pic" + std::to_string(i) + ".png"))));
  }
  auto window = OpenScript("ImageSource(\"pic%d.png\", 0, 5, 25)\r\n");
  ASSERT_TRUE(window);
  window->show();
  auto* error = window->findChild<QLabel*>("ErrorLabel");
  auto* play = window->findChild<QPushButton*>("PlayButton");
  auto* slider = window->findChild<QSlider*>("PositionSlider");
  ASSERT_TRUE(error && play && slider);
  EXPECT_FALSE(error->isVisible());
  for (int64_t frame = 0; frame < 3; ++frame, clock_ += 0.04)
    ASSERT_TRUE(TickUntil(*window, frame));
  ASSERT_TRUE(TickUntil(*window, [&] { return error->isVisible(); }));
  EXPECT_NE(error->text().indexOf("frame 3: ImageSource: cannot open the picture"), -1)
      << error->text().toStdString();
  EXPECT_FALSE(window->Playing());
  EXPECT_EQ(play->text(), "Play");
  EXPECT_EQ(window->PresentedFrame(), 2);
  // The missing pictures come; a seek clears the error and shows the frame.
  for (int i = 3; i < 6; ++i) {
    QImage picture(48, 32, QImage::Format_RGB32);
    picture.fill(Qt::white);
    ASSERT_TRUE(
        picture.save(QString::fromStdString(dir_->File("pic" + std::to_string(i) + ".png"))));
  }
  slider->setValue(4);
  EXPECT_FALSE(error->isVisible());
  ASSERT_TRUE(TickUntil(*window, 4));
  EXPECT_EQ(window->PresentedImage().pixelColor(0, 0), QColor(Qt::white));
  play->click();
  clock_ += 0.04;
  ASSERT_TRUE(TickUntil(*window, 5));
  EXPECT_FALSE(error->isVisible());
}

TEST_F(PlayerWindowTest, ABrokenScriptIsExplainedInAMessageBox) {
  kv_test::WriteFile(dir_->File("preview.avs"), "v = BlankClip()\r\nv = Trim(v, 5)\r\n");
  kv_test::MessageBoxRecorder boxes;
  boxes.Answer(platform::MessageAnswer::Ok);
  platform::ScopedSeamOverride<platform::MessageBoxes> seam(platform::MessageBoxSeam(), boxes);
  EXPECT_FALSE(player::OpenPlayer(dir_->File("preview.avs")));
  ASSERT_EQ(boxes.Messages().size(), 1u);
  EXPECT_EQ(boxes.Messages()[0].icon, platform::MessageIcon::Error);
  EXPECT_NE(boxes.Messages()[0].text.find("preview.avs, line 2, column 5"), std::string::npos)
      << boxes.Messages()[0].text;
}

}  // namespace
