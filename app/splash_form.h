#pragma once

#include <QLabel>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <optional>

#include "app/version_info.h"

namespace app {

// The picture label; a click on it is the window's ImageClick.
class ClickablePicture : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;

 signals:
  void Clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};

// One window, two uses: at start-up it fades in as the splash while the
// start-up checks run; afterwards, hidden but alive, it is the About window.
class TKVNSplashForm : public QWidget {
  Q_OBJECT
 public:
  // Reads the version strings from `version`; without them the window shows
  // "Unable to retrieve version information!" and asks the application to end.
  explicit TKVNSplashForm(std::optional<VersionInfo> version = VersionInfo::OfProgram());

  bool VersionError() const { return version_error_; }
  bool SplashMode() const { return splash_mode_; }
  // Whether the window system shows a window's opacity; where it does not,
  // the window is shown fully opaque and the fades only paint their steps.
  bool OpacitySupported() const { return opacity_supported_; }

  // Right after the first show: hourglass, fade-in, the checks, a 1500 ms
  // pause, then the queue window replaces the splash. A failed check ends
  // the application. The splash is painted at every step of the fade and
  // during the pause, while the user's input waits until it is over.
  void RunSplashSequence(const std::function<bool()>& startup_checks,
                         const std::function<void()>& show_queue_window);

  // Shows the window as the About window; `window_to_reenable` stays
  // disabled until the picture is clicked, Esc is pressed or the window is
  // closed (Alt+F4), which all close the About window alone.
  void ShowAsAbout(QWidget* window_to_reenable);

 signals:
  // Every alpha value the window takes, 0 (transparent) to 255.
  void AlphaChanged(int alpha);

 public slots:
  void ImageClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormShow();
  void FadeIn();
  void FadeOut();
  void SetAlpha(int alpha);
  // Paints the window now and lets the window system show it.
  void PaintNow();

  ClickablePicture* Image;
  QLabel* ProductLabel;
  QLabel* VersionLabel;
  QLabel* CopyrightLabel;

  bool splash_mode_ = true;
  bool version_error_ = false;
  bool opacity_supported_ = false;
  QPointer<QWidget> window_to_reenable_;
};

}  // namespace app
