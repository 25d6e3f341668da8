#include "wizard/new_crop_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <algorithm>
#include <cstring>
#include <utility>

#include "decoder/video_decoder.h"
#include "platform/message_box.h"
#include "queue/up_down.h"
#include "wizard/numeric_entry.h"
#include "wizard/wizard_state.h"

namespace wizard {

namespace {

// The fixed parts around the picture: the rectangle group at the right, the
// slider and the button row at the bottom.
inline constexpr int kMargin = 8;
inline constexpr int kGroupWidth = 150;
inline constexpr int kGroupHeight = 150;
inline constexpr int kTrackHeight = 24;
inline constexpr int kButtonHeight = 25;
inline constexpr int kButtonWidth = 80;
inline constexpr int kPanelBorder = 2;
inline constexpr int kDesignWidth = 656;
inline constexpr int kDesignHeight = 452;
inline constexpr int kSliderMaximum = 256;

class Hourglass {
 public:
  Hourglass() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~Hourglass() { QApplication::restoreOverrideCursor(); }
};

}  // namespace

TKVNNewCropForm::TKVNNewCropForm(WizardFrame& frame, PageCrop page)
    // No parent: the queue window and the wizard that own it are disabled
    // while it is shown, and a child window would be disabled with them.
    : QWidget(nullptr,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      frame_(frame),
      page_(std::move(page)) {
  setObjectName(QStringLiteral("TKVNNewCropForm"));
  setWindowTitle(QStringLiteral("Crop"));

  Panel = new QFrame(this);
  Panel->setObjectName(QStringLiteral("Panel"));
  Panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Panel->setLineWidth(kPanelBorder);
  Panel->setAutoFillBackground(true);
  QPalette grey = Panel->palette();
  grey.setColor(QPalette::Window, QColor(0x80, 0x80, 0x80));
  Panel->setPalette(grey);
  Image = new QLabel(Panel);
  Image->setObjectName(QStringLiteral("Image"));
  Image->setScaledContents(true);
  Image->setMouseTracking(true);
  Image->installEventFilter(this);

  TrackBar = new QSlider(Qt::Horizontal, this);
  TrackBar->setObjectName(QStringLiteral("TrackBar"));
  TrackBar->setRange(0, kSliderMaximum);
  TrackBar->setValue(kSliderMaximum / 2);
  TrackBar->setTickPosition(QSlider::NoTicks);
  connect(TrackBar, &QSlider::valueChanged, this, &TKVNNewCropForm::TrackBarChange);

  VideoCropGroupBox = new QGroupBox(QStringLiteral("Rectangle"), this);
  VideoCropGroupBox->setObjectName(QStringLiteral("VideoCropGroupBox"));
  VideoCropImage = new QLabel(VideoCropGroupBox);
  VideoCropImage->setObjectName(QStringLiteral("VideoCropImage"));
  VideoCropImage->setGeometry(59, 67, 32, 32);
  VideoCropImage->setPixmap(QIcon(QStringLiteral(":/wizard/crop_rectangle.svg")).pixmap(32, 32));
  // Each edit where its edge is: top above the picture, bottom below it,
  // left and right beside it.
  struct Field {
    QLineEdit** edit;
    queue::UpDown** up_down;
    const char* edit_name;
    const char* up_down_name;
    QPoint at;
  };
  const Field fields[] = {
      {&VideoCropTEdit, &VideoCropTUpDown, "VideoCropTEdit", "VideoCropTUpDown", {47, 24}},
      {&VideoCropBEdit, &VideoCropBUpDown, "VideoCropBEdit", "VideoCropBUpDown", {47, 110}},
      {&VideoCropLEdit, &VideoCropLUpDown, "VideoCropLEdit", "VideoCropLUpDown", {4, 72}},
      {&VideoCropREdit, &VideoCropRUpDown, "VideoCropREdit", "VideoCropRUpDown", {96, 72}},
  };
  for (const Field& f : fields) {
    QLineEdit* edit = new QLineEdit(QStringLiteral("0"), VideoCropGroupBox);
    edit->setObjectName(QLatin1String(f.edit_name));
    edit->setMaxLength(4);
    edit->setGeometry(f.at.x(), f.at.y(), 34, 22);
    // VideoCropEditKeyPress and the check on leaving.
    new EditWatcher(edit, IsNumberKey, [this, edit] { VideoCropEditExit(edit); });
    auto* up_down = new queue::UpDown(edit, VideoCropGroupBox);
    up_down->setObjectName(QLatin1String(f.up_down_name));
    up_down->move(f.at.x() + 34, f.at.y());
    up_down->SetMinimum(0);
    up_down->SetMaximum(2048);
    up_down->SetIncrement(2);
    *f.edit = edit;
    *f.up_down = up_down;
  }
  connect(VideoCropTEdit, &QLineEdit::textChanged, this, &TKVNNewCropForm::VideoCropTEditChange);
  connect(VideoCropBEdit, &QLineEdit::textChanged, this, &TKVNNewCropForm::VideoCropBEditChange);
  connect(VideoCropLEdit, &QLineEdit::textChanged, this, &TKVNNewCropForm::VideoCropLEditChange);
  connect(VideoCropREdit, &QLineEdit::textChanged, this, &TKVNNewCropForm::VideoCropREditChange);

  ZoomButton = new QPushButton(QStringLiteral("Zoom In"), this);
  ZoomButton->setObjectName(QStringLiteral("ZoomButton"));
  OKButton = new QPushButton(QStringLiteral("OK"), this);
  OKButton->setObjectName(QStringLiteral("OKButton"));
  CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
  CancelButton->setObjectName(QStringLiteral("CancelButton"));
  connect(ZoomButton, &QPushButton::clicked, this, &TKVNNewCropForm::ZoomButtonClick);
  connect(OKButton, &QPushButton::clicked, this, &TKVNNewCropForm::OKButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &TKVNNewCropForm::CancelButtonClick);

  resize(kDesignWidth, kDesignHeight);
  LayOut();
}

TKVNNewCropForm::~TKVNNewCropForm() {
  if (opened_) decoder::CloseVideo();
}

bool TKVNNewCropForm::OpenFor(WizardFrame& frame, PageCrop page, QPointer<TKVNNewCropForm>* shown) {
  auto* dialog = new TKVNNewCropForm(frame, std::move(page));
  if (!dialog->Open()) {
    delete dialog;
    return false;
  }
  if (!dialog->opened_) {  // its first frame failed; that was reported
    delete dialog;
    return true;
  }
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->show();
  if (shown) *shown = dialog;
  return true;
}

// ------------------------------------------------------------------ opening

bool TKVNNewCropForm::Open() {
  const Hourglass hourglass;
  const WizardState& state = frame_.State();
  const TitleSetInfo& vts = state.SelectedTitleSet();
  title_width_ = vts.PictureWidth;
  title_height_ = vts.PictureHeight;
  decoder::VideoInfo info;
  if (!decoder::OpenVideo(state.JobDataFolder + state.TitleKey + ".qmvi",
                          decoder::FilmFlag(vts.FilmShare), &info))
    return false;
  opened_ = true;
  frame_count_ = info.FrameCount;
  bitmap_ = QImage(info.Width, info.Height, QImage::Format_BGR888);
  const QSize image = Image->size();
  full_size_ = QSize(width() + info.Width - image.width(), height() + info.Height - image.height());
  half_size_window_ =
      QSize(width() + info.Width / 2 - image.width(), height() + info.Height / 2 - image.height());
  half_size_ = true;
  resize(half_size_window_);
  LayOut();
  if (const QScreen* s = screen()) move(s->geometry().center() - rect().center());
  TrackBarChange();
  return true;
}

void TKVNNewCropForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shown_) return;
  shown_ = true;
  if (frame_.Window()) frame_.Window()->setEnabled(false);
  dragging_ = drawing_ = accepted_ = false;
  rect_ = PictureRect{};
  VideoCropTUpDown->SetPosition(page_.Margins.Top);
  VideoCropBUpDown->SetPosition(page_.Margins.Bottom);
  VideoCropLUpDown->SetPosition(page_.Margins.Left);
  VideoCropRUpDown->SetPosition(page_.Margins.Right);
  VideoCropTEditChange();
  VideoCropBEditChange();
  VideoCropLEditChange();
  VideoCropREditChange();
}

