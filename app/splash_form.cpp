#include "app/splash_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFont>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QSvgRenderer>
#include <QTimer>
#include <QWindow>
#include <chrono>

#include "app/shell_state.h"
#include "platform/message_box.h"

namespace app {

namespace {

constexpr int kWidth = 400;
constexpr int kHeight = 300;
// The splash stays on screen this long after the checks.
constexpr std::chrono::milliseconds kSplashPause{1500};
// Each step of a fade is shown this long; 65 steps make a quarter second.
constexpr std::chrono::milliseconds kFadeStep{4};
// How long a first show may take to reach the screen before the fade goes
// on regardless.
constexpr std::chrono::milliseconds kExposeWait{1000};

// Runs the event loop for `duration` without the user's input (it waits in
// the queue until the loop runs normally again), or until `done` holds.
// Paints, timers and the window system's events go on meanwhile.
void PumpWithoutInput(std::chrono::milliseconds duration,
                      const std::function<bool()>& done = nullptr) {
  QEventLoop loop;
  QTimer::singleShot(duration, &loop, &QEventLoop::quit);
  QTimer poll;
  if (done) {
    if (done()) return;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
      if (done()) loop.quit();
    });
    poll.start(5);
  }
  loop.exec(QEventLoop::ExcludeUserInputEvents);
}

// Window systems that draw a top-level window's opacity. Elsewhere (Wayland
// without a protocol for it, the offscreen and frame-buffer platforms) the
// value is ignored with a warning, and the window shows opaque.
bool PlatformShowsOpacity() {
  const QString platform = QGuiApplication::platformName();
  return platform == QLatin1String("xcb") || platform == QLatin1String("windows") ||
         platform == QLatin1String("cocoa");
}

QPixmap SplashPicture() {
  QPixmap picture(kWidth, kHeight);
  picture.fill(Qt::white);
  QSvgRenderer renderer(QStringLiteral(":/app/splash.svg"));
  QPainter painter(&picture);
  renderer.render(&painter, QRectF(0, 0, kWidth, kHeight));
  return picture;
}

QLabel* OverlayLabel(QWidget* parent, const char* name, int x, int y, int pixel_size, bool bold) {
  auto* label = new QLabel(parent);
  label->setObjectName(name);
  label->setAttribute(Qt::WA_TranslucentBackground);
  label->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
  QFont font(QStringLiteral("Verdana"));
  font.setPixelSize(pixel_size);
  font.setBold(bold);
  label->setFont(font);
  label->move(x, y);
  // Clicks go through to the picture below.
  label->setAttribute(Qt::WA_TransparentForMouseEvents);
  return label;
}

}  // namespace

void ClickablePicture::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
    emit Clicked();
  QLabel::mouseReleaseEvent(event);
}

TKVNSplashForm::TKVNSplashForm(std::optional<VersionInfo> version)
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint) {
  setObjectName(QStringLiteral("TKVNSplashForm"));
  setFixedSize(kWidth, kHeight);
  setAutoFillBackground(true);
  QPalette background = palette();
  background.setColor(QPalette::Window, Qt::white);
  setPalette(background);
  opacity_supported_ = PlatformShowsOpacity();
  setWindowOpacity(opacity_supported_ ? 0.0 : 1.0);

  Image = new ClickablePicture(this);
  Image->setObjectName(QStringLiteral("Image"));
  Image->setPixmap(SplashPicture());
  Image->setGeometry(0, 0, kWidth, kHeight);
  connect(Image, &ClickablePicture::Clicked, this, &TKVNSplashForm::ImageClick);

  ProductLabel = OverlayLabel(this, "ProductLabel", 16, 224, 12, true);
  ProductLabel->setText(QStringLiteral("Kestrevane"));
  VersionLabel = OverlayLabel(this, "VersionLabel", 16, 240, 12, false);
  CopyrightLabel = OverlayLabel(this, "CopyrightLabel", 16, 272, 11, false);

  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->geometry().center() - QPoint(kWidth / 2, kHeight / 2));

  std::optional<std::string> comments, file_version, copyright;
  if (version) {
    const std::string table = kVersionStringTable;
    comments = version->Query(table + "Comments");
    file_version = version->Query(table + "FileVersion");
    copyright = version->Query(table + "LegalCopyright");
  }
  if (!comments || !file_version || !copyright) {
    version_error_ = true;
    platform::ShowMessage(nullptr, "Unable to retrieve version information!",
                          platform::MessageIcon::Error);
    EndApplication();
    return;
  }
  VersionLabel->setText(QString::fromStdString("Version " + *file_version + " " + *comments));
  CopyrightLabel->setText(QString::fromStdString(*copyright));
  for (QLabel* label : {ProductLabel, VersionLabel, CopyrightLabel}) label->adjustSize();
}

void TKVNSplashForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  FormShow();
}

void TKVNSplashForm::FormShow() {
  SetAlpha(0);
  setCursor(splash_mode_ ? Qt::ArrowCursor : Qt::PointingHandCursor);
}

void TKVNSplashForm::SetAlpha(int alpha) {
  if (opacity_supported_) setWindowOpacity(alpha / 255.0);
  emit AlphaChanged(alpha);
}

void TKVNSplashForm::PaintNow() {
  repaint();
  PumpWithoutInput(kFadeStep);
}

void TKVNSplashForm::FadeIn() {
  // A window only paints once the window system has mapped it.
  PumpWithoutInput(kExposeWait, [this] { return windowHandle() && windowHandle()->isExposed(); });
  PaintNow();
  for (int alpha = 1; alpha < 256; alpha += 4) {
    SetAlpha(alpha);
    PaintNow();
  }
  SetAlpha(255);
  PaintNow();
}

void TKVNSplashForm::FadeOut() {
  PaintNow();
  for (int alpha = 255; alpha >= 0; alpha -= 4) {
    SetAlpha(alpha);
    PaintNow();
  }
  SetAlpha(0);
  PaintNow();
}

void TKVNSplashForm::RunSplashSequence(const std::function<bool()>& startup_checks,
                                       const std::function<void()>& show_queue_window) {
  if (version_error_) return;
  ShellState& shell = Shell();
  shell.EndRequested = false;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  FadeIn();
  if (!startup_checks()) {
    QApplication::restoreOverrideCursor();
    EndApplication();
    return;
  }
  // The splash stays on screen a moment; it keeps painting, the user's
  // input waits.
  PumpWithoutInput(kSplashPause);
  QApplication::restoreOverrideCursor();
  // Closed from outside meanwhile (the session ending, SIGTERM).
  if (shell.EndRequested) return;
  show_queue_window();
  hide();
}

void TKVNSplashForm::ShowAsAbout(QWidget* window_to_reenable) {
  splash_mode_ = false;
  // The About window takes the keyboard (Esc) and a close of its own
  // (Alt+F4), which a splash screen's window type does not get everywhere.
  if (windowType() == Qt::SplashScreen) setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
  show();
  raise();
  activateWindow();
  window_to_reenable_ = window_to_reenable;
  if (window_to_reenable) window_to_reenable->setEnabled(false);
  FadeIn();
}

void TKVNSplashForm::ImageClick() {
  // A click made on the splash at start-up may only arrive after it was
  // hidden; it must not act as the About window's click.
  if (splash_mode_ || !isVisible()) return;
  FadeOut();
  if (window_to_reenable_) window_to_reenable_->setEnabled(true);
  hide();
}

void TKVNSplashForm::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && !splash_mode_) {
    ImageClick();
    return;
  }
  QWidget::keyPressEvent(event);
}

void TKVNSplashForm::closeEvent(QCloseEvent* event) {
  // The application's end closes every window, and a window that refuses
  // would keep the program running: the splash goes with it.
  if (Shell().EndRequested) {
    event->accept();
    return;
  }
  // Neither window closes for good: the splash is ended by the start-up,
  // and a close of the About window (Alt+F4) is its click, so the queue
  // window under it comes back.
  event->ignore();
  ImageClick();
}

}  // namespace app
