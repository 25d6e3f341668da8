#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

#include "wizard/config_sheet.h"
#include "wizard/crop_rules.h"

namespace wizard {

// The Video sheet: the title's stream information, the output size, the
// crop with its margins, PAL TruSpeed and the buttons of the filter, codec
// and crop dialogs (the page opens those).
class VideoSheet : public ConfigSheet {
  Q_OBJECT
 public:
  explicit VideoSheet(ConfigSheets& page) : ConfigSheet(page, "VideoSheet") {}

  void Build() override;
  void ShowSettings(const JobSettings& s) override;
  void ShowEnabled(const ConfigControls& enabled) override;

  // The output width as its field holds it, else the settings' own.
  int WidthField() const;
  // The margins the four crop fields show.
  CropMargins ShownMargins() const;

  QPushButton *VideoCropAdjButton, *VideoFiltersButton, *VideoCodecButton;

 public slots:
  void VideoResAutoCheckClick();
  void VideoResManuCheckClick();
  void VideoResWEditChange();
  void VideoResHEditChange();
  void VideoCropNoCheckClick();
  void VideoCropAutoCheckClick();
  void VideoCropManuCheckClick();
  void VideoCropTEditChange();
  void VideoCropBEditChange();
  void VideoCropLEditChange();
  void VideoCropREditChange();
  void VideoTruCheckClick();

  void VideoResWEditExit();
  void VideoResHEditExit();
  void VideoCropEditExit(QLineEdit* edit);

 private:
  void BuildInfoList();
  QGroupBox* BuildResizeGroup();
  QGroupBox* BuildCropGroup();
  QGroupBox* BuildAdvancedGroup();
  void ConnectHandlers();

  void ShowStreamInformation(const JobSettings& s);
  // The four margin fields and the maxima of their up-downs, so that at
  // least kMinCroppedSize pixels of the picture remain each way.
  void ShowCropMargins(const JobSettings& s, const CropMargins& margins);
  // A margin field changed: the crop rectangle along that axis, with the
  // aspect ratio and the output size that follow from it.
  void CropMarginChanged(QLineEdit* edit, bool vertical);
  // A crop radio was clicked.
  void ChooseCrop(CropModeKind mode);

  QLabel* VideoInfoLabel;
  QTreeWidget* VideoInfoList;
  QRadioButton *VideoResAutoCheck, *VideoResManuCheck;
  QLineEdit *VideoResWEdit, *VideoResHEdit;
  queue::UpDown *VideoResWUpDown, *VideoResHUpDown;
  QRadioButton *VideoCropNoCheck, *VideoCropAutoCheck, *VideoCropManuCheck;
  QLineEdit *VideoCropTEdit, *VideoCropBEdit, *VideoCropLEdit, *VideoCropREdit;
  queue::UpDown *VideoCropTUpDown, *VideoCropBUpDown, *VideoCropLUpDown, *VideoCropRUpDown;
  QCheckBox* VideoTruCheck;
};

}  // namespace wizard
