#include "wizard/config_audio_sheet.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QVBoxLayout>

#include "wizard/config_texts.h"

namespace wizard {

namespace {

// Icons of the audio formats by their icon index.
QIcon AudioFormatIcon(int icon) {
  static const char* const kNames[] = {"audio_ac3", "audio_dts", "audio_mpa", "audio_lpcm"};
  if (icon < 0 || icon >= 4) return {};
  return QIcon(QStringLiteral(":/wizard/config/%1.svg").arg(QLatin1String(kNames[icon])));
}

}  // namespace

// --- building ----------------------------------------------------------------

void AudioSheet::Build() {
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(kSheetMargin, kSheetMargin, kSheetMargin, kSheetMargin);

  QLayout* track = BuildTrackRow();
  QGroupBox* mode_box = BuildModeGroup();
  QGroupBox* rate_box = BuildBitrateGroup();
  QGroupBox* gain_box = BuildGainGroup();
  auto* left = new QVBoxLayout;
  left->addWidget(mode_box);
  left->addWidget(rate_box);
  left->addStretch(1);
  grid->addLayout(track, 0, 0, 1, 2);
  grid->addLayout(left, 1, 0);
  grid->addWidget(gain_box, 1, 1);
  grid->setColumnStretch(0, 1);

  ConnectHandlers();
}

QLayout* AudioSheet::BuildTrackRow() {
  Audio1TrackLabel = new QLabel(QStringLiteral("Track:"), this);
  Audio1TrackLabel->setObjectName(QStringLiteral("Audio1TrackLabel"));
  Audio1TrackCombo = new QComboBox(this);
  Audio1TrackCombo->setObjectName(QStringLiteral("Audio1TrackCombo"));
  Audio1TrackCombo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  Audio1TrackCombo->setMinimumContentsLength(24);
  Audio1TrackLabel->setBuddy(Audio1TrackCombo);
  auto* track = new QHBoxLayout;
  track->addWidget(Audio1TrackLabel);
  track->addWidget(Audio1TrackCombo, 1);
  return track;
}

QGroupBox* AudioSheet::BuildModeGroup() {
  auto* mode_box = new QGroupBox(QStringLiteral("Encoding mode"), this);
  mode_box->setObjectName(QStringLiteral("Audio1EncModeGroupBox"));
  auto* mode = new QGridLayout(mode_box);
  Compact(mode);
  auto radio = [mode_box](const char* name, const char* caption) {
    auto* button = new QRadioButton(QString::fromLatin1(caption), mode_box);
    button->setObjectName(QLatin1String(name));
    return button;
  };
  Audio1MonoRadio = radio("Audio1MonoRadio", "Mono");
  Audio1StereoRadio = radio("Audio1StereoRadio", "Stereo");
  Audio1SurroundRadio = radio("Audio1SurroundRadio", "Surround");
  Audio1MultiRadio = radio("Audio1MultiRadio", "Multichannel");
  mode->addWidget(Audio1MonoRadio, 0, 0);
  mode->addWidget(Audio1StereoRadio, 0, 1);
  mode->addWidget(Audio1SurroundRadio, 1, 0);
  mode->addWidget(Audio1MultiRadio, 1, 1);

  return mode_box;
}

QGroupBox* AudioSheet::BuildBitrateGroup() {
  auto* rate_box = new QGroupBox(QStringLiteral("Bitrate"), this);
  rate_box->setObjectName(QStringLiteral("Audio1BitrateGroupBox"));
  auto* rate = new QGridLayout(rate_box);
  Compact(rate);
  Audio1BitrateAutoRadio = new QRadioButton(QStringLiteral("Auto"), rate_box);
  Audio1BitrateAutoRadio->setObjectName(QStringLiteral("Audio1BitrateAutoRadio"));
  Audio1BitrateManuRadio = new QRadioButton(QStringLiteral("Manual"), rate_box);
  Audio1BitrateManuRadio->setObjectName(QStringLiteral("Audio1BitrateManuRadio"));
  Audio1BitrateTrack = new QSlider(Qt::Horizontal, rate_box);
  Audio1BitrateTrack->setObjectName(QStringLiteral("Audio1BitrateTrack"));
  Audio1BitrateTrack->setRange(0, 0);
  Audio1BitrateTrack->setPageStep(1);
  Audio1BitrateTrack->setTickPosition(QSlider::TicksBelow);
  Audio1BitrateLabel = new QLabel(QStringLiteral("? Kbps"), rate_box);
  Audio1BitrateLabel->setObjectName(QStringLiteral("Audio1BitrateLabel"));
  // Room for the widest rate, so that the slider keeps its length.
  Audio1BitrateLabel->setMinimumWidth(
      Audio1BitrateLabel->fontMetrics().horizontalAdvance(QStringLiteral("888 Kbps")));
  rate->addWidget(Audio1BitrateAutoRadio, 0, 0);
  rate->addWidget(Audio1BitrateManuRadio, 0, 1);
  rate->addWidget(Audio1BitrateTrack, 1, 0, 1, 2);
  rate->addWidget(Audio1BitrateLabel, 1, 2);
  rate->setColumnStretch(1, 1);

  return rate_box;
}

QGroupBox* AudioSheet::BuildGainGroup() {
  auto* gain_box = new QGroupBox(QStringLiteral("Gain"), this);
  gain_box->setObjectName(QStringLiteral("Audio1GainGroupBox"));
  auto* gain = new QGridLayout(gain_box);
  Compact(gain);
  Audio1GainCheck = new QCheckBox(QStringLiteral("Enable"), gain_box);
  Audio1GainCheck->setObjectName(QStringLiteral("Audio1GainCheck"));
  Audio1GainTrack = new QSlider(Qt::Vertical, gain_box);
  Audio1GainTrack->setObjectName(QStringLiteral("Audio1GainTrack"));
  Audio1GainTrack->setRange(-60, 60);
  // The top is +12 dB, the lowest step.
  Audio1GainTrack->setInvertedAppearance(true);
  Audio1GainTrack->setInvertedControls(true);
  Audio1GainTrack->setTickPosition(QSlider::TicksLeft);
  Audio1GainTrack->setTickInterval(5);
  Audio1GainTrack->setPageStep(5);
  auto gain_label = [gain_box](const char* name, const char* caption) {
    auto* label = new QLabel(QString::fromLatin1(caption), gain_box);
    label->setObjectName(QLatin1String(name));
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
  };
  Audio1GainLabel2 = gain_label("Audio1GainLabel2", "+12");
  Audio1GainLabel4 = gain_label("Audio1GainLabel4", "+6");
  Audio1GainLabel1 = gain_label("Audio1GainLabel1", "0 dB");
  Audio1GainLabel5 = gain_label("Audio1GainLabel5", "-6");
  Audio1GainLabel3 = gain_label("Audio1GainLabel3", "-12");
  auto* scale = new QVBoxLayout;
  scale->setSpacing(0);
  for (QLabel* label :
       {Audio1GainLabel2, Audio1GainLabel4, Audio1GainLabel1, Audio1GainLabel5, Audio1GainLabel3}) {
    if (label != Audio1GainLabel2) scale->addStretch(1);
    scale->addWidget(label);
  }
  gain->addWidget(Audio1GainCheck, 0, 0, 1, 2);
  gain->addWidget(Audio1GainTrack, 1, 0);
  gain->addLayout(scale, 1, 1);
  gain->setRowStretch(1, 1);

  return gain_box;
}

void AudioSheet::ConnectHandlers() {
  connect(Audio1TrackCombo, &QComboBox::currentIndexChanged, this,
          &AudioSheet::Audio1TrackComboChange);
  for (QRadioButton* button :
       {Audio1MonoRadio, Audio1StereoRadio, Audio1SurroundRadio, Audio1MultiRadio})
    connect(button, &QRadioButton::clicked, this, &AudioSheet::Audio1EncModeRadioClick);
  connect(Audio1BitrateAutoRadio, &QRadioButton::clicked, this,
          &AudioSheet::Audio1BitrateRadioClick);
  connect(Audio1BitrateManuRadio, &QRadioButton::clicked, this,
          &AudioSheet::Audio1BitrateRadioClick);
  connect(Audio1BitrateTrack, &QSlider::valueChanged, this, &AudioSheet::Audio1BitrateTrackChange);
  connect(Audio1GainCheck, &QCheckBox::clicked, this, &AudioSheet::Audio1GainCheckClick);
  connect(Audio1GainTrack, &QSlider::valueChanged, this, &AudioSheet::Audio1GainTrackChange);
}

// --- showing -----------------------------------------------------------------

void AudioSheet::SetUpForTitle(const TitleFacts& title) {
  Audio1TrackCombo->clear();
  for (size_t i = 0; i < title.AudioStreams.size(); ++i) {
    const PgcAudioEntry& stream = title.AudioStreams[i];
    Audio1TrackCombo->addItem(AudioFormatIcon(AudioFormatOf(stream.Format).Icon),
                              QString::fromStdString(AudioTrackItemText(int(i), stream)));
  }
}

void AudioSheet::ShowSettings(const JobSettings& s) {
  if (!s.HasAudio) return;
  Audio1TrackCombo->setCurrentIndex(s.AudioTrack);
  QRadioButton* const modes[] = {Audio1MonoRadio, Audio1StereoRadio, Audio1SurroundRadio,
                                 Audio1MultiRadio};
  for (int m = 0; m < 4; ++m) modes[m]->setChecked(static_cast<int>(s.ChannelMode) == m);
  Audio1BitrateAutoRadio->setChecked(s.AudioBitrateAuto);
  Audio1BitrateManuRadio->setChecked(!s.AudioBitrateAuto);
  Audio1BitrateTrack->setMaximum(s.AudioRowSliderMax);
  Audio1BitrateTrack->setValue(s.AudioCodecRow);
  if (const AudioCodecEntry* row = s.ChosenAudioCodecRow())
    Audio1BitrateLabel->setText(QString::fromStdString(FormatAudioBitrate(row->Kbps)));
  Audio1GainCheck->setChecked(s.GainEnabled);
  Audio1GainTrack->setValue(s.GainStep);
}

void AudioSheet::ShowEnabled(const ConfigControls& c) {
  QRadioButton* const modes[] = {Audio1MonoRadio, Audio1StereoRadio, Audio1SurroundRadio,
                                 Audio1MultiRadio};
  for (int m = 0; m < 4; ++m) modes[m]->setEnabled(c.ChannelModes[m]);
  Audio1BitrateAutoRadio->setEnabled(c.AutoAudioBitrate);
  Audio1BitrateTrack->setEnabled(c.AudioBitrate);
  SetAllEnabled({Audio1GainTrack, Audio1GainLabel1, Audio1GainLabel2, Audio1GainLabel3,
                 Audio1GainLabel4, Audio1GainLabel5},
                c.Gain);
}

// --- changes -------------------------------------------------------------------

void AudioSheet::Audio1TrackComboChange() {
  if (!HandlersActive() || Audio1TrackCombo->currentIndex() < 0) return;
  Settings().SelectAudioTrack(Audio1TrackCombo->currentIndex());
  Changed();
}

void AudioSheet::Audio1EncModeRadioClick() {
  if (!HandlersActive()) return;
  ChannelModeKind mode = ChannelModeKind::Stereo;
  if (Audio1MonoRadio->isChecked()) mode = ChannelModeKind::Mono;
  if (Audio1SurroundRadio->isChecked()) mode = ChannelModeKind::Surround;
  if (Audio1MultiRadio->isChecked()) mode = ChannelModeKind::Multichannel;
  Settings().SelectChannelMode(mode);
  Changed();
}

void AudioSheet::Audio1BitrateRadioClick() {
  if (!HandlersActive()) return;
  Settings().SetAudioBitrateAuto(Audio1BitrateAutoRadio->isChecked());
  Changed();
}

void AudioSheet::Audio1BitrateTrackChange() {
  if (!HandlersActive()) return;
  Settings().MoveAudioSlider(Audio1BitrateTrack->value());
  Changed();
}

void AudioSheet::Audio1GainCheckClick() {
  if (!HandlersActive()) return;
  Settings().GainEnabled = Audio1GainCheck->isChecked();
  page_.ShowEnabled();
}

void AudioSheet::Audio1GainTrackChange() {
  if (!HandlersActive()) return;
  Settings().GainStep = Audio1GainTrack->value();
}

}  // namespace wizard