void TKVNNewCropForm::OKButtonClick() {
  accepted_ = true;
  close();
}

void TKVNNewCropForm::CancelButtonClick() {
  close();
}

void TKVNNewCropForm::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  if (accepted_) {
    accepted_ = false;
    if (page_.Take) page_.Take(Margins());
  }
  if (opened_) decoder::CloseVideo();
  opened_ = false;
  bitmap_ = QImage();
  if (shown_ && frame_.Window()) frame_.Window()->setEnabled(true);
  shown_ = false;
}

// ----------------------------------------------------------------- margins

CropMargins TKVNNewCropForm::Margins() const {
  return {SpinnerValue(*VideoCropTUpDown), SpinnerValue(*VideoCropBUpDown),
          SpinnerValue(*VideoCropLUpDown), SpinnerValue(*VideoCropRUpDown)};
}

queue::UpDown* TKVNNewCropForm::UpDownOf(const QLineEdit* edit) const {
  if (edit == VideoCropTEdit) return VideoCropTUpDown;
  if (edit == VideoCropBEdit) return VideoCropBUpDown;
  if (edit == VideoCropLEdit) return VideoCropLUpDown;
  return VideoCropRUpDown;
}

void TKVNNewCropForm::VideoCropTEditChange() {
  VerticalMarginChange(VideoCropTEdit);
}
void TKVNNewCropForm::VideoCropBEditChange() {
  VerticalMarginChange(VideoCropBEdit);
}
void TKVNNewCropForm::VideoCropLEditChange() {
  HorizontalMarginChange(VideoCropLEdit);
}
void TKVNNewCropForm::VideoCropREditChange() {
  HorizontalMarginChange(VideoCropREdit);
}

