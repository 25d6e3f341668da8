#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "outside/player/clip_reader.h"
#include "outside/player/playback_control.h"

class QAudioSink;
class QIODevice;
class QLabel;
class QPushButton;
class QSlider;

namespace player {

// The preview player's window: the picture, Play/Pause, a position slider,
// the time, Close, and the reason when reading fails. The picture follows
// the sound's clock while sound plays, else the system clock.
class PlayerWindow : public QWidget {
  Q_OBJECT

 public:
  // Seconds of some steady clock; the window keeps its own origin.
  using Clock = std::function<double()>;

  // Opens `script`. Null with the frameserver's reason when it cannot be
  // served. Without `clock` the system clock is used; `sound` false plays
  // silently.
  static std::unique_ptr<PlayerWindow> Open(const std::string& script, std::string* error,
                                            Clock clock = nullptr, bool sound = true);
  ~PlayerWindow() override;

  int64_t PresentedFrame() const { return control_.PresentedFrame(); }
  const QImage& PresentedImage() const { return presented_image_; }
  bool Playing() const { return control_.Playing(); }
  bool SoundPlaying() const { return sink_ != nullptr; }

 public slots:
  // Shows the frame of the moment and feeds the sound; run by a timer.
  void Tick();
  void PlayButtonClick();
  void PositionSliderMove(int frame);
  void CloseButtonClick();

 private:
  PlayerWindow(std::unique_ptr<ClipReader> reader, Clock clock, bool sound);
  double Now() const;
  void StartSound();
  void StopSound();
  void ShowTime(double position);
  void ShowStopped();
  void FeedSound();

  std::unique_ptr<ClipReader> reader_;
  Clock clock_;
  double clock_offset_ = 0;  // keeps the clock steady when the sound stops
  PlaybackControl control_;
  QTimer timer_;
  QLabel* picture_ = nullptr;
  QLabel* error_label_ = nullptr;
  QPushButton* play_button_ = nullptr;
  QSlider* slider_ = nullptr;
  QLabel* time_label_ = nullptr;
  bool setting_slider_ = false;

  bool sound_wanted_ = false;
  QAudioSink* sink_ = nullptr;
  QIODevice* sink_device_ = nullptr;
  double sound_origin_ = 0;  // the clock when the sound device started
  QByteArray sound_pending_;

  QImage presented_image_;
};

// Opens `script` for the player; when it cannot be served, the reason (the
// script's file, line and column) is shown in a message box.
std::unique_ptr<PlayerWindow> OpenPlayer(const std::string& script);

}  // namespace player
