// The crop dialog on a prepared sample title, on the offscreen platform: its
// sizes, the rectangle from the page's margins, dragging the edges, the
// margin fields' rules, and OK against Cancel and the close box.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QTest>
#include <filesystem>
#include <vector>

#include "decoder/video_decoder.h"
#include "queue/up_down.h"
#include "tests/support/recorders.h"
#include "tests/support/sample_dvds.h"
#include "tests/support/temp_dir.h"
#include "tests/wizard/analysed_disc.h"
#include "tests/wizard/fake_wizard_host.h"
#include "tests/wizard/test_wizard_frame.h"
#include "wizard/config_page.h"
#include "wizard/crop_rules.h"
#include "wizard/new_crop_form.h"
#include "wizard/new_form.h"
#include "wizard/title_preparation.h"

namespace {

using wizard::CropEdge;
using wizard::CropMargins;
using wizard::PictureRect;
using wizard::TKVNNewCropForm;

TEST(CropRules, EdgesMarginsAndMaxima) {
  const PictureRect rect{72, 10, 700, 416};  // bottom row 487, right column 709
  struct Hit {
    int x, y, tolerance;
    CropEdge edge;
  };
  for (const Hit& h : {Hit{300, 67, 6, CropEdge::Top}, Hit{300, 66, 6, CropEdge::None},
                       Hit{300, 77, 6, CropEdge::Top}, Hit{300, 78, 6, CropEdge::None},
                       Hit{300, 485, 3, CropEdge::Bottom}, Hit{12, 300, 3, CropEdge::Left},
                       Hit{13, 300, 3, CropEdge::None}, Hit{711, 300, 3, CropEdge::Right},
                       Hit{10, 72, 6, CropEdge::Top}})
    EXPECT_EQ(wizard::EdgeAt(rect, h.x, h.y, h.tolerance), h.edge) << h.x << "," << h.y;
  EXPECT_EQ(wizard::DraggedMargin(CropEdge::Top, 0, 74, 720, 576), 74);
  EXPECT_EQ(wizard::DraggedMargin(CropEdge::Top, 0, 37, 720, 576), 36);
  EXPECT_EQ(wizard::DraggedMargin(CropEdge::Bottom, 0, 575, 720, 576), 0);
  EXPECT_EQ(wizard::DraggedMargin(CropEdge::Right, 700, 0, 720, 576), 18);
  EXPECT_EQ(wizard::CropMaxima({0, 100, 8, 0}, 720, 576), (CropMargins{444, 544, 688, 680}));
  EXPECT_EQ(wizard::KeptOnScreen(600, 900, 1280), 1280 - 900 - 32);
  EXPECT_EQ(wizard::KeptOnScreen(100, 900, 1280), 100);
}

// The configuration page's side as the dialog sees it: the margins it starts
// from and every set of margins it is handed on OK.
struct PageFields {
  explicit PageFields(CropMargins m) : shown(m) {}
  wizard::PageCrop Crop() {
    return {shown, [this](const CropMargins& m) { taken.push_back(m); }};
  }
  CropMargins shown;
  std::vector<CropMargins> taken;
};

class CropFormTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new kv_test::TempDir("crop-form");
    state_ = new wizard::WizardState();
    if (kv_test::AnalyseSampleDisc("pal_letterbox", dir_->File("job"), *state_) != 1) return;
    state_->SelVts = state_->SelPgc = 1;
    const wizard::PreparationResult r = wizard::PrepareTitle(wizard::PreparationInputFor(*state_));
    wizard::ApplyPreparation(*state_, state_->Selection(), r);
  }
  static void TearDownTestSuite() {
    delete state_;
    delete dir_;
  }
  void SetUp() override {
    if (!state_->SelectedPgc().Prepared(0)) GTEST_SKIP() << "no prepared sample title";
    frame.State() = *state_;
    frame.show();
  }
  void TearDown() override { EXPECT_FALSE(decoder::VideoIsOpen()); }

  // The dialog over the page's fields, opened and shown.
  std::unique_ptr<TKVNNewCropForm> Show(PageFields& fields) {
    auto dialog = std::make_unique<TKVNNewCropForm>(frame, fields.Crop());
    EXPECT_TRUE(dialog->Open());
    dialog->show();
    dialog->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    return dialog;
  }
  // A mouse drag over the image in image pixels.
  static void Drag(TKVNNewCropForm& dialog, QPoint from, QPoint to) {
    auto send = [&](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
      QMouseEvent event(type, at, dialog.Image->mapToGlobal(at), Qt::LeftButton, buttons,
                        Qt::NoModifier);
      QApplication::sendEvent(dialog.Image, &event);
    };
    send(QEvent::MouseMove, from, Qt::NoButton);
    send(QEvent::MouseButtonPress, from, Qt::LeftButton);
    send(QEvent::MouseMove, to, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, to, Qt::NoButton);
  }

  static kv_test::TempDir* dir_;
  static wizard::WizardState* state_;
  kv_test::MessageBoxRecorder boxes;
  kv_test::SoundRecorder sounds;
  kv_test::TestWizardFrame frame;
};
kv_test::TempDir* CropFormTest::dir_ = nullptr;
wizard::WizardState* CropFormTest::state_ = nullptr;