void TKVNNewCropForm::VerticalMarginChange(QLineEdit* edit) {
  if (edit->text().isEmpty()) return DrawLines();
  if (!HoldsInteger(*edit)) return;
  const CropMargins m = Margins();
  const PictureRect r = CropRectFor(m, title_width_, title_height_);
  rect_.Top = r.Top;
  rect_.Height = r.Height;
  const CropMargins maxima = CropMaxima(m, title_width_, title_height_);
  VideoCropTUpDown->SetMaximum(maxima.Top);
  VideoCropBUpDown->SetMaximum(maxima.Bottom);
  DrawLines();
}

void TKVNNewCropForm::HorizontalMarginChange(QLineEdit* edit) {
  if (edit->text().isEmpty()) return DrawLines();
  if (!HoldsInteger(*edit)) return;
  const CropMargins m = Margins();
  const PictureRect r = CropRectFor(m, title_width_, title_height_);
  rect_.Left = r.Left;
  rect_.Width = r.Width;
  const CropMargins maxima = CropMaxima(m, title_width_, title_height_);
  VideoCropLUpDown->SetMaximum(maxima.Left);
  VideoCropRUpDown->SetMaximum(maxima.Right);
  DrawLines();
}

void TKVNNewCropForm::VideoCropEditExit(QLineEdit* edit) {
  if (!CheckNumberField(*edit, {"Please enter an integer.", "Please enter a valid integer."}))
    return;
  queue::UpDown* up_down = UpDownOf(edit);
  up_down->SetPosition(EvenTowardsZero(SpinnerValue(*up_down)));
}

// ------------------------------------------------------------------ drawing

void TKVNNewCropForm::TrackBarChange() {
  if (drawing_ || !opened_) return;
  drawing_ = true;
  const int32_t n = static_cast<int32_t>(static_cast<int64_t>(frame_count_ - 1) *
                                         TrackBar->value() / kSliderMaximum);
  const uint8_t* picture = decoder::GetFrame(n);
  if (!picture) {
    platform::ShowMessage(this, decoder::kFrameFailedMessage, platform::MessageIcon::Error);
    decoder::CloseVideo();
    opened_ = false;
    close();
    return;
  }
  const size_t row = static_cast<size_t>(bitmap_.width()) * 3;
  for (int y = 0; y < bitmap_.height(); ++y)
    std::memcpy(bitmap_.scanLine(y), picture + row * y, row);
  DrawLines();
  drawing_ = false;
}

void TKVNNewCropForm::DrawLines() {
  if (bitmap_.isNull()) return;
  QImage shown = bitmap_.copy();
  const int w = shown.width(), h = shown.height();
  {
    QPainter painter(&shown);
    painter.setPen(Qt::white);
    auto lines = [&](int inset) {
      const int bottom = rect_.Top + rect_.Height - 1, right = rect_.Left + rect_.Width - 1;
      painter.drawLine(0, rect_.Top + inset, w, rect_.Top + inset);
      painter.drawLine(0, bottom - inset, w, bottom - inset);
      painter.drawLine(rect_.Left + inset, 0, rect_.Left + inset, h);
      painter.drawLine(right - inset, 0, right - inset, h);
    };
    lines(0);
    // Shrunk to half size, a single line may fall between the rows shown.
    if (half_size_) lines(1);
  }
  Image->setPixmap(QPixmap::fromImage(shown));
}

