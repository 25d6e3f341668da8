#include "wizard/config_page.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QSignalBlocker>
#include <QTextCursor>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/message_box.h"
#include "platform/shell.h"
#include "wizard/codec_form.h"
#include "wizard/config_texts.h"
#include "wizard/crop_rules.h"
#include "wizard/filters_form.h"
#include "wizard/new_crop_form.h"
#include "wizard/settings_changes.h"
#include "wizard/wizard_host.h"
#include "wizard/writer_steps.h"

namespace wizard {

namespace {

const NumberMessages kAboveZeroMessages = {"Please enter an integer greater than 0.",
                                           "Please enter a valid integer greater than 0."};
const NumberMessages kPercentMessages = {"Please enter an integer between 0 and 100.",
                                         "Please enter a valid integer between 0 and 100."};
const NumberMessages kMarginMessages = {"Please enter an integer.",
                                        "Please enter a valid integer."};
const NumberMessages kComplexityMessages = {"Please enter an integer between 50 and 100.",
                                            "Please enter a valid integer between 50 and 100."};

// Holds the page's handlers off for a scope and puts the flag back.
class HandlersOff {
 public:
  explicit HandlersOff(bool& flag) : flag_(flag), saved_(flag) { flag_ = false; }
  ~HandlersOff() { flag_ = saved_; }
  HandlersOff(const HandlersOff&) = delete;
  HandlersOff& operator=(const HandlersOff&) = delete;

