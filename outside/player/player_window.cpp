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
      playback_(reader_->Info().frame_count, reader_->Info().fps_numerator,
                reader_->Info().fps_denominator),
      sound_wanted_(sound && reader_->HasSound()) {
  const kvfs_clip_info& info = reader_->Info();
  setWindowTitle("mplayer2");
  picture_ = new QLabel(this);
  picture_->setObjectName("Picture");
  picture_->setFixedSize(info.width, info.height);
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
  layout->addLayout(controls);
  connect(play_button_, &QPushButton::clicked, this, &PlayerWindow::PlayButtonClick);
  connect(slider_, &QSlider::valueChanged, this, &PlayerWindow::PositionSliderMove);
  connect(close_button, &QPushButton::clicked, this, &PlayerWindow::CloseButtonClick);
  connect(&timer_, &QTimer::timeout, this, &PlayerWindow::Tick);
  ShowTime(0);
  playback_.Play(Now());
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
  return clock_();
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
  const double now = clock_();
  sink_ = new QAudioSink(device, format, this);
  sink_device_ = sink_->start();
  if (!sink_device_) {
    delete sink_;
    sink_ = nullptr;
    return;
  }
  // The sound clock continues the system clock from here.
  sound_origin_ = now;
  playback_.Seek(playback_.FrameAt(now), now);
}

void PlayerWindow::StopSound() {
  if (!sink_) return;
  sink_->stop();
  delete sink_;
  sink_ = nullptr;
  sink_device_ = nullptr;
  sound_pending_.clear();
}

void PlayerWindow::ShowTime(double position) {
  char now[32], total[32];
  FormatTime(position, now, sizeof now);
  FormatTime(playback_.Duration(), total, sizeof total);
  time_label_->setText(QString("%1 / %2").arg(now, total));
}

void PlayerWindow::Tick() {
  const double now = Now();
  const int64_t frame = playback_.FrameAt(now);
  if (std::optional<ClipReader::Picture> picture = reader_->TakePicture(frame)) {
    presented_frame_ = picture->frame;
    presented_image_ = std::move(picture->image);
    picture_->setPixmap(QPixmap::fromImage(presented_image_));
    setting_slider_ = true;
    slider_->setValue(static_cast<int>(presented_frame_));
    setting_slider_ = false;
  }
  ShowTime(playback_.PositionAt(now));
  if (sink_ && playback_.Playing()) {
    sound_pending_ +=
        reader_->TakeSound(std::max<qsizetype>(0, sink_->bytesFree() - sound_pending_.size()));
    const qint64 written = sink_device_->write(sound_pending_);
    if (written > 0) sound_pending_.remove(0, written);
  }
  // At the end the last picture stays and playback stops.
  if (playback_.Playing() && playback_.EndedAt(now) &&
      presented_frame_ == playback_.FrameCount() - 1) {
    playback_.Pause(now);
    StopSound();
    play_button_->setText("Play");
  }
}

void PlayerWindow::PlayButtonClick() {
  const double now = Now();
  if (playback_.Playing()) {
    playback_.Pause(now);
    StopSound();
    play_button_->setText("Play");
    return;
  }
  // The sound read ahead was dropped with the device: reading starts again
  // at the frame that shows.
  const int64_t frame = playback_.EndedAt(now) ? 0 : playback_.FrameAt(now);
  const double clock = clock_();
  reader_->Seek(frame);
  playback_.Seek(frame, clock);
  playback_.Play(clock);
  StartSound();
  play_button_->setText("Pause");
}

void PlayerWindow::PositionSliderMove(int frame) {
  if (setting_slider_) return;
  const bool had_sound = sink_ != nullptr;
  StopSound();
  const double clock = clock_();
  playback_.Seek(frame, clock);
  reader_->Seek(frame);
  if (had_sound && playback_.Playing()) StartSound();
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