TEST_F(CropFormTest, HalfAndFullSizeOverTheFrame) {
  PageFields fields({72, 88, 0, 0});
  auto dialog = Show(fields);
  EXPECT_FALSE(frame.isEnabled());
  EXPECT_TRUE(dialog->HalfSize());
  EXPECT_EQ(dialog->Image->size(), QSize(360, 288));
  EXPECT_EQ(dialog->size(), dialog->HalfWindowSize());
  EXPECT_EQ(dialog->FullWindowSize() - dialog->HalfWindowSize(), QSize(360, 288));
  EXPECT_EQ(dialog->CropRect(), (PictureRect{72, 0, 720, 416}));
  EXPECT_EQ(dialog->VideoCropTUpDown->Maximum(), 576 - 88 - 32);

  dialog->ZoomButtonClick();
  EXPECT_FALSE(dialog->HalfSize());
  EXPECT_EQ(dialog->ZoomButton->text(), "Zoom Out");
  EXPECT_EQ(dialog->Image->size(), QSize(720, 576));
  // The picture is the decoder's frame (count - 1) x position / 256, with
  // the rectangle's lines drawn over it.
  dialog->TrackBar->setValue(256);
  const QImage shown = dialog->Image->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
  const uint8_t* last = decoder::GetFrame(decoder::OpenVideoInfo().FrameCount - 1);
  ASSERT_NE(last, nullptr);
  for (QPoint p : {QPoint(100, 200), QPoint(718, 575), QPoint(5, 73)}) {
    const uint8_t* px = last + (size_t(p.y()) * 720 + p.x()) * 3;
    EXPECT_EQ(shown.pixel(p), qRgb(px[2], px[1], px[0])) << p.x() << "," << p.y();
  }
  for (QPoint line : {QPoint(100, 72), QPoint(100, 487), QPoint(0, 300), QPoint(719, 300)})
    EXPECT_EQ(shown.pixel(line), qRgb(255, 255, 255)) << line.x() << "," << line.y();
  dialog->ZoomButtonClick();
  EXPECT_EQ(dialog->ZoomButton->text(), "Zoom In");
  EXPECT_EQ(dialog->size(), dialog->HalfWindowSize());
  dialog->close();
  EXPECT_TRUE(frame.isEnabled());
}

// Dragging edges: the top edge by 37 image rows at half size, then at full
// size to row 37, the bottom edge to the last picture row.
TEST_F(CropFormTest, DraggingTheEdges) {
  PageFields fields({72, 88, 0, 0});
  auto dialog = Show(fields);
  Drag(*dialog, {180, 36}, {180, 36 + 37});
  EXPECT_EQ(dialog->VideoCropTEdit->text(), QString::number((36 + 37) * 2));
  EXPECT_EQ(dialog->CropRect().Top, 146);
  EXPECT_EQ(dialog->CropRect().Height, 576 - 146 - 88);
  EXPECT_TRUE(dialog->VideoCropTEdit->hasFocus());

  dialog->ZoomButtonClick();
  Drag(*dialog, {300, 146}, {300, 37});
  EXPECT_EQ(dialog->VideoCropTEdit->text(), "36");
  Drag(*dialog, {300, 576 - 88 - 1}, {300, 575});
  EXPECT_EQ(dialog->VideoCropBEdit->text(), "0");
  EXPECT_EQ(dialog->CropRect(), (PictureRect{36, 0, 720, 540}));
  Drag(*dialog, {717, 300}, {700, 300});  // the right edge, 3 pixels off
  EXPECT_EQ(dialog->VideoCropREdit->text(), "18");
  // A press away from the edges drags nothing.
  Drag(*dialog, {300, 300}, {300, 100});
  EXPECT_EQ(dialog->CropRect(), (PictureRect{36, 0, 702, 540}));
  dialog->close();
}

