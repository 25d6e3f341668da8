#include "app/splash_form.h"

#include <QApplication>
#include <QFont>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QSvgRenderer>
#include <chrono>
#include <thread>

#include "app/shell_state.h"
#include "platform/message_box.h"

namespace app {

namespace {

constexpr int kWidth = 400;
constexpr int kHeight = 300;

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
  setWindowOpacity(0.0);

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
  setWindowOpacity(alpha / 255.0);
  emit AlphaChanged(alpha);
}

void TKVNSplashForm::FadeIn() {
  repaint();
  for (int alpha = 1; alpha < 256; alpha += 4) SetAlpha(alpha);
  SetAlpha(255);
  repaint();
}

void TKVNSplashForm::RunSplashSequence(const std::function<bool()>& startup_checks,
                                       const std::function<void()>& show_queue_window) {
  if (version_error_) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  FadeIn();
  if (!startup_checks()) {
    QApplication::restoreOverrideCursor();
    EndApplication();
    return;
  }
  // The splash stays on screen a moment, the message loop held on purpose.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  QApplication::restoreOverrideCursor();
  show_queue_window();
  hide();
}

void TKVNSplashForm::ShowAsAbout(QWidget* window_to_reenable) {
  splash_mode_ = false;
  show();
  raise();
  window_to_reenable_ = window_to_reenable;
  if (window_to_reenable) window_to_reenable->setEnabled(false);
  FadeIn();
}

void TKVNSplashForm::ImageClick() {
  // A click made on the splash at start-up may only arrive after it was
  // hidden; it must not act as the About window's click.
  if (splash_mode_) return;
  repaint();
  for (int alpha = 255; alpha >= 0; alpha -= 4) SetAlpha(alpha);
  SetAlpha(0);
  repaint();
  if (window_to_reenable_) window_to_reenable_->setEnabled(true);
  hide();
}

}  // namespace app