 private:
  bool& flag_;
  bool saved_;
};

QIcon PageIcon(const char* name) {
  return QIcon(QStringLiteral(":/wizard/config/%1.svg").arg(QLatin1String(name)));
}

// Icons of the audio formats by their icon index.
QIcon AudioFormatIcon(int icon) {
  static const char* const kNames[] = {"audio_ac3", "audio_dts", "audio_mpa", "audio_lpcm"};
  if (icon < 0 || icon >= 4) return {};
  return PageIcon(kNames[icon]);
}

QIcon VolumeIcon(int icon) {
  return PageIcon(icon == 0 ? "volume_custom" : "volume_cd");
}

void SetAllEnabled(std::initializer_list<QWidget*> widgets, bool enabled) {
  for (QWidget* widget : widgets) widget->setEnabled(enabled);
}

// The sheets are dense: groups and rows sit close together.
constexpr int kSheetMargin = 3;
void Compact(QLayout* layout) {
  layout->setContentsMargins(5, 1, 5, 3);
  layout->setSpacing(2);
}

QGroupBox* Group(QWidget* parent, const char* name, const char* title) {
  auto* box = new QGroupBox(QString::fromLatin1(title), parent);
  box->setObjectName(QLatin1String(name));
  return box;
}

// A field wide enough for `chars` digits in the current font.
void SetDigitWidth(QLineEdit* edit, int chars) {
  const QFontMetrics metrics(edit->font());
  edit->setFixedWidth(metrics.horizontalAdvance(QLatin1Char('0')) * std::max(chars, 2) + 10);
}

}  // namespace

ConfigPage::ConfigPage(WizardFrame& frame, QWidget* parent) : QWidget(parent), frame_(frame) {
  setObjectName(QStringLiteral("Step5"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  ConfigTabs = new QTabWidget(this);
  ConfigTabs->setObjectName(QStringLiteral("ConfigTabs"));
  layout->addWidget(ConfigTabs);
  auto sheet = [this](QWidget*& widget, const char* name, const char* caption) {
    widget = new QWidget;
    widget->setObjectName(QLatin1String(name));
    ConfigTabs->addTab(widget, QString::fromLatin1(caption));
  };
  sheet(GeneralSheet, "GeneralSheet", "General");
  sheet(VideoSheet, "VideoSheet", "Video");
  sheet(AudioSheet, "AudioSheet", "Audio");
  sheet(SubSheet, "SubSheet", "Subtitles");
  sheet(InfoSheet, "InfoSheet", "Summary");
  BuildGeneralSheet(GeneralSheet);
  BuildVideoSheet(VideoSheet);
  BuildAudioSheet(AudioSheet);
  BuildSubtitleSheet(SubSheet);
  BuildSummarySheet(InfoSheet);

  write_preview_ = [this](WizardState& state) {
    return WritePreviewScript(state, ProgramFolderOf(frame_.Host()));
  };
  open_crop_dialog_ = [this](ConfigPage&) {
    return TKVNNewCropForm::OpenFor(
        frame_, {VideoCropTUpDown, VideoCropBUpDown, VideoCropLUpDown, VideoCropRUpDown});
  };

  if (QPushButton* preview = frame_.PreviewButton()) {
    preview->hide();
    connect(preview, &QPushButton::clicked, this, &ConfigPage::PreviewButtonClick);
  }
}

ConfigPage::~ConfigPage() {
  // The dialogs belong to their owner window but edit this wizard's settings.
  delete filters_form_;
  delete codec_form_;
}

QWidget* ConfigPage::DialogOwner() const {
  QWidget* queue_window = frame_.Host().DialogOwner();
  return queue_window != nullptr ? queue_window : frame_.Window();
}

void ConfigPage::MakeSpinner(QWidget* parent, const char* name, int max_length, int minimum,
                             int maximum, int increment, QLineEdit*& edit,
                             queue::UpDown*& up_down) {
  edit = new QLineEdit(parent);
  edit->setObjectName(QLatin1String(name) + QLatin1String("Edit"));
  edit->setMaxLength(max_length);
  edit->setAlignment(Qt::AlignRight);
  SetDigitWidth(edit, max_length);
  up_down = new queue::UpDown(edit, parent);
  up_down->setObjectName(QLatin1String(name) + QLatin1String("UpDown"));
  up_down->SetMinimum(minimum);
  up_down->SetMaximum(maximum);
  up_down->SetIncrement(increment);
  edit->setText(QString::number(minimum));
}

// --- building the sheets -------------------------------------------------

void ConfigPage::BuildGeneralSheet(QWidget* sheet) {
  auto* mode_box = Group(sheet, "EncModeGroupBox", "Encoding mode");
  EncModeFixedRadio = new QRadioButton(QStringLiteral("Fixed size"), mode_box);
  EncModeFixedRadio->setObjectName(QStringLiteral("EncModeFixedRadio"));
  EncModeBitrateRadio = new QRadioButton(QStringLiteral("Average bitrate:"), mode_box);
  EncModeBitrateRadio->setObjectName(QStringLiteral("EncModeBitrateRadio"));
  MakeSpinner(mode_box, "EncModeBitrate", 5, 1, kMaxBitrateKbps, 1, EncModeBitrateEdit,
              EncModeBitrateUpDown);
  EncModeBitrateEdit->setToolTip(QStringLiteral("1 Kbps = 1024 bps"));
  EncModeBitrateLabel = new QLabel(QStringLiteral("Kbps"), mode_box);
  EncModeBitrateLabel->setObjectName(QStringLiteral("EncModeBitrateLabel"));
  EncModeQualityRadio = new QRadioButton(QStringLiteral("Constant quality:"), mode_box);
  EncModeQualityRadio->setObjectName(QStringLiteral("EncModeQualityRadio"));
  MakeSpinner(mode_box, "EncModeQuality", 5, 0, 100, 1, EncModeQualityEdit, EncModeQualityUpDown);
  EncModeQualityLabel = new QLabel(QStringLiteral("%"), mode_box);
  EncModeQualityLabel->setObjectName(QStringLiteral("EncModeQualityLabel"));
  auto* mode = new QGridLayout(mode_box);
  Compact(mode);
  mode->setHorizontalSpacing(2);
  mode->addWidget(EncModeFixedRadio, 0, 0, 1, 4);
  mode->addWidget(EncModeBitrateRadio, 1, 0);
  mode->addWidget(EncModeBitrateEdit, 1, 1);
  mode->addWidget(EncModeBitrateUpDown, 1, 2);
  mode->addWidget(EncModeBitrateLabel, 1, 3);
  mode->addWidget(EncModeQualityRadio, 2, 0);
  mode->addWidget(EncModeQualityEdit, 2, 1);
  mode->addWidget(EncModeQualityUpDown, 2, 2);
  mode->addWidget(EncModeQualityLabel, 2, 3);
  mode->setColumnStretch(4, 1);

  auto* volume_box = Group(sheet, "VolGroupBox", "Volume options");
  VolCheck = new QCheckBox(QStringLiteral("Split to volumes"), volume_box);
  VolCheck->setObjectName(QStringLiteral("VolCheck"));
  VolCombo = new QComboBox(volume_box);
  VolCombo->setObjectName(QStringLiteral("VolCombo"));
  VolCombo->addItem(VolumeIcon(0), QStringLiteral("Custom"));
  for (const VolumePresetEntry& preset : VolumePresetTable)
    VolCombo->addItem(VolumeIcon(preset.Icon), QString::fromUtf8(preset.Name));
  MakeSpinner(volume_box, "Vol", 5, 1, kMaxVolumeSizeMB, 1, VolEdit, VolUpDown);
  VolLabel = new QLabel(QStringLiteral("MB"), volume_box);
  VolLabel->setObjectName(QStringLiteral("VolLabel"));
  VolNumLabel = new QLabel(QStringLiteral("Number of volumes:"), volume_box);
  VolNumLabel->setObjectName(QStringLiteral("VolNumLabel"));
  MakeSpinner(volume_box, "VolNum", 2, 1, kMaxVolumeCount, 1, VolNumEdit, VolNumUpDown);
  VolNumEdit->setReadOnly(true);
  auto* volume = new QGridLayout(volume_box);
  Compact(volume);
  volume->setHorizontalSpacing(2);
  // Each row lines up on its own, so the long count caption sets no column.
  auto* size_row = new QHBoxLayout;
  size_row->setSpacing(2);
  size_row->addStretch(1);
  size_row->addWidget(VolEdit);
  size_row->addWidget(VolUpDown);
  size_row->addWidget(VolLabel);
  auto* count_row = new QHBoxLayout;
  count_row->setSpacing(2);
  count_row->addWidget(VolNumLabel, 1);
  count_row->addWidget(VolNumEdit);
  count_row->addWidget(VolNumUpDown);
  volume->addWidget(VolCheck, 0, 0);
  volume->addWidget(VolCombo, 1, 0);
  volume->addLayout(size_row, 2, 0);
  volume->addLayout(count_row, 3, 0);

  auto* complexity_box = Group(sheet, "EHQGroupBox", "Encoding complexity");
  EHQCustomCheck = new QCheckBox(QStringLiteral("Custom"), complexity_box);
  EHQCustomCheck->setObjectName(QStringLiteral("EHQCustomCheck"));
  EHQTwoPassCheck = new QCheckBox(QStringLiteral("Two Pass"), complexity_box);
  EHQTwoPassCheck->setObjectName(QStringLiteral("EHQTwoPassCheck"));
  EHQTrack = new QSlider(Qt::Horizontal, complexity_box);
  EHQTrack->setObjectName(QStringLiteral("EHQTrack"));
  EHQTrack->setRange(0, static_cast<int>(ComplexityPresetTable[0].size()) - 1);
  EHQTrack->setPageStep(1);
  EHQTrack->setTickPosition(QSlider::TicksBelow);
  EHQ1Label1 = new QLabel(QStringLiteral("P0:"), complexity_box);
  EHQ1Label1->setObjectName(QStringLiteral("EHQ1Label1"));
  EHQ1Label1->setToolTip(QStringLiteral("Analysis pass"));
  MakeSpinner(complexity_box, "EHQ1", 3, 50, 100, 1, EHQ1Edit, EHQ1UpDown);
  EHQ1Label2 = new QLabel(QStringLiteral("%"), complexity_box);
  EHQ1Label2->setObjectName(QStringLiteral("EHQ1Label2"));
  EHQ2Label1 = new QLabel(QStringLiteral("P1:"), complexity_box);
  EHQ2Label1->setObjectName(QStringLiteral("EHQ2Label1"));
  EHQ2Label1->setToolTip(QStringLiteral("Encoding pass"));
  MakeSpinner(complexity_box, "EHQ2", 3, 50, 100, 1, EHQ2Edit, EHQ2UpDown);
  EHQ2Label2 = new QLabel(QStringLiteral("%"), complexity_box);
  EHQ2Label2->setObjectName(QStringLiteral("EHQ2Label2"));
  auto* complexity = new QGridLayout(complexity_box);
  Compact(complexity);
  complexity->setHorizontalSpacing(2);
  complexity->addWidget(EHQCustomCheck, 0, 0, 1, 4);
  complexity->addWidget(EHQTwoPassCheck, 0, 4, 1, 5);
  complexity->addWidget(EHQTrack, 1, 0, 1, 9);
  int column = 0;
  for (QWidget* widget :
       std::initializer_list<QWidget*>{EHQ1Label1, EHQ1Edit, EHQ1UpDown, EHQ1Label2, EHQ2Label1,
                                       EHQ2Edit, EHQ2UpDown, EHQ2Label2})
    complexity->addWidget(widget, 2, column++);
  complexity->setColumnMinimumWidth(4, 24);
  complexity->setColumnStretch(8, 1);

  auto* misc_box = Group(sheet, "MiscGroupBox", "Miscellaneous");
  MiscLossCheck = new QCheckBox(QStringLiteral("Loss protection"), misc_box);
  MiscLossCheck->setObjectName(QStringLiteral("MiscLossCheck"));
  auto* misc = new QVBoxLayout(misc_box);
  Compact(misc);
  misc->addWidget(MiscLossCheck);

  // Two columns: the encoding on the left, the output files on the right.
  auto* grid = new QGridLayout(sheet);
  grid->setContentsMargins(kSheetMargin, kSheetMargin, kSheetMargin, kSheetMargin);
  grid->setSpacing(3);
  grid->addWidget(mode_box, 0, 0);
  grid->addWidget(complexity_box, 1, 0, 2, 1);
  grid->addWidget(volume_box, 0, 1, 2, 1);
  grid->addWidget(misc_box, 2, 1);
  grid->setRowStretch(3, 1);
  grid->setColumnStretch(0, 1);

  connect(EncModeFixedRadio, &QRadioButton::clicked, this, &ConfigPage::EncModeFixedRadioClick);
  connect(EncModeBitrateRadio, &QRadioButton::clicked, this, &ConfigPage::EncModeBitrateRadioClick);
  connect(EncModeQualityRadio, &QRadioButton::clicked, this, &ConfigPage::EncModeQualityRadioClick);
  connect(EncModeBitrateEdit, &QLineEdit::textChanged, this, &ConfigPage::EncModeBitrateEditChange);
  connect(EncModeQualityEdit, &QLineEdit::textChanged, this, &ConfigPage::EncModeQualityEditChange);
  connect(VolCheck, &QCheckBox::clicked, this, &ConfigPage::VolCheckClick);
  connect(VolCombo, &QComboBox::currentIndexChanged, this, &ConfigPage::VolComboChange);
  connect(VolEdit, &QLineEdit::textChanged, this, &ConfigPage::VolEditChange);
  connect(VolNumEdit, &QLineEdit::textChanged, this, &ConfigPage::VolNumEditChange);
  connect(EHQCustomCheck, &QCheckBox::clicked, this, &ConfigPage::EHQCustomCheckClick);
  connect(EHQTwoPassCheck, &QCheckBox::clicked, this, &ConfigPage::EHQTwoPassCheckClick);
  connect(EHQTrack, &QSlider::valueChanged, this, &ConfigPage::EHQTrackChange);
  connect(EHQ1Edit, &QLineEdit::textChanged, this, &ConfigPage::EHQ1EditChange);
  connect(EHQ2Edit, &QLineEdit::textChanged, this, &ConfigPage::EHQ2EditChange);
  connect(MiscLossCheck, &QCheckBox::clicked, this, &ConfigPage::MiscLossCheckClick);

  // NumEditKeyPress and the checks on leaving.
  new EditWatcher(EncModeBitrateEdit, IsNumberKey, [this] { EncModeBitrateEditExit(); });
  new EditWatcher(EncModeQualityEdit, IsNumberKey, [this] { EncModeQualityEditExit(); });
  new EditWatcher(VolEdit, IsNumberKey, [this] { VolEditExit(); });
  new EditWatcher(VolNumEdit, IsNumberKey, nullptr);
  new EditWatcher(EHQ1Edit, IsNumberKey, [this] { EHQ1EditExit(); });
  new EditWatcher(EHQ2Edit, IsNumberKey, [this] { EHQ2EditExit(); });
}

void ConfigPage::BuildVideoSheet(QWidget* sheet) {
  VideoInfoLabel = new QLabel(QStringLiteral("Stream information:"), sheet);
  VideoInfoLabel->setObjectName(QStringLiteral("VideoInfoLabel"));
  VideoInfoList = new QTreeWidget(sheet);
  VideoInfoList->setObjectName(QStringLiteral("VideoInfoList"));
  VideoInfoList->setColumnCount(2);
  VideoInfoList->setHeaderHidden(true);
  VideoInfoList->setRootIsDecorated(false);
  VideoInfoList->setIndentation(0);
  VideoInfoList->setSelectionMode(QAbstractItemView::NoSelection);
  VideoInfoList->setFocusPolicy(Qt::NoFocus);
  VideoInfoList->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  VideoInfoList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  for (const auto& [name, value] : StreamInformation(TitleFacts{}, JobSettings{}))
    new QTreeWidgetItem(VideoInfoList, {QString::fromLatin1(name), QString()});
  VideoInfoList->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  VideoInfoLabel->setBuddy(VideoInfoList);
  // Room for the six rows and their longest values.
  const QFontMetrics metrics(VideoInfoList->font());
  VideoInfoList->setMinimumSize(
      metrics.horizontalAdvance(QStringLiteral("ResolutionProgressive")) + 20,
      VideoInfoList->sizeHintForRow(0) * 6 + 4);

  auto* resize_box = Group(sheet, "VideoResGroupBox", "Resize");
  VideoResAutoCheck = new QRadioButton(QStringLiteral("Auto"), resize_box);
  VideoResAutoCheck->setObjectName(QStringLiteral("VideoResAutoCheck"));
  VideoResManuCheck = new QRadioButton(QStringLiteral("Manual"), resize_box);
  VideoResManuCheck->setObjectName(QStringLiteral("VideoResManuCheck"));
  MakeSpinner(resize_box, "VideoResW", 4, kMinOutputSize, kMaxOutputSize, 4, VideoResWEdit,
              VideoResWUpDown);
  MakeSpinner(resize_box, "VideoResH", 4, kMinOutputSize, kMaxOutputSize, 4, VideoResHEdit,
              VideoResHUpDown);
  auto* resize = new QHBoxLayout(resize_box);
  Compact(resize);
  resize->addWidget(VideoResAutoCheck);
  resize->addWidget(VideoResManuCheck);
  resize->addSpacing(4);
  resize->addWidget(VideoResWEdit);
  resize->addWidget(VideoResWUpDown);
  resize->addWidget(new QLabel(QStringLiteral("x"), resize_box));
  resize->addWidget(VideoResHEdit);
  resize->addWidget(VideoResHUpDown);
  resize->addStretch(1);

  auto* crop_box = Group(sheet, "VideoCropGroupBox", "Crop");
  VideoCropNoCheck = new QRadioButton(QStringLiteral("Disable"), crop_box);
  VideoCropNoCheck->setObjectName(QStringLiteral("VideoCropNoCheck"));
  VideoCropAutoCheck = new QRadioButton(QStringLiteral("Auto"), crop_box);
  VideoCropAutoCheck->setObjectName(QStringLiteral("VideoCropAutoCheck"));
  VideoCropManuCheck = new QRadioButton(QStringLiteral("Manual"), crop_box);
  VideoCropManuCheck->setObjectName(QStringLiteral("VideoCropManuCheck"));
  VideoCropAdjButton = new QPushButton(QStringLiteral("Adjust..."), crop_box);
  VideoCropAdjButton->setObjectName(QStringLiteral("VideoCropAdjButton"));
  auto* crop = new QGridLayout(crop_box);
  Compact(crop);
  crop->setHorizontalSpacing(2);
  auto* radios = new QHBoxLayout;
  radios->addWidget(VideoCropNoCheck);
  radios->addWidget(VideoCropAutoCheck);
  radios->addWidget(VideoCropManuCheck);
  radios->addStretch(1);
  radios->addWidget(VideoCropAdjButton);
  crop->addLayout(radios, 0, 0, 1, 8);
  struct Margin {
    const char* name;
    const char* caption;
    QLineEdit*& edit;
    queue::UpDown*& up_down;
    int row, column;
  };
  const Margin margins[] = {{"VideoCropT", "Top:", VideoCropTEdit, VideoCropTUpDown, 1, 0},
                            {"VideoCropB", "Bottom:", VideoCropBEdit, VideoCropBUpDown, 1, 4},
                            {"VideoCropL", "Left:", VideoCropLEdit, VideoCropLUpDown, 2, 0},
                            {"VideoCropR", "Right:", VideoCropREdit, VideoCropRUpDown, 2, 4}};
  for (const Margin& m : margins) {
    MakeSpinner(crop_box, m.name, 4, 0, kMaxOutputSize, 2, m.edit, m.up_down);
    auto* label = new QLabel(QString::fromLatin1(m.caption), crop_box);
    label->setBuddy(m.edit);
    crop->addWidget(label, m.row, m.column);
    crop->addWidget(m.edit, m.row, m.column + 1);
    crop->addWidget(m.up_down, m.row, m.column + 2);
  }
  crop->setColumnMinimumWidth(3, 12);
  crop->setColumnStretch(7, 1);

  auto* advanced_box = Group(sheet, "VideoAdvGroupBox", "Advanced options");
  VideoTruCheck = new QCheckBox(QStringLiteral("PAL TruSpeed"), advanced_box);
  VideoTruCheck->setObjectName(QStringLiteral("VideoTruCheck"));
  VideoFiltersButton = new QPushButton(QStringLiteral("Filters..."), advanced_box);
  VideoFiltersButton->setObjectName(QStringLiteral("VideoFiltersButton"));
  VideoCodecButton = new QPushButton(QStringLiteral("Codec..."), advanced_box);
  VideoCodecButton->setObjectName(QStringLiteral("VideoCodecButton"));
  auto* advanced = new QHBoxLayout(advanced_box);
  Compact(advanced);
  advanced->addWidget(VideoTruCheck);
  advanced->addStretch(1);
  advanced->addWidget(VideoFiltersButton);
  advanced->addWidget(VideoCodecButton);

  // The title's facts on the left, what is made of the picture on the right.
  auto* grid = new QGridLayout(sheet);
  grid->setContentsMargins(kSheetMargin, kSheetMargin, kSheetMargin, kSheetMargin);
  grid->setSpacing(3);
  auto* info = new QVBoxLayout;
  info->setSpacing(2);
  info->addWidget(VideoInfoLabel);
  info->addWidget(VideoInfoList, 1);
  grid->addLayout(info, 0, 0, 2, 1);
  grid->addWidget(resize_box, 0, 1);
  grid->addWidget(crop_box, 1, 1);
  grid->addWidget(advanced_box, 2, 0, 1, 2);
  grid->setColumnStretch(1, 1);
  grid->setRowStretch(1, 1);

  connect(VideoResAutoCheck, &QRadioButton::clicked, this, &ConfigPage::VideoResAutoCheckClick);
  connect(VideoResManuCheck, &QRadioButton::clicked, this, &ConfigPage::VideoResManuCheckClick);
  connect(VideoResWEdit, &QLineEdit::textChanged, this, &ConfigPage::VideoResWEditChange);
  connect(VideoResHEdit, &QLineEdit::textChanged, this, &ConfigPage::VideoResHEditChange);
  connect(VideoCropNoCheck, &QRadioButton::clicked, this, &ConfigPage::VideoCropNoCheckClick);
  connect(VideoCropAutoCheck, &QRadioButton::clicked, this, &ConfigPage::VideoCropAutoCheckClick);
  connect(VideoCropManuCheck, &QRadioButton::clicked, this, &ConfigPage::VideoCropManuCheckClick);
  connect(VideoCropTEdit, &QLineEdit::textChanged, this, &ConfigPage::VideoCropTEditChange);
  connect(VideoCropBEdit, &QLineEdit::textChanged, this, &ConfigPage::VideoCropBEditChange);
  connect(VideoCropLEdit, &QLineEdit::textChanged, this, &ConfigPage::VideoCropLEditChange);
  connect(VideoCropREdit, &QLineEdit::textChanged, this, &ConfigPage::VideoCropREditChange);
  connect(VideoCropAdjButton, &QPushButton::clicked, this, &ConfigPage::VideoCropAdjButtonClick);
  connect(VideoTruCheck, &QCheckBox::clicked, this, &ConfigPage::VideoTruCheckClick);
  connect(VideoFiltersButton, &QPushButton::clicked, this, &ConfigPage::VideoFiltersButtonClick);
  connect(VideoCodecButton, &QPushButton::clicked, this, &ConfigPage::VideoCodecButtonClick);

  // VideoResEditKeyPress and the checks on leaving.
  new EditWatcher(VideoResWEdit, IsNumberKey, [this] { VideoResWEditExit(); });
  new EditWatcher(VideoResHEdit, IsNumberKey, [this] { VideoResHEditExit(); });
  for (QLineEdit* edit : {VideoCropTEdit, VideoCropBEdit, VideoCropLEdit, VideoCropREdit})
    new EditWatcher(edit, IsNumberKey, [this, edit] { VideoCropEditExit(edit); });
}

void ConfigPage::BuildAudioSheet(QWidget* sheet) {
  auto* grid = new QGridLayout(sheet);
  grid->setContentsMargins(kSheetMargin, kSheetMargin, kSheetMargin, kSheetMargin);

  Audio1TrackLabel = new QLabel(QStringLiteral("Track:"), sheet);
  Audio1TrackLabel->setObjectName(QStringLiteral("Audio1TrackLabel"));
  Audio1TrackCombo = new QComboBox(sheet);
  Audio1TrackCombo->setObjectName(QStringLiteral("Audio1TrackCombo"));
  Audio1TrackCombo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  Audio1TrackCombo->setMinimumContentsLength(24);
  Audio1TrackLabel->setBuddy(Audio1TrackCombo);
  auto* track = new QHBoxLayout;
  track->addWidget(Audio1TrackLabel);
  track->addWidget(Audio1TrackCombo, 1);

  auto* mode_box = new QGroupBox(QStringLiteral("Encoding mode"), sheet);
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

  auto* rate_box = new QGroupBox(QStringLiteral("Bitrate"), sheet);
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

  auto* gain_box = new QGroupBox(QStringLiteral("Gain"), sheet);
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

  auto* left = new QVBoxLayout;
  left->addWidget(mode_box);
  left->addWidget(rate_box);
  left->addStretch(1);
  grid->addLayout(track, 0, 0, 1, 2);
  grid->addLayout(left, 1, 0);
  grid->addWidget(gain_box, 1, 1);
  grid->setColumnStretch(0, 1);

  connect(Audio1TrackCombo, &QComboBox::currentIndexChanged, this,
          &ConfigPage::Audio1TrackComboChange);
  for (QRadioButton* button :
       {Audio1MonoRadio, Audio1StereoRadio, Audio1SurroundRadio, Audio1MultiRadio})
    connect(button, &QRadioButton::clicked, this, &ConfigPage::Audio1EncModeRadioClick);
  connect(Audio1BitrateAutoRadio, &QRadioButton::clicked, this,
          &ConfigPage::Audio1BitrateRadioClick);
  connect(Audio1BitrateManuRadio, &QRadioButton::clicked, this,
          &ConfigPage::Audio1BitrateRadioClick);
  connect(Audio1BitrateTrack, &QSlider::valueChanged, this, &ConfigPage::Audio1BitrateTrackChange);
  connect(Audio1GainCheck, &QCheckBox::clicked, this, &ConfigPage::Audio1GainCheckClick);
  connect(Audio1GainTrack, &QSlider::valueChanged, this, &ConfigPage::Audio1GainTrackChange);
}

void ConfigPage::BuildSubtitleSheet(QWidget* sheet) {
  auto* grid = new QGridLayout(sheet);
  grid->setContentsMargins(kSheetMargin, kSheetMargin, kSheetMargin, kSheetMargin);
  SubCheck = new QCheckBox(QStringLiteral("Enable subtitles"), sheet);
  SubCheck->setObjectName(QStringLiteral("SubCheck"));
  SubLabel1 = new QLabel(QStringLiteral("Language:"), sheet);
  SubLabel1->setObjectName(QStringLiteral("SubLabel1"));
  SubLangCombo = new QComboBox(sheet);
  SubLangCombo->setObjectName(QStringLiteral("SubLangCombo"));
  SubLangCombo->setMinimumContentsLength(16);
  SubLabel1->setBuddy(SubLangCombo);
  grid->addWidget(SubCheck, 0, 0, 1, 2);
  grid->addWidget(SubLabel1, 1, 0);
  grid->addWidget(SubLangCombo, 1, 1);
  grid->setColumnStretch(2, 1);
  grid->setRowStretch(2, 1);
  connect(SubCheck, &QCheckBox::clicked, this, &ConfigPage::SubCheckClick);
  connect(SubLangCombo, &QComboBox::currentIndexChanged, this, &ConfigPage::SubLangComboChange);
}

void ConfigPage::BuildSummarySheet(QWidget* sheet) {
  auto* grid = new QGridLayout(sheet);
  grid->setContentsMargins(kSheetMargin, kSheetMargin, kSheetMargin, kSheetMargin);
  grid->setVerticalSpacing(3);
  auto row = [sheet, grid](int at, const char* caption, QWidget* field) {
    auto* label = new QLabel(QString::fromLatin1(caption), sheet);
    label->setBuddy(field);
    grid->addWidget(label, at, 0, Qt::AlignTop);
    grid->addWidget(field, at, 1);
  };
  auto edit = [sheet](const char* name) {
    auto* line = new QLineEdit(sheet);
    line->setObjectName(QLatin1String(name));
    line->setMaxLength(kMaxClipTextLength);
    return line;
  };
  InfoTitleEdit = edit("InfoTitleEdit");
  InfoAuthorEdit = edit("InfoAuthorEdit");
  InfoCopyEdit = edit("InfoCopyEdit");
  InfoWordsEdit = edit("InfoWordsEdit");
  InfoDescMemo = new QPlainTextEdit(sheet);
  InfoDescMemo->setObjectName(QStringLiteral("InfoDescMemo"));
  InfoDescMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  InfoDescMemo->setTabChangesFocus(true);
  InfoDescMemo->setMinimumHeight(InfoDescMemo->fontMetrics().lineSpacing() * 2 + 8);
  InfoRatingCombo = new QComboBox(sheet);
  InfoRatingCombo->setObjectName(QStringLiteral("InfoRatingCombo"));
  for (const char* rating : kRatingTexts) InfoRatingCombo->addItem(QString::fromLatin1(rating));
  row(0, "Title:", InfoTitleEdit);
  row(1, "Author:", InfoAuthorEdit);
  row(2, "Copyright:", InfoCopyEdit);
  row(3, "Keywords:", InfoWordsEdit);
  row(4, "Description:", InfoDescMemo);
  row(5, "Rating:", InfoRatingCombo);
  grid->setRowStretch(4, 1);

  // The texts the wizard starts with.
  const JobSettings& settings = Settings();
  InfoTitleEdit->setText(QString::fromStdString(settings.Title));
  InfoAuthorEdit->setText(QString::fromStdString(settings.Author));
  InfoCopyEdit->setText(QString::fromStdString(settings.Copyright));
  InfoWordsEdit->setText(QString::fromStdString(settings.Keywords));
  InfoDescMemo->setPlainText(QString::fromStdString(settings.Description));
  InfoRatingCombo->setCurrentIndex(settings.Rating);

  for (QLineEdit* line : {InfoTitleEdit, InfoAuthorEdit, InfoCopyEdit, InfoWordsEdit}) {
    connect(line, &QLineEdit::textChanged, this, &ConfigPage::InfoEditChange);
    new EditWatcher(line, IsClipTextKey, [this, line] { InfoEditExit(line); });
  }
  connect(InfoDescMemo, &QPlainTextEdit::textChanged, this, &ConfigPage::InfoEditChange);
  new EditWatcher(InfoDescMemo, IsClipTextKey, [this] { InfoEditExit(InfoDescMemo); });
  connect(InfoRatingCombo, &QComboBox::currentIndexChanged, this,
          &ConfigPage::InfoRatingComboChange);
}

// --- entering and leaving --------------------------------------------------

void ConfigPage::Enter() {
  frame_.SetHeader(3, QStringLiteral("Configuration"),
                   QStringLiteral("Set transcoding properties."));
  WizardState& state = frame_.State();
  QPushButton* next = frame_.NextButton();
  if (state.SelectionChanged || state.PreparedTitle != state.Selection()) {
    SetUpForNewTitle();
  } else {
    next->setEnabled(saved_next_enabled_);
  }
  frame_.SelectNotebookPage(kConfigPage);
  next->setText(QStringLiteral("Finish"));
  QFont bold = next->font();
  bold.setBold(true);
  next->setFont(bold);
  frame_.PreviewButton()->setVisible(next->isEnabled());
}

bool ConfigPage::Leave(bool forward) {
  // Forwards is Finish: the job writer's step, run by the frame.
  if (forward) return true;
  // A return to the same title keeps everything.
  frame_.State().SelectionChanged = false;
  QPushButton* next = frame_.NextButton();
  saved_next_enabled_ = next->isEnabled();
  QFont normal = next->font();
  normal.setBold(false);
  next->setFont(normal);
  next->setText(QStringLiteral("Next >"));
  frame_.PreviewButton()->hide();
  return true;
}

void ConfigPage::SetUpForNewTitle() {
  HandlersOff off(handlers_active_);
  WizardState& state = frame_.State();
  state.PreparedTitle = state.Selection();
  JobSettings& settings = Settings();
  settings.InitialiseForTitle(FactsForTitle(state.SelectedTitleSet(), state.SelPgc));
  const TitleFacts& title = settings.Facts;

  ConfigTabs->setCurrentWidget(GeneralSheet);
  VideoTruCheck->setEnabled(title.PalVideo);

  Audio1TrackCombo->clear();
  for (size_t i = 0; i < title.AudioStreams.size(); ++i) {
    const PgcAudioEntry& stream = title.AudioStreams[i];
    Audio1TrackCombo->addItem(AudioFormatIcon(AudioFormatOf(stream.Format).Icon),
                              QString::fromStdString(AudioTrackItemText(int(i), stream)));
  }
  ConfigTabs->setTabVisible(ConfigTabs->indexOf(AudioSheet), settings.HasAudio);

  SubLangCombo->clear();
  for (size_t i = 0; i < title.SubtitleStreams.size(); ++i) {
    SubLangCombo->addItem(
        QString::fromStdString(SubtitleItemText(int(i), title.SubtitleStreams[i])));
  }
  ConfigTabs->setTabVisible(ConfigTabs->indexOf(SubSheet), settings.HasSubtitles);

  ApplyDefaultsForNewTitle();
}

void ConfigPage::ApplyDefaultsForNewTitle() {
  // JobSettings has set every value; what is left is which controls are
  // usable, in the order the handlers would leave them.
  {
    HandlersOff off(handlers_active_);
    SetCropRadiosEnabled();
    ShowSettings();
    VideoResControls();
    VideoCropControls();
    if (Settings().HasAudio) Audio1BitrateControls();
    Audio1GainCheckClick();
    EncModeFixedControls();
    VolComboControls();
    if (Settings().HasSubtitles) SubCheckControls();
    EHQCustomControls();
  }
  frame_.NextButton()->setEnabled(true);
  frame_.PreviewButton()->setVisible(true);
  update();
}

// --- showing the settings -------------------------------------------------

int ConfigPage::FieldValue(const QLineEdit* edit, const queue::UpDown* up_down, int fallback) {
  return HoldsInteger(*edit) ? SpinnerValue(*up_down) : fallback;
}

void ConfigPage::ShowNumber(QLineEdit* edit, int value) {
  // The field being typed in keeps the user's text.
  if (edit == typing_) return;
  const QString text = QString::number(value);
  if (edit->text() != text) edit->setText(text);
}

void ConfigPage::ShowStreamInformation() {
  const StreamInfoRows rows = StreamInformation(Settings().Facts, Settings());
  for (int i = 0; i < static_cast<int>(rows.size()); ++i)
    VideoInfoList->topLevelItem(i)->setText(1, QString::fromStdString(rows[i].second));
}

void ConfigPage::ShowSettings() {
  HandlersOff off(handlers_active_);
  const JobSettings& s = Settings();

  EncModeFixedRadio->setChecked(s.EncodeMode == EncodeModeKind::FixedSize);
  EncModeBitrateRadio->setChecked(s.EncodeMode == EncodeModeKind::AverageBitrate);
  EncModeQualityRadio->setChecked(s.EncodeMode == EncodeModeKind::ConstantQuality);
  EncModeBitrateUpDown->SetMinimum(std::clamp(s.MinimumBitrateKbps, 1, kMaxBitrateKbps));
  ShowNumber(EncModeBitrateEdit, s.BitrateKbps);
  ShowNumber(EncModeQualityEdit, s.QualityPercent);
  VolCheck->setChecked(s.SplitVolumes);
  VolCombo->setCurrentIndex(s.VolumePreset);
  VolUpDown->SetMinimum(std::clamp(s.MinimumVolumeSizeMB, 1, kMaxVolumeSizeMB));
  ShowNumber(VolEdit, s.VolumeSizeMB);
  ShowNumber(VolNumEdit, s.VolumeCount);
  EHQCustomCheck->setChecked(s.ComplexityCustom);
  EHQTwoPassCheck->setChecked(s.TwoPass);
  EHQTrack->setMaximum(s.ComplexitySliderMax);
  EHQTrack->setValue(s.ComplexityPreset);
  ShowNumber(EHQ1Edit, s.TwoPass ? s.firstPassComplexity : 0);
  ShowNumber(EHQ2Edit, s.encoderComplexity);
  MiscLossCheck->setChecked(s.enableLossProtection);

  ShowStreamInformation();
  VideoResAutoCheck->setChecked(s.ResizeMode == ResizeModeKind::Auto);
  VideoResManuCheck->setChecked(s.ResizeMode == ResizeModeKind::Manual);
  ShowNumber(VideoResWEdit, s.OutputWidth);
  ShowNumber(VideoResHEdit, s.OutputHeight);
  VideoCropNoCheck->setChecked(s.CropMode == CropModeKind::Disabled);
  VideoCropAutoCheck->setChecked(s.CropMode == CropModeKind::Auto);
  VideoCropManuCheck->setChecked(s.CropMode == CropModeKind::Manual);
  const PictureRect& r = s.CropRect;
  ShowCropMargins(r.Top, s.Facts.PictureHeight - r.Top - r.Height, r.Left,
                  s.Facts.PictureWidth - r.Left - r.Width);
  VideoTruCheck->setChecked(s.PalTruSpeed);

  if (s.HasAudio) {
    Audio1TrackCombo->setCurrentIndex(s.AudioTrack);
    QRadioButton* const modes[] = {Audio1MonoRadio, Audio1StereoRadio, Audio1SurroundRadio,
                                   Audio1MultiRadio};
    for (int m = 0; m < 4; ++m) {
      modes[m]->setEnabled(s.ChannelModeAllowed[m]);
      modes[m]->setChecked(static_cast<int>(s.ChannelMode) == m);
    }
    Audio1BitrateAutoRadio->setChecked(s.AudioBitrateAuto);
    Audio1BitrateManuRadio->setChecked(!s.AudioBitrateAuto);
    Audio1BitrateTrack->setMaximum(s.AudioRowSliderMax);
    Audio1BitrateTrack->setValue(s.AudioCodecRow);
    Audio1BitrateTrack->setEnabled(s.AudioRowSliderEnabled);
    if (const AudioCodecEntry* row = s.ChosenAudioCodecRow())
      Audio1BitrateLabel->setText(QString::fromStdString(FormatAudioBitrate(row->Kbps)));
    Audio1GainCheck->setChecked(s.GainEnabled);
    Audio1GainTrack->setValue(s.GainStep);
  }
  if (s.HasSubtitles) {
    SubCheck->setChecked(s.SubtitlesEnabled);
    SubLangCombo->setCurrentIndex(s.SubtitleTrack);
  }
  InfoRatingCombo->setCurrentIndex(s.Rating);
}

// --- which controls are usable ---------------------------------------------

void ConfigPage::EncModeFixedControls() {
  {
    HandlersOff off(handlers_active_);
    VolCheck->setChecked(true);
  }
  VolCheckControls();
  VolCheck->setEnabled(false);
  SetAllEnabled({EncModeBitrateEdit, EncModeBitrateUpDown, EncModeBitrateLabel, EncModeQualityEdit,
                 EncModeQualityUpDown, EncModeQualityLabel},
                false);
  SetAllEnabled({VolNumLabel, VolNumEdit, VolNumUpDown, VideoResAutoCheck, Audio1BitrateAutoRadio},
                true);
}

void ConfigPage::EncModeBitrateControls() {
  SetAllEnabled({EncModeBitrateEdit, EncModeBitrateUpDown, EncModeBitrateLabel, VolCheck,
                 VolNumLabel, VideoResAutoCheck, Audio1BitrateAutoRadio},
                true);
  SetAllEnabled(
      {EncModeQualityEdit, EncModeQualityUpDown, EncModeQualityLabel, VolNumEdit, VolNumUpDown},
      false);
}

void ConfigPage::EncModeQualityControls() {
  SetAllEnabled({EncModeQualityEdit, EncModeQualityUpDown, EncModeQualityLabel, VolCheck}, true);
  SetAllEnabled({EncModeBitrateEdit, EncModeBitrateUpDown, EncModeBitrateLabel, VolNumLabel,
                 VolNumEdit, VolNumUpDown, VideoResAutoCheck, Audio1BitrateAutoRadio},
                false);
}

void ConfigPage::VolCheckControls() {
  const bool on = VolCheck->isChecked();
  VolCombo->setEnabled(on);
  VolLabel->setEnabled(on);
  const bool custom = on && VolCombo->currentIndex() == 0;
  SetAllEnabled({VolEdit, VolUpDown}, custom);
  if (!on) {
    SetAllEnabled({VolNumLabel, VolNumEdit, VolNumUpDown}, false);
  } else if (EncModeFixedRadio->isChecked()) {
    SetAllEnabled({VolNumLabel, VolNumEdit, VolNumUpDown}, true);
  }
}

void ConfigPage::VolComboControls() {
  SetAllEnabled({VolEdit, VolUpDown}, VolCombo->currentIndex() == 0);
}

void ConfigPage::EHQCustomControls() {
  if (EHQCustomCheck->isChecked()) {
    EHQTrack->setEnabled(false);
    EHQTwoPassCheck->setEnabled(!EncModeQualityRadio->isChecked());
    EHQTwoPassControls();
    SetAllEnabled({EHQ2Label1, EHQ2Edit, EHQ2UpDown, EHQ2Label2}, true);
  } else {
    EHQTrack->setEnabled(true);
    EHQTwoPassCheck->setEnabled(false);
    SetAllEnabled({EHQ1Edit, EHQ1UpDown, EHQ2Edit, EHQ2UpDown}, false);
    EHQTrackControls();
  }
}

void ConfigPage::EHQTwoPassControls() {
  SetAllEnabled({EHQ1Label1, EHQ1Edit, EHQ1UpDown, EHQ1Label2}, EHQTwoPassCheck->isChecked());
}

void ConfigPage::EHQTrackControls() {
  // A preset row with an analysis pass shows its P0 value.
  SetAllEnabled({EHQ1Label1, EHQ1Label2}, Settings().TwoPass);
}

void ConfigPage::VideoResControls() {
  SetAllEnabled({VideoResWEdit, VideoResWUpDown, VideoResHEdit, VideoResHUpDown},
                VideoResManuCheck->isChecked());
}

void ConfigPage::VideoCropControls() {
  SetAllEnabled({VideoCropTEdit, VideoCropBEdit, VideoCropLEdit, VideoCropREdit, VideoCropTUpDown,
                 VideoCropBUpDown, VideoCropLUpDown, VideoCropRUpDown, VideoCropAdjButton},
                VideoCropManuCheck->isChecked());
}

void ConfigPage::SetCropRadiosEnabled() {
  VideoCropNoCheck->setEnabled(true);
  VideoCropManuCheck->setEnabled(true);
  VideoCropAutoCheck->setEnabled(Settings().Facts.BordersDetected());
}

void ConfigPage::Audio1BitrateControls() {
  Audio1BitrateTrack->setEnabled(Audio1BitrateManuRadio->isChecked() &&
                                 Audio1BitrateTrack->maximum() != 0);
}

void ConfigPage::SubCheckControls() {
  const bool on = SubCheck->isChecked();
  SetAllEnabled({SubLabel1, SubLangCombo}, on);
  // Burnt-in subtitles and automatic crop never go together.
  VideoCropAutoCheck->setEnabled(!on && Settings().Facts.BordersDetected());
}

// --- encoding mode and volumes ---------------------------------------------

void ConfigPage::EncModeFixedRadioClick() {
  if (!handlers_active_) return;
  EncModeFixedControls();
  JobSettings& s = Settings();
  ChooseFixedSize(s, FieldValue(EncModeBitrateEdit, EncModeBitrateUpDown, s.BitrateKbps),
                  FieldValue(VolEdit, VolUpDown, s.VolumeSizeMB),
                  FieldValue(VolNumEdit, VolNumUpDown, s.VolumeCount));
  ShowSettings();
  EHQCustomControls();
}

void ConfigPage::EncModeBitrateRadioClick() {
  if (!handlers_active_) return;
  EncModeBitrateControls();
  JobSettings& s = Settings();
  ChooseAverageBitrate(s, FieldValue(EncModeBitrateEdit, EncModeBitrateUpDown, s.BitrateKbps));
  ShowSettings();
  EHQCustomControls();
}

void ConfigPage::EncModeQualityRadioClick() {
  if (!handlers_active_) return;
  EncModeQualityControls();
  // Manual resize and manual audio bit rate: JobSettings switches both
  // with the mode, the page their controls.
  JobSettings& s = Settings();
  ChooseConstantQuality(s, FieldValue(EncModeQualityEdit, EncModeQualityUpDown, s.QualityPercent));
  ShowSettings();
  VideoResControls();
  Audio1BitrateControls();
  EHQCustomControls();
}

void ConfigPage::EncModeBitrateEditChange() {
  if (!handlers_active_ || !HoldsInteger(*EncModeBitrateEdit)) return;
  if (EncModeBitrateEdit->text().toInt() < EncModeBitrateUpDown->Minimum()) return;
  typing_ = EncModeBitrateEdit;
  TypeBitrate(Settings(), SpinnerValue(*EncModeBitrateUpDown));
  ShowSettings();
  typing_ = nullptr;
}

void ConfigPage::EncModeQualityEditChange() {
  if (!handlers_active_ || !HoldsInteger(*EncModeQualityEdit)) return;
  typing_ = EncModeQualityEdit;
  TypeQuality(Settings(), SpinnerValue(*EncModeQualityUpDown));
  ShowSettings();
  typing_ = nullptr;
}

void ConfigPage::VolCheckClick() {
  if (!handlers_active_) return;
  VolCheckControls();
  Settings().SplitVolumes = VolCheck->isChecked();
}

void ConfigPage::VolComboChange() {
  if (!handlers_active_) return;
  VolComboControls();
  JobSettings& s = Settings();
  // "Custom" keeps the size in the field.
  ChooseVolumePreset(s, VolCombo->currentIndex(), FieldValue(VolEdit, VolUpDown, s.VolumeSizeMB));
  ShowSettings();
}

void ConfigPage::VolEditChange() {
  if (!handlers_active_ || !HoldsInteger(*VolEdit)) return;
  typing_ = VolEdit;
  TypeVolumeSize(Settings(), SpinnerValue(*VolUpDown));
  ShowSettings();
  typing_ = nullptr;
}

void ConfigPage::VolNumEditChange() {
  if (!handlers_active_ || !HoldsInteger(*VolNumEdit)) return;
  JobSettings& s = Settings();
  TypeVolumeCount(s, SpinnerValue(*VolNumUpDown), FieldValue(VolEdit, VolUpDown, s.VolumeSizeMB));
  ShowSettings();
}

// --- complexity ------------------------------------------------------------

void ConfigPage::EHQCustomCheckClick() {
  if (!handlers_active_) return;
  ChooseCustomComplexity(Settings(), EHQCustomCheck->isChecked(), EHQTwoPassCheck->isChecked(),
                         EHQTrack->value());
  ShowSettings();
  EHQCustomControls();
}

void ConfigPage::EHQTwoPassCheckClick() {
  if (!handlers_active_) return;
  ChooseTwoPass(Settings(), EHQTwoPassCheck->isChecked());
  EHQTwoPassControls();
  ShowSettings();
}

void ConfigPage::EHQTrackChange() {
  if (!handlers_active_) return;
  if (Settings().ComplexityCustom) return;
  ChooseComplexityPreset(Settings(), EHQTrack->value());
  EHQTrackControls();
  ShowSettings();
}

void ConfigPage::EHQ1EditChange() {
  if (!handlers_active_ || !HoldsInteger(*EHQ1Edit)) return;
  TypeFirstPassComplexity(Settings(), SpinnerValue(*EHQ1UpDown));
}

void ConfigPage::EHQ2EditChange() {
  if (!handlers_active_ || !HoldsInteger(*EHQ2Edit)) return;
  TypeEncoderComplexity(Settings(), SpinnerValue(*EHQ2UpDown));
}

void ConfigPage::MiscLossCheckClick() {
  if (!handlers_active_) return;
  Settings().enableLossProtection = MiscLossCheck->isChecked();
}

// --- leaving number fields ---------------------------------------------------

void ConfigPage::EncModeBitrateEditExit() {
  if (!CheckNumberField(*EncModeBitrateEdit, kAboveZeroMessages)) return;
  const int value = SpinnerValue(*EncModeBitrateUpDown);
  if (value != 0) EncModeBitrateEdit->setText(QString::number(value));
}

void ConfigPage::EncModeQualityEditExit() {
  if (!CheckNumberField(*EncModeQualityEdit, kPercentMessages)) return;
  EncModeQualityEdit->setText(QString::number(SpinnerValue(*EncModeQualityUpDown)));
}

void ConfigPage::VolEditExit() {
  if (!CheckNumberField(*VolEdit, kAboveZeroMessages)) return;
  const int value = SpinnerValue(*VolUpDown);
  if (value != 0) VolEdit->setText(QString::number(value));
}

void ConfigPage::VideoResWEditExit() {
  if (!CheckNumberField(*VideoResWEdit, kAboveZeroMessages)) return;
  const int width = SpinnerValue(*VideoResWUpDown);
  if (width == 0) return;
  FitTypedWidth(Settings(), width);
  ShowSettings();
}

void ConfigPage::VideoResHEditExit() {
  if (!CheckNumberField(*VideoResHEdit, kAboveZeroMessages)) return;
  // Both fields follow the width, as when the width is left.
  const int width = SpinnerValue(*VideoResWUpDown);
  if (width == 0 || !HoldsInteger(*VideoResHEdit)) return;
  FitTypedWidth(Settings(), width);
  ShowSettings();
}

void ConfigPage::VideoCropEditExit(QLineEdit* edit) {
  if (!CheckNumberField(*edit, kMarginMessages)) return;
  const queue::UpDown* up_down = edit == VideoCropTEdit   ? VideoCropTUpDown
                                 : edit == VideoCropBEdit ? VideoCropBUpDown
                                 : edit == VideoCropLEdit ? VideoCropLUpDown
                                                          : VideoCropRUpDown;
  edit->setText(QString::number(EvenTowardsZero(SpinnerValue(*up_down))));
}

void ConfigPage::EHQ1EditExit() {
  if (!CheckNumberField(*EHQ1Edit, kComplexityMessages)) return;
  EHQ1Edit->setText(QString::number(SpinnerValue(*EHQ1UpDown)));
}

void ConfigPage::EHQ2EditExit() {
  if (!CheckNumberField(*EHQ2Edit, kComplexityMessages)) return;
  EHQ2Edit->setText(QString::number(SpinnerValue(*EHQ2UpDown)));
}

// --- resize and crop ---------------------------------------------------------

void ConfigPage::VideoResAutoCheckClick() {
  if (!handlers_active_) return;
  VideoResControls();
  ChooseResizeMode(Settings(), ResizeModeKind::Auto);
  ShowSettings();
}

void ConfigPage::VideoResManuCheckClick() {
  if (!handlers_active_) return;
  VideoResControls();
  ChooseResizeMode(Settings(), ResizeModeKind::Manual);
  ShowSettings();
}

void ConfigPage::VideoResWEditChange() {
  if (!handlers_active_ || !HoldsInteger(*VideoResWEdit) || !HoldsInteger(*VideoResHEdit)) return;
  HandlersOff off(handlers_active_);
  const JobSettings& s = Settings();
  // While typing only the other side follows.
  const bool typing = VideoResWEdit->hasFocus();
  TypeOutputWidth(Settings(), SpinnerValue(*VideoResWUpDown), !typing);
  if (!typing) ShowNumber(VideoResWEdit, s.OutputWidth);
  ShowNumber(VideoResHEdit, s.OutputHeight);
}

void ConfigPage::VideoResHEditChange() {
  if (!handlers_active_ || !HoldsInteger(*VideoResWEdit) || !HoldsInteger(*VideoResHEdit)) return;
  HandlersOff off(handlers_active_);
  const JobSettings& s = Settings();
  const bool typing = VideoResHEdit->hasFocus();
  TypeOutputHeight(Settings(), SpinnerValue(*VideoResHUpDown), !typing);
  ShowNumber(VideoResWEdit, s.OutputWidth);
  if (!typing) ShowNumber(VideoResHEdit, s.OutputHeight);
}

void ConfigPage::ShowCropMargins(int top, int bottom, int left, int right) {
  ShowNumber(VideoCropTEdit, top);
  ShowNumber(VideoCropBEdit, bottom);
  ShowNumber(VideoCropLEdit, left);
  ShowNumber(VideoCropREdit, right);
  const TitleFacts& title = Settings().Facts;
  const CropMargins maxima =
      CropMaxima({top, bottom, left, right}, title.PictureWidth, title.PictureHeight);
  VideoCropTUpDown->SetMaximum(maxima.Top);
  VideoCropBUpDown->SetMaximum(maxima.Bottom);
  VideoCropLUpDown->SetMaximum(maxima.Left);
  VideoCropRUpDown->SetMaximum(maxima.Right);
}

void ConfigPage::CropMarginChanged(bool vertical) {
  JobSettings& s = Settings();
  const int width_field = FieldValue(VideoResWEdit, VideoResWUpDown, s.OutputWidth);
  if (vertical) {
    SetVerticalCropMargins(s, SpinnerValue(*VideoCropTUpDown), SpinnerValue(*VideoCropBUpDown),
                           width_field);
  } else {
    SetHorizontalCropMargins(s, SpinnerValue(*VideoCropLUpDown), SpinnerValue(*VideoCropRUpDown),
                             width_field);
  }
  ShowSettings();
}

void ConfigPage::VideoCropTEditChange() {
  if (!handlers_active_ || !HoldsInteger(*VideoCropTEdit)) return;
  typing_ = VideoCropTEdit;
  CropMarginChanged(true);
  typing_ = nullptr;
}

void ConfigPage::VideoCropBEditChange() {
  if (!handlers_active_ || !HoldsInteger(*VideoCropBEdit)) return;
  typing_ = VideoCropBEdit;
  CropMarginChanged(true);
  typing_ = nullptr;
}

void ConfigPage::VideoCropLEditChange() {
  if (!handlers_active_ || !HoldsInteger(*VideoCropLEdit)) return;
  typing_ = VideoCropLEdit;
  CropMarginChanged(false);
  typing_ = nullptr;
}

void ConfigPage::VideoCropREditChange() {
  if (!handlers_active_ || !HoldsInteger(*VideoCropREdit)) return;
  typing_ = VideoCropREdit;
  CropMarginChanged(false);
  typing_ = nullptr;
}

void ConfigPage::ChooseCrop(CropModeKind mode) {
  VideoCropControls();
  JobSettings& s = Settings();
  ChooseCropMode(s, mode, FieldValue(VideoResWEdit, VideoResWUpDown, s.OutputWidth));
  if (mode != CropModeKind::Manual) ShowSettings();
}

void ConfigPage::VideoCropNoCheckClick() {
  if (handlers_active_) ChooseCrop(CropModeKind::Disabled);
}

void ConfigPage::VideoCropAutoCheckClick() {
  if (handlers_active_) ChooseCrop(CropModeKind::Auto);
}

void ConfigPage::VideoCropManuCheckClick() {
  if (handlers_active_) ChooseCrop(CropModeKind::Manual);
}

void ConfigPage::VideoCropAdjButtonClick() {
  // The dialog writes its margins back into the four crop up-downs, whose
  // change handlers take them over.
  if (!open_crop_dialog_ || !open_crop_dialog_(*this)) {
    platform::ShowMessage(frame_.Window(), "Unable to view selected title!",
                          platform::MessageIcon::Error);
  }
}

void ConfigPage::VideoTruCheckClick() {
  if (!handlers_active_) return;
  Settings().SetPalTruSpeed(VideoTruCheck->isChecked());
  ShowSettings();
}

void ConfigPage::VideoFiltersButtonClick() {
  if (!filters_form_) {
    filters_form_ = new TKVNNewFiltersForm(Settings(), frame_.Window(), DialogOwner());
    connect(filters_form_, &TKVNNewFiltersForm::Closed, this, &ConfigPage::FiltersApplied);
  }
  filters_form_->show();
}

void ConfigPage::VideoCodecButtonClick() {
  if (!codec_form_) codec_form_ = new TKVNNewCodecForm(Settings(), frame_.Window(), DialogOwner());
  codec_form_->show();
}

void ConfigPage::FiltersApplied() {
  ShowSettings();
}

// --- audio -------------------------------------------------------------------

void ConfigPage::Audio1TrackComboChange() {
  if (!handlers_active_ || Audio1TrackCombo->currentIndex() < 0) return;
  Settings().SelectAudioTrack(Audio1TrackCombo->currentIndex());
  ShowSettings();
}

void ConfigPage::Audio1EncModeRadioClick() {
  if (!handlers_active_) return;
  ChannelModeKind mode = ChannelModeKind::Stereo;
  if (Audio1MonoRadio->isChecked()) mode = ChannelModeKind::Mono;
  if (Audio1SurroundRadio->isChecked()) mode = ChannelModeKind::Surround;
  if (Audio1MultiRadio->isChecked()) mode = ChannelModeKind::Multichannel;
  Settings().SelectChannelMode(mode);
  ShowSettings();
}

void ConfigPage::Audio1BitrateRadioClick() {
  if (!handlers_active_) return;
  Audio1BitrateControls();
  Settings().SetAudioBitrateAuto(Audio1BitrateAutoRadio->isChecked());
  ShowSettings();
}

void ConfigPage::Audio1BitrateTrackChange() {
  if (!handlers_active_) return;
  Settings().MoveAudioSlider(Audio1BitrateTrack->value());
  ShowSettings();
}

void ConfigPage::Audio1GainCheckClick() {
  const bool on = Audio1GainCheck->isChecked();
  SetAllEnabled({Audio1GainTrack, Audio1GainLabel1, Audio1GainLabel2, Audio1GainLabel3,
                 Audio1GainLabel4, Audio1GainLabel5},
                on);
  if (handlers_active_) Settings().GainEnabled = on;
}

void ConfigPage::Audio1GainTrackChange() {
  if (!handlers_active_) return;
  Settings().GainStep = Audio1GainTrack->value();
}

// --- subtitles ---------------------------------------------------------------

void ConfigPage::SubCheckClick() {
  if (!handlers_active_) return;
  JobSettings& s = Settings();
  const bool crop_was_auto = s.CropMode == CropModeKind::Auto;
  EnableSubtitles(s, SubCheck->isChecked(),
                  FieldValue(VideoResWEdit, VideoResWUpDown, s.OutputWidth));
  if (crop_was_auto && s.CropMode != CropModeKind::Auto) {
    ShowSettings();
    VideoCropControls();
  }
  SubCheckControls();
}

void ConfigPage::SubLangComboChange() {
  if (!handlers_active_ || SubLangCombo->currentIndex() < 0) return;
  Settings().SubtitleTrack = SubLangCombo->currentIndex();
}

// --- clip information --------------------------------------------------------

void ConfigPage::InfoEditChange() {
  // Only texts the encoder job file can hold are kept; a pasted text that
  // is refused on leaving never reaches the settings.
  JobSettings& s = Settings();
  TypeClipText(s.Title, InfoTitleEdit->text().toStdString());
  TypeClipText(s.Author, InfoAuthorEdit->text().toStdString());
  TypeClipText(s.Copyright, InfoCopyEdit->text().toStdString());
  TypeClipText(s.Keywords, InfoWordsEdit->text().toStdString());
  QString description = InfoDescMemo->toPlainText();
  if (description.size() > static_cast<qsizetype>(kMaxClipDescriptionLength)) {
    // The memo holds at most this many characters.
    description.truncate(kMaxClipDescriptionLength);
    QSignalBlocker block(InfoDescMemo);
    InfoDescMemo->setPlainText(description);
    InfoDescMemo->moveCursor(QTextCursor::End);
  }
  TypeClipText(s.Description, description.toStdString(), kMaxClipDescriptionLength);
}

void ConfigPage::InfoEditExit(QWidget* edit) {
  const QString text =
      edit == InfoDescMemo ? InfoDescMemo->toPlainText() : static_cast<QLineEdit*>(edit)->text();
  for (QChar c : text) {
    if (!IsClipTextCharacter(static_cast<char>(c.unicode() < 128 ? c.unicode() : 128))) {
      platform::ShowMessage(frame_.Window(),
                            "This text contains invalid characters. Please enter a valid text!",
                            platform::MessageIcon::Warning);
      edit->setFocus(Qt::OtherFocusReason);
      return;
    }
  }
}

void ConfigPage::InfoRatingComboChange() {
  if (!handlers_active_ || InfoRatingCombo->currentIndex() < 0) return;
  Settings().Rating = InfoRatingCombo->currentIndex();
}

// --- preview -----------------------------------------------------------------

void ConfigPage::PreviewButtonClick() {
  WizardState& state = frame_.State();
  const std::string program_folder = ProgramFolderOf(frame_.Host());
  const bool written = write_preview_ && write_preview_(state);
  const bool started =
      written && platform::TheShell().StartProgram(program_folder + "mplayer2", {"preview.avs"},
                                                   state.JobDataFolder);
  if (!started) {
    platform::ShowMessage(frame_.Window(), "Unable to preview selected title!",
                          platform::MessageIcon::Error);
  }
}

}  // namespace wizard