void TKVNNewCropForm::ZoomButtonClick() {
  half_size_ = !half_size_;
  ZoomButton->setText(half_size_ ? QStringLiteral("Zoom In") : QStringLiteral("Zoom Out"));
  const QSize size = half_size_ ? half_size_window_ : full_size_;
  if (const QScreen* s = screen()) {
    const QRect screen_area = s->geometry();
    move(KeptOnScreen(x(), size.width(), screen_area.width()),
         KeptOnScreen(y(), size.height(), screen_area.height()));
  }
  resize(size);
  LayOut();
  TrackBarChange();
}

// -------------------------------------------------------------------- mouse

void TKVNNewCropForm::ImageMouseMove(int x, int y) {
  if (half_size_) {
    x *= 2;
    y *= 2;
  }
  const int w = bitmap_.width(), h = bitmap_.height();
  if (dragging_) {
    const int margin = DraggedMargin(hover_edge_, x, y, w, h);
    switch (hover_edge_) {
      case CropEdge::Top:
        return VideoCropTUpDown->SetPosition(margin);
      case CropEdge::Bottom:
        return VideoCropBUpDown->SetPosition(margin);
      case CropEdge::Left:
        return VideoCropLUpDown->SetPosition(margin);
      case CropEdge::Right:
        return VideoCropRUpDown->SetPosition(margin);
      case CropEdge::None:
        return;
    }
  }
  hover_edge_ = EdgeAt(rect_, x, y, half_size_ ? 6 : 3);
  switch (hover_edge_) {
    case CropEdge::Top:
    case CropEdge::Bottom:
      return Image->setCursor(Qt::SizeVerCursor);
    case CropEdge::Left:
    case CropEdge::Right:
      return Image->setCursor(Qt::SizeHorCursor);
    case CropEdge::None:
      return Image->setCursor(Qt::ArrowCursor);
  }
}

void TKVNNewCropForm::ImageMouseDown() {
  dragging_ = hover_edge_ != CropEdge::None;
  QLineEdit* edits[] = {nullptr, VideoCropTEdit, VideoCropBEdit, VideoCropLEdit, VideoCropREdit};
  if (QLineEdit* edit = edits[static_cast<int>(hover_edge_)]) edit->setFocus(Qt::MouseFocusReason);
}

void TKVNNewCropForm::ImageMouseUp() {
  dragging_ = false;
}

bool TKVNNewCropForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Image) {
    switch (event->type()) {
      case QEvent::MouseButtonPress:
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) ImageMouseDown();
        return true;
      case QEvent::MouseMove: {
        const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
        ImageMouseMove(at.x(), at.y());
        return true;
      }
      case QEvent::MouseButtonRelease:
        ImageMouseUp();
        return true;
      default:
        break;
    }
  }
  return QWidget::eventFilter(watched, event);
}

// ------------------------------------------------------------------- layout

void TKVNNewCropForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  LayOut();
}

void TKVNNewCropForm::LayOut() {
  const int w = width(), h = height();
  const int panel_width = w - 3 * kMargin - kGroupWidth;
  const int panel_height = h - 4 * kMargin - kTrackHeight - kButtonHeight;
  Panel->setGeometry(kMargin, kMargin, panel_width, panel_height);
  Image->setGeometry(kPanelBorder, kPanelBorder, panel_width - 2 * kPanelBorder,
                     panel_height - 2 * kPanelBorder);
  TrackBar->setGeometry(kMargin, 2 * kMargin + panel_height, panel_width, kTrackHeight);
  VideoCropGroupBox->setGeometry(w - kMargin - kGroupWidth, kMargin, kGroupWidth, kGroupHeight);
  const int buttons_top = h - kMargin - kButtonHeight;
  ZoomButton->setGeometry(kMargin, buttons_top, kButtonWidth, kButtonHeight);
  CancelButton->setGeometry(w - kMargin - kButtonWidth, buttons_top, kButtonWidth, kButtonHeight);
  OKButton->setGeometry(w - 2 * kMargin - 2 * kButtonWidth, buttons_top, kButtonWidth,
                        kButtonHeight);
}

}  // namespace wizard
