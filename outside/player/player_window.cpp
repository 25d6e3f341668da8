#include "outside/player/player_window.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QHBoxLayout>
#include <QLabel>
#include <QMediaDevices>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>
#include <chrono>

#include "platform/message_box.h"

namespace player {
namespace {

double SystemSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

std::unique_ptr<PlayerWindow> PlayerWindow::Open(const std::string& script, std::string* error,
                                                 Clock clock, bool sound) {
  std::unique_ptr<kv_video_file::VideoFile> clip = kv_video_file::VideoFile::Open(script, error);
  if (!clip) return nullptr;
  if (clip->Info().pixel_format == KVFS_PIXEL_NONE || clip->Info().frame_count < 1) {
    *error = script + ": the clip has no picture";
    return nullptr;
  }
  auto reader = std::make_unique<ClipReader>(std::move(clip));
  return std::unique_ptr<PlayerWindow>(
      new PlayerWindow(std::move(reader), clock ? clock : Clock(SystemSeconds), sound));
}

PlayerWindow::PlayerWindow(std::unique_ptr<ClipReader> reader, Clock clock, bool sound)
    : reader_(std::move(reader)),
      clock_(std::move(clock)),
      control_(Playback(reader_->Info().frame_count, reader_->Info().fps_numerator,
                        reader_->Info().fps_denominator),
               *reader_, [this] { return Now(); }),
      sound_wanted_(sound && reader_->HasSound()) {
  const kvfs_clip_info& info = reader_->Info();
  setWindowTitle("mplayer2");
  picture_ = new QLabel(this);
  picture_->setObjectName("Picture");
  picture_->setFixedSize(info.width, info.height);
  error_label_ = new QLabel(this);
  error_label_->setObjectName("ErrorLabel");
  error_label_->setWordWrap(true);
  error_label_->hide();
  play_button_ = new QPushButton("Pause", this);
  play_button_->setObjectName("PlayButton");
  slider_ = new QSlider(Qt::Horizontal, this);
  slider_->setObjectName("PositionSlider");
  slider_->setRange(0, static_cast<int>(std::min<int64_t>(info.frame_count - 1, INT32_MAX)));
  time_label_ = new QLabel(this);
  time_label_->setObjectName("TimeLabel");
  auto* close_button = new QPushButton("Close", this);
  close_button->setObjectName("CloseButton");
  auto* controls = new QHBoxLayout();
  controls->addWidget(play_button_);
  controls->addWidget(slider_, 1);
  controls->addWidget(time_label_);
  controls->addWidget(close_button);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(picture_);
  layout->addWidget(error_label_);
  layout->addLayout(controls);
  connect(play_button_, &QPushButton::clicked, this, &PlayerWindow::PlayButtonClick);
  connect(slider_, &QSlider::valueChanged, this, &PlayerWindow::PositionSliderMove);
  connect(close_button, &QPushButton::clicked, this, &PlayerWindow::CloseButtonClick);
  connect(&timer_, &QTimer::timeout, this, &PlayerWindow::Tick);
  ShowTime(0);
  control_.Play();
  StartSound();
  timer_.start(5);
}

PlayerWindow::~PlayerWindow() {
  timer_.stop();
  StopSound();
}

double PlayerWindow::Now() const {
  // While sound plays, its device's count of played samples is the clock.
  if (sink_) return sound_origin_ + static_cast<double>(sink_->processedUSecs()) / 1e6;
  return clock_() + clock_offset_;
}

void PlayerWindow::StartSound() {
  if (!sound_wanted_ || sink_) return;
  const QAudioDevice device = QMediaDevices::defaultAudioOutput();
  if (device.isNull()) return;  // no sound device: the picture plays alone
  QAudioFormat format;
  format.setSampleRate(reader_->Info().audio_rate);
  format.setChannelCount(reader_->Info().channels);
  format.setSampleFormat(QAudioFormat::Int16);
  if (!device.isFormatSupported(format)) return;
  const double now = Now();
  sink_ = new QAudioSink(device, format, this);
  sink_device_ = sink_->start();
  if (!sink_device_) {
    delete sink_;
    sink_ = nullptr;
    return;
  }
  // The sound clock continues the system clock from here.
  sound_origin_ = now;
}

void PlayerWindow::StopSound() {
  if (!sink_) return;
  const double now = Now();
  sink_->stop();
  delete sink_;
  sink_ = nullptr;
  sink_device_ = nullptr;
  sound_pending_.clear();
  // The system clock continues the sound clock from here.
  clock_offset_ = now - clock_();
}

void PlayerWindow::ShowTime(double position) {
  char now[32], total[32];
  FormatTime(position, now, sizeof now);
  FormatTime(control_.Timeline().Duration(), total, sizeof total);
  time_label_->setText(QString("%1 / %2").arg(now, total));
}

void PlayerWindow::ShowStopped() {
  StopSound();
  play_button_->setText("Play");
}

void PlayerWindow::FeedSound() {
  if (!sink_ || !control_.Playing()) return;
  sound_pending_ +=
      reader_->TakeSound(std::max<qsizetype>(0, sink_->bytesFree() - sound_pending_.size()));
  const qint64 written = sink_device_->write(sound_pending_);
  if (written > 0) sound_pending_.remove(0, written);
  // A picture longer than its sound plays on by the system clock.
  if (sound_pending_.isEmpty() && reader_->SoundDone() && sink_->state() == QAudio::IdleState)
    StopSound();
}

void PlayerWindow::Tick() {
  PlaybackControl::Step step = control_.Tick();
  if (step.picture) {
    presented_image_ = std::move(step.picture->image);
    picture_->setPixmap(QPixmap::fromImage(presented_image_));
    setting_slider_ = true;
    slider_->setValue(static_cast<int>(control_.PresentedFrame()));
    setting_slider_ = false;
  }
  ShowTime(control_.Position());
  if (step.failed) {
    error_label_->setText(QString::fromStdString("Playback stopped: " + control_.Error()));
    error_label_->show();
  }
  // At the end the last picture stays.
  if (step.ended || step.failed) ShowStopped();
  FeedSound();
}

void PlayerWindow::PlayButtonClick() {
  if (control_.Playing()) {
    control_.Pause();
    ShowStopped();
    return;
  }
  // The sound read ahead went with the device: reading starts again at the
  // frame that shows, which also clears a read error.
  error_label_->hide();
  control_.Play();
  StartSound();
  play_button_->setText("Pause");
}

void PlayerWindow::PositionSliderMove(int frame) {
  if (setting_slider_) return;
  const bool had_sound = sink_ != nullptr;
  StopSound();
  error_label_->hide();
  control_.Seek(frame);
  if (had_sound && control_.Playing()) StartSound();
}

void PlayerWindow::CloseButtonClick() {
  close();
}

std::unique_ptr<PlayerWindow> OpenPlayer(const std::string& script) {
  std::string error;
  std::unique_ptr<PlayerWindow> window = PlayerWindow::Open(script, &error);
  if (!window)
    platform::ShowMessage(nullptr, "Unable to play \"" + script + "\":\n" + error,
                          platform::MessageIcon::Error);
  return window;
}

}  // namespace player