TEST_F(CropFormTest, MarginFields) {
  PageFields fields({0, 100, 0, 0});
  auto dialog = Show(fields);
  EXPECT_EQ(dialog->VideoCropTUpDown->Maximum(), 444);
  // A number above the maximum counts as the maximum, and leaving the field
  // writes it there.
  dialog->VideoCropTEdit->setFocus();
  dialog->VideoCropTEdit->selectAll();
  QTest::keyClicks(dialog->VideoCropTEdit, "500");
  EXPECT_EQ(dialog->CropRect().Top, 444);
  dialog->VideoCropLEdit->setFocus();
  EXPECT_EQ(dialog->VideoCropTEdit->text(), "444");
  // Odd numbers become even; letters beep and are not typed.
  dialog->VideoCropLEdit->selectAll();
  QTest::keyClicks(dialog->VideoCropLEdit, "7x");
  EXPECT_EQ(dialog->VideoCropLEdit->text(), "7");
  EXPECT_EQ(sounds.played.size(), 1u);
  dialog->VideoCropREdit->setFocus();
  EXPECT_EQ(dialog->VideoCropLEdit->text(), "6");
  EXPECT_EQ(dialog->CropRect(), (PictureRect{444, 6, 714, 32}));
  // The up-downs step by two.
  dialog->VideoCropRUpDown->StepUp();
  EXPECT_EQ(dialog->VideoCropREdit->text(), "2");
  // An empty field keeps the focus with a warning.
  boxes.Answer(platform::MessageAnswer::Ok);
  dialog->VideoCropREdit->clear();
  dialog->VideoCropBEdit->setFocus();
  ASSERT_EQ(boxes.Messages().size(), 1u);
  EXPECT_EQ(boxes.Messages()[0].text, "Please enter an integer.");
  EXPECT_EQ(boxes.Messages()[0].icon, platform::MessageIcon::Warning);
  EXPECT_TRUE(dialog->VideoCropREdit->hasFocus());
  dialog->close();
}

// OK hands the four margins to the page at once; Cancel and the close box
// drop them.
TEST_F(CropFormTest, OkWritesBackCancelAndCloseDrop) {
  for (const char* way : {"Cancel", "close box", "OK"}) {
    SCOPED_TRACE(way);
    PageFields fields({72, 88, 0, 0});
    auto dialog = Show(fields);
    for (queue::UpDown* up_down : {dialog->VideoCropTUpDown, dialog->VideoCropBUpDown,
                                   dialog->VideoCropLUpDown, dialog->VideoCropRUpDown})
      up_down->SetPosition(up_down->Maximum() > 400 ? 400 : up_down->Maximum());
    const CropMargins chosen{
        dialog->VideoCropTUpDown->Position(), dialog->VideoCropBUpDown->Position(),
        dialog->VideoCropLUpDown->Position(), dialog->VideoCropRUpDown->Position()};
    if (std::string(way) == "OK") {
      QTest::mouseClick(dialog->OKButton, Qt::LeftButton);
      EXPECT_EQ(fields.taken, std::vector<CropMargins>{chosen});
    } else {
      if (std::string(way) == "Cancel") {
        QTest::mouseClick(dialog->CancelButton, Qt::LeftButton);
      } else {
        dialog->close();
      }
      EXPECT_TRUE(fields.taken.empty());
    }
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_TRUE(frame.isEnabled());
    EXPECT_FALSE(decoder::VideoIsOpen());
  }
}

// "Adjust..." on the wizard's configuration page opens the dialog over the
// page's margins, which take its margins on OK.
TEST_F(CropFormTest, OpenedByTheConfigurationPage) {
  auto wizard = std::make_unique<wizard::TKVNNewForm>(std::make_shared<kv_test::FakeWizardHost>());
  wizard->State() = *state_;
  wizard->State().SelectionChanged = true;
  auto* config = dynamic_cast<wizard::ConfigPage*>(wizard->Page(wizard::kConfigPage));
  ASSERT_NE(config, nullptr);
  config->Enter();
  auto* top = config->findChild<queue::UpDown*>("VideoCropTUpDown");
  ASSERT_NE(top, nullptr);
  EXPECT_EQ(top->Position(), 72);  // the detected borders

  config->VideoCropAdjButtonClick();
  QPointer<TKVNNewCropForm> dialog;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* d = qobject_cast<TKVNNewCropForm*>(w); d && d->isVisible()) dialog = d;
  ASSERT_FALSE(dialog.isNull());
  EXPECT_EQ(dialog->VideoCropTEdit->text(), "72");
  EXPECT_EQ(dialog->VideoCropBEdit->text(), "88");
  EXPECT_FALSE(wizard->isEnabled());
  dialog->VideoCropTUpDown->SetPosition(100);
  QTest::mouseClick(dialog->OKButton, Qt::LeftButton);
  EXPECT_EQ(top->Position(), 100);
  EXPECT_TRUE(wizard->isEnabled());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(dialog.isNull());  // a new dialog for each use
}

TEST_F(CropFormTest, TitleThatCannotBeOpened) {
  PageFields fields({0, 0, 0, 0});
  frame.State().TitleKey = "vts01_pgc09_a0";
  EXPECT_FALSE(TKVNNewCropForm::OpenFor(frame, fields.Crop()));
  EXPECT_TRUE(frame.isEnabled());
  for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_NE(w->objectName(), "TKVNNewCropForm");
}

}  // namespace
