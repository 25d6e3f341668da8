#include "wizard/config_video_sheet.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

#include "wizard/config_texts.h"
#include "wizard/numeric_entry.h"
#include "wizard/settings_changes.h"

namespace wizard {

namespace {

const NumberMessages kAboveZeroMessages = {"Please enter an integer greater than 0.",
                                           "Please enter a valid integer greater than 0."};
const NumberMessages kMarginMessages = {"Please enter an integer.",
                                        "Please enter a valid integer."};

}  // namespace

// --- building ----------------------------------------------------------------

void VideoSheet::Build() {
  BuildInfoList();
  QGroupBox* resize_box = BuildResizeGroup();
  QGroupBox* crop_box = BuildCropGroup();
  QGroupBox* advanced_box = BuildAdvancedGroup();
  // The title's facts on the left, what is made of the picture on the right.
  auto* grid = new QGridLayout(this);
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

  ConnectHandlers();
}

void VideoSheet::BuildInfoList() {
  VideoInfoLabel = new QLabel(QStringLiteral("Stream information:"), this);
  VideoInfoLabel->setObjectName(QStringLiteral("VideoInfoLabel"));
  VideoInfoList = new QTreeWidget(this);
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
}

QGroupBox* VideoSheet::BuildResizeGroup() {
  auto* resize_box = Group(this, "VideoResGroupBox", "Resize");
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

  return resize_box;
}

QGroupBox* VideoSheet::BuildCropGroup() {
  auto* crop_box = Group(this, "VideoCropGroupBox", "Crop");
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

  return crop_box;
}

QGroupBox* VideoSheet::BuildAdvancedGroup() {
  auto* advanced_box = Group(this, "VideoAdvGroupBox", "Advanced options");
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

  return advanced_box;
}

void VideoSheet::ConnectHandlers() {
  connect(VideoResAutoCheck, &QRadioButton::clicked, this, &VideoSheet::VideoResAutoCheckClick);
  connect(VideoResManuCheck, &QRadioButton::clicked, this, &VideoSheet::VideoResManuCheckClick);
  connect(VideoResWEdit, &QLineEdit::textChanged, this, &VideoSheet::VideoResWEditChange);
  connect(VideoResHEdit, &QLineEdit::textChanged, this, &VideoSheet::VideoResHEditChange);
  connect(VideoCropNoCheck, &QRadioButton::clicked, this, &VideoSheet::VideoCropNoCheckClick);
  connect(VideoCropAutoCheck, &QRadioButton::clicked, this, &VideoSheet::VideoCropAutoCheckClick);
  connect(VideoCropManuCheck, &QRadioButton::clicked, this, &VideoSheet::VideoCropManuCheckClick);
  connect(VideoCropTEdit, &QLineEdit::textChanged, this, &VideoSheet::VideoCropTEditChange);
  connect(VideoCropBEdit, &QLineEdit::textChanged, this, &VideoSheet::VideoCropBEditChange);
  connect(VideoCropLEdit, &QLineEdit::textChanged, this, &VideoSheet::VideoCropLEditChange);
  connect(VideoCropREdit, &QLineEdit::textChanged, this, &VideoSheet::VideoCropREditChange);
  connect(VideoTruCheck, &QCheckBox::clicked, this, &VideoSheet::VideoTruCheckClick);

  // VideoResEditKeyPress and the checks on leaving.
  new EditWatcher(VideoResWEdit, IsNumberKey, [this] { VideoResWEditExit(); });
  new EditWatcher(VideoResHEdit, IsNumberKey, [this] { VideoResHEditExit(); });
  for (QLineEdit* edit : {VideoCropTEdit, VideoCropBEdit, VideoCropLEdit, VideoCropREdit})
    new EditWatcher(edit, IsNumberKey, [this, edit] { VideoCropEditExit(edit); });
}

// --- showing -----------------------------------------------------------------

void VideoSheet::ShowSettings(const JobSettings& s) {
  ShowStreamInformation(s);
  VideoResAutoCheck->setChecked(s.ResizeMode == ResizeModeKind::Auto);
  VideoResManuCheck->setChecked(s.ResizeMode == ResizeModeKind::Manual);
  ShowNumber(VideoResWEdit, s.OutputWidth);
  ShowNumber(VideoResHEdit, s.OutputHeight);
  VideoCropNoCheck->setChecked(s.CropMode == CropModeKind::Disabled);
  VideoCropAutoCheck->setChecked(s.CropMode == CropModeKind::Auto);
  VideoCropManuCheck->setChecked(s.CropMode == CropModeKind::Manual);
  const PictureRect& r = s.CropRect;
  ShowCropMargins(s, {r.Top, s.Facts.PictureHeight - r.Top - r.Height, r.Left,
                      s.Facts.PictureWidth - r.Left - r.Width});
  VideoTruCheck->setChecked(s.PalTruSpeed);
}

void VideoSheet::ShowEnabled(const ConfigControls& c) {
  VideoResAutoCheck->setEnabled(c.AutoResize);
  SetAllEnabled({VideoResWEdit, VideoResWUpDown, VideoResHEdit, VideoResHUpDown}, c.OutputSize);
  VideoCropAutoCheck->setEnabled(c.AutoCrop);
  SetAllEnabled({VideoCropTEdit, VideoCropBEdit, VideoCropLEdit, VideoCropREdit, VideoCropTUpDown,
                 VideoCropBUpDown, VideoCropLUpDown, VideoCropRUpDown, VideoCropAdjButton},
                c.CropMargins);
  VideoTruCheck->setEnabled(c.TruSpeed);
}

void VideoSheet::ShowStreamInformation(const JobSettings& s) {
  const StreamInfoRows rows = StreamInformation(s.Facts, s);
  for (int i = 0; i < static_cast<int>(rows.size()); ++i)
    VideoInfoList->topLevelItem(i)->setText(1, QString::fromStdString(rows[i].second));
}

void VideoSheet::ShowCropMargins(const JobSettings& s, const CropMargins& m) {
  ShowNumber(VideoCropTEdit, m.Top);
  ShowNumber(VideoCropBEdit, m.Bottom);
  ShowNumber(VideoCropLEdit, m.Left);
  ShowNumber(VideoCropREdit, m.Right);
  const CropMargins maxima = CropMaxima(m, s.Facts.PictureWidth, s.Facts.PictureHeight);
  VideoCropTUpDown->SetMaximum(maxima.Top);
  VideoCropBUpDown->SetMaximum(maxima.Bottom);
  VideoCropLUpDown->SetMaximum(maxima.Left);
  VideoCropRUpDown->SetMaximum(maxima.Right);
}

int VideoSheet::WidthField() const {
  return FieldValue(VideoResWEdit, VideoResWUpDown, page_.Settings().OutputWidth);
}

CropMargins VideoSheet::ShownMargins() const {
  return {VideoCropTUpDown->Position(), VideoCropBUpDown->Position(), VideoCropLUpDown->Position(),
          VideoCropRUpDown->Position()};
}

// --- leaving number fields -----------------------------------------------------

void VideoSheet::VideoResWEditExit() {
  if (!CheckNumberField(*VideoResWEdit, kAboveZeroMessages)) return;
  const int width = SpinnerValue(*VideoResWUpDown);
  if (width == 0) return;
  FitTypedWidth(Settings(), width);
  Changed();
}

void VideoSheet::VideoResHEditExit() {
  if (!CheckNumberField(*VideoResHEdit, kAboveZeroMessages)) return;
  // Both fields follow the width, as when the width is left.
  const int width = SpinnerValue(*VideoResWUpDown);
  if (width == 0 || !HoldsInteger(*VideoResHEdit)) return;
  FitTypedWidth(Settings(), width);
  Changed();
}

void VideoSheet::VideoCropEditExit(QLineEdit* edit) {
  if (!CheckNumberField(*edit, kMarginMessages)) return;
  const queue::UpDown* up_down = edit == VideoCropTEdit   ? VideoCropTUpDown
                                 : edit == VideoCropBEdit ? VideoCropBUpDown
                                 : edit == VideoCropLEdit ? VideoCropLUpDown
                                                          : VideoCropRUpDown;
  edit->setText(QString::number(EvenTowardsZero(SpinnerValue(*up_down))));
}

// --- resize --------------------------------------------------------------------

void VideoSheet::VideoResAutoCheckClick() {
  if (!HandlersActive()) return;
  ChooseResizeMode(Settings(), ResizeModeKind::Auto);
  Changed();
}

void VideoSheet::VideoResManuCheckClick() {
  if (!HandlersActive()) return;
  ChooseResizeMode(Settings(), ResizeModeKind::Manual);
  Changed();
}

void VideoSheet::VideoResWEditChange() {
  if (!HandlersActive() || !HoldsInteger(*VideoResWEdit) || !HoldsInteger(*VideoResHEdit)) return;
  HandlersOff off(page_);
  const JobSettings& s = Settings();
  // While typing only the other side follows.
  const bool typing = VideoResWEdit->hasFocus();
  TypeOutputWidth(Settings(), SpinnerValue(*VideoResWUpDown), !typing);
  if (!typing) ShowNumber(VideoResWEdit, s.OutputWidth);
  ShowNumber(VideoResHEdit, s.OutputHeight);
}

void VideoSheet::VideoResHEditChange() {
  if (!HandlersActive() || !HoldsInteger(*VideoResWEdit) || !HoldsInteger(*VideoResHEdit)) return;
  HandlersOff off(page_);
  const JobSettings& s = Settings();
  const bool typing = VideoResHEdit->hasFocus();
  TypeOutputHeight(Settings(), SpinnerValue(*VideoResHUpDown), !typing);
  ShowNumber(VideoResWEdit, s.OutputWidth);
  if (!typing) ShowNumber(VideoResHEdit, s.OutputHeight);
}

// --- crop ----------------------------------------------------------------------

void VideoSheet::CropMarginChanged(QLineEdit* edit, bool vertical) {
  TypedChange(edit, [this, vertical] {
    JobSettings& s = Settings();
    const int width_field = WidthField();
    if (vertical) {
      SetVerticalCropMargins(s, SpinnerValue(*VideoCropTUpDown), SpinnerValue(*VideoCropBUpDown),
                             width_field);
    } else {
      SetHorizontalCropMargins(s, SpinnerValue(*VideoCropLUpDown), SpinnerValue(*VideoCropRUpDown),
                               width_field);
    }
  });
}

void VideoSheet::VideoCropTEditChange() {
  if (HandlersActive() && HoldsInteger(*VideoCropTEdit)) CropMarginChanged(VideoCropTEdit, true);
}

void VideoSheet::VideoCropBEditChange() {
  if (HandlersActive() && HoldsInteger(*VideoCropBEdit)) CropMarginChanged(VideoCropBEdit, true);
}

void VideoSheet::VideoCropLEditChange() {
  if (HandlersActive() && HoldsInteger(*VideoCropLEdit)) CropMarginChanged(VideoCropLEdit, false);
}

void VideoSheet::VideoCropREditChange() {
  if (HandlersActive() && HoldsInteger(*VideoCropREdit)) CropMarginChanged(VideoCropREdit, false);
}

void VideoSheet::ChooseCrop(CropModeKind mode) {
  ChooseCropMode(Settings(), mode, WidthField());
  // A manual crop keeps the margins the fields show.
  if (mode != CropModeKind::Manual)
    Changed();
  else
    page_.ShowEnabled();
}

void VideoSheet::VideoCropNoCheckClick() {
  if (HandlersActive()) ChooseCrop(CropModeKind::Disabled);
}

void VideoSheet::VideoCropAutoCheckClick() {
  if (HandlersActive()) ChooseCrop(CropModeKind::Auto);
}

void VideoSheet::VideoCropManuCheckClick() {
  if (HandlersActive()) ChooseCrop(CropModeKind::Manual);
}

void VideoSheet::VideoTruCheckClick() {
  if (!HandlersActive()) return;
  Settings().SetPalTruSpeed(VideoTruCheck->isChecked());
  Changed();
}

}  // namespace wizard
