#pragma once

#include <QFrame>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSize>
#include <QSlider>
#include <QWidget>
#include <array>
#include <functional>

#include "wizard/crop_rules.h"
#include "wizard/wizard_frame.h"

namespace queue {
class UpDown;
}

namespace wizard {

// The configuration page's side of the dialog: the margins its four crop
// fields show, which the dialog starts from, and where the dialog's margins
// go on OK. The page takes all four at once, so that no margin is held to a
// maximum that the other axis's old margins set.
struct PageCrop {
  CropMargins Margins;
  std::function<void(const CropMargins&)> Take;
};

// The crop dialog: one frame of the chosen title at half or full size with
// the crop rectangle drawn over it, a slider through the title, the four
// margins in fields with up-downs, and edges that the mouse drags. It works
// on a copy of the page's margins; OK writes them back, Cancel and the close
// box drop them. While it is shown the wizard is disabled.
class TKVNNewCropForm : public QWidget {
  Q_OBJECT
 public:
  TKVNNewCropForm(WizardFrame& frame, PageCrop page);
  ~TKVNNewCropForm() override;

  // Opens the chosen title in the decoder and draws the frame at the slider;
  // false when the title cannot be opened (nothing is then shown).
  bool Open();
  // A new dialog, opened and shown, freed when it closes, and kept in
  // `shown` (when given) while it is; false (and no dialog) when the title
  // cannot be opened.
  static bool OpenFor(WizardFrame& frame, PageCrop page,
                      QPointer<TKVNNewCropForm>* shown = nullptr);

  bool HalfSize() const { return half_size_; }
  const PictureRect& CropRect() const { return rect_; }
  QSize FullWindowSize() const { return full_size_; }
  QSize HalfWindowSize() const { return half_size_window_; }

  QFrame* Panel;
  QLabel* Image;
  QSlider* TrackBar;
  QGroupBox* VideoCropGroupBox;
  QLabel* VideoCropImage;
  QLineEdit *VideoCropTEdit, *VideoCropBEdit, *VideoCropLEdit, *VideoCropREdit;
  queue::UpDown *VideoCropTUpDown, *VideoCropBUpDown, *VideoCropLUpDown, *VideoCropRUpDown;
  QPushButton* ZoomButton;
  QPushButton* OKButton;
  QPushButton* CancelButton;

 public slots:
  void VideoCropTEditChange();
  void VideoCropBEditChange();
  void VideoCropLEditChange();
  void VideoCropREditChange();
  void TrackBarChange();
  void ZoomButtonClick();
  void OKButtonClick();
  void CancelButtonClick();

 protected:
  void showEvent(QShowEvent* event) override;    // FormShow
  void closeEvent(QCloseEvent* event) override;  // FormClose
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  CropMargins Margins() const;
  void VerticalMarginChange(QLineEdit* edit);
  void HorizontalMarginChange(QLineEdit* edit);
  void VideoCropEditExit(QLineEdit* edit);
  void ImageMouseDown();
  void ImageMouseMove(int x, int y);
  void ImageMouseUp();
  void DrawLines();
  void LayOut();
  queue::UpDown* UpDownOf(const QLineEdit* edit) const;

  WizardFrame& frame_;
  PageCrop page_;
  int title_width_ = 0;  // the title set's picture size, for the rectangle
  int title_height_ = 0;
  int32_t frame_count_ = 0;
  QImage bitmap_;  // the current frame at the decoder's size
  QSize full_size_, half_size_window_;
  PictureRect rect_;
  bool opened_ = false;
  bool half_size_ = true;
  bool accepted_ = false;
  bool drawing_ = false;
  bool dragging_ = false;
  bool shown_ = false;
  CropEdge hover_edge_ = CropEdge::None;
};

}  // namespace wizard
