// The filter and codec option dialogs, opened from the configuration page.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>

#include "tests/wizard/config_page_fixture.h"
#include "wizard/codec_form.h"
#include "wizard/filters_form.h"

namespace kv_test {
namespace {

class OptionDialogTest : public ConfigPageTest {
 protected:
  // Opens a dialog with its button on the page.
  template <class Form>
  Form* Open(const char* button) {
    Click(button);
    Form* form = frame_.Window()->findChild<Form*>();
    EXPECT_NE(form, nullptr);
    if (form == nullptr) return nullptr;
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(frame_.Window()->isEnabled()) << "the wizard waits for the dialog";
    EXPECT_TRUE(form->isEnabled());
    // The offscreen platform activates no tool window by itself.
    QApplication::setActiveWindow(form);
    return form;
  }
  void CloseDialog(QWidget* form) {
    form->close();
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(frame_.Window()->isEnabled());
  }
  template <class T = QWidget>
  static T* In(QWidget* form, const char* name) {
    T* widget = form->findChild<T*>(QLatin1String(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  QString InfoRow(int row) {
    return Find<QTreeWidget>("VideoInfoList")->topLevelItem(row)->text(1);
  }
};

TEST_F(OptionDialogTest, FiltersOfAPalTitle) {
  EnterWith("pal_letterbox/1/1");
  auto* form = Open<wizard::TKVNNewFiltersForm>("VideoFiltersButton");
  EXPECT_EQ(form->windowTitle(), "Filter options");
  for (const char* name :
       {"IVTCMethodLabel", "IVTCMethodCombo", "IVTCFieldLabel", "IVTCFieldCombo"})
    EXPECT_FALSE(In(form, name)->isEnabled()) << name;
  auto* deinterlace = In<QComboBox>(form, "DeintMethodCombo");
  ASSERT_TRUE(deinterlace->isEnabled());
  EXPECT_EQ(deinterlace->currentIndex(), 0);  // progressive
  deinterlace->setCurrentIndex(2);
  CloseDialog(form);
  EXPECT_TRUE(Settings().Deinterlace);
  EXPECT_TRUE(Settings().DeinterlaceFull);

  // TruSpeed survives the filters being applied.
  Click("VideoTruCheck");
  Click("VideoFiltersButton");
  EXPECT_EQ(frame_.Window()->findChildren<wizard::TKVNNewFiltersForm*>().size(), 1);
  In<QComboBox>(form, "DeintMethodCombo")->setCurrentIndex(0);
  CloseDialog(form);
  EXPECT_FALSE(Settings().Deinterlace);
  EXPECT_TRUE(Settings().DeinterlaceFull) << "None leaves the kind";
  EXPECT_EQ(Settings().FrameRate, 24.0f);
}

TEST_F(OptionDialogTest, InverseTelecineReplacesDeinterlacingAndLowersTheRate) {
  EnterWith("ntsc_multi/1/1");  // interlaced, no film: deinterlacing proposed
  auto* form = Open<wizard::TKVNNewFiltersForm>("VideoFiltersButton");
  auto* deinterlace = In<QComboBox>(form, "DeintMethodCombo");
  auto* ivtc = In<QComboBox>(form, "IVTCMethodCombo");
  EXPECT_EQ(deinterlace->currentIndex(), 1);
  EXPECT_EQ(ivtc->currentIndex(), 0);
  EXPECT_FALSE(In(form, "IVTCFieldCombo")->isEnabled());
  EXPECT_EQ(In<QComboBox>(form, "IVTCFieldCombo")->currentIndex(), 0);  // top field first

  ivtc->setCurrentIndex(1);  // Simple
  EXPECT_EQ(deinterlace->currentIndex(), 0);
  EXPECT_FALSE(deinterlace->isEnabled());
  EXPECT_FALSE(In(form, "DeintMethodLabel")->isEnabled());
  EXPECT_FALSE(In(form, "IVTCFieldCombo")->isEnabled());
  CloseDialog(form);
  const wizard::JobSettings& s = Settings();
  EXPECT_TRUE(s.Ivtc);
  EXPECT_FALSE(s.IvtcComplex);
  EXPECT_FALSE(s.Deinterlace);
  EXPECT_EQ(s.FrameRate, s.SourceFrameRate * 4.0f * 0.2f);
  EXPECT_EQ(s.FrameCount, 300 * 4 / 5);
  EXPECT_EQ(InfoRow(3), "23.97 fps");
  EXPECT_EQ(InfoRow(5), QString::fromStdString(wizard::FormatDuration(s.Duration)));

  // Complex below 50 % film: no decimation, the field order can be chosen.
  form->show();
  ivtc->setCurrentIndex(2);
  EXPECT_TRUE(In(form, "IVTCFieldCombo")->isEnabled());
  In<QComboBox>(form, "IVTCFieldCombo")->setCurrentIndex(1);
  ivtc->setCurrentIndex(0);
  EXPECT_TRUE(deinterlace->isEnabled());
  ivtc->setCurrentIndex(2);
  CloseDialog(form);
  EXPECT_TRUE(Settings().IvtcComplex);
  EXPECT_FALSE(Settings().TopFieldFirst);
  EXPECT_EQ(Settings().FrameRate, Settings().SourceFrameRate);
  EXPECT_EQ(Settings().FrameCount, 300);
}

TEST_F(OptionDialogTest, CodecDialogShowsTheValuesThatWillBeUsed) {
  EnterWith("pal_letterbox/1/1");
  auto* form = Open<wizard::TKVNNewCodecForm>("VideoCodecButton");
  EXPECT_EQ(form->windowTitle(), "Codec options (experts only)");
  auto* manual = In<QCheckBox>(form, "ManualCheck");
  EXPECT_FALSE(manual->isChecked());
  const char* const controls[] = {"RCNewCheck",         "RCHighEdit",    "RCLowEdit",
                                  "RefQuantPEdit",      "RefQuantBEdit", "InloopQuantEdit",
                                  "InloopCompatCheck",  "BMaxRadio",     "BPatternCombo",
                                  "MiscAllFramesCheck", "MiscRPRCheck",  "RCHighUpDown"};
  for (const char* name : controls) EXPECT_FALSE(In(form, name)->isEnabled()) << name;
  EXPECT_EQ(In<QLineEdit>(form, "RefQuantPEdit")->text(), "6");
  EXPECT_EQ(In<QLineEdit>(form, "InloopQuantEdit")->text(), "12");
  EXPECT_EQ(In<QComboBox>(form, "BMaxCombo")->currentText(), "3");
  EXPECT_TRUE(In<QCheckBox>(form, "RCNewCheck")->isChecked());  // two passes

  manual->click();
  for (const char* name : {"RCNewCheck", "InloopQuantEdit", "BMaxRadio", "BMaxCombo",
                           "MiscRPRCheck", "RCHighEdit", "RefQuantBUpDown"})
    EXPECT_TRUE(In(form, name)->isEnabled()) << name;
  // Curve compression on: the rate spinners are usable, encodeAllFrames is not.
  EXPECT_FALSE(In(form, "MiscAllFramesCheck")->isEnabled());
  EXPECT_FALSE(In(form, "BPatternCombo")->isEnabled());
  In<QRadioButton>(form, "BPatternRadio")->click();
  EXPECT_TRUE(In(form, "BPatternCombo")->isEnabled());
  EXPECT_FALSE(In(form, "BMaxCombo")->isEnabled());
  In<QComboBox>(form, "BPatternCombo")->setCurrentIndex(3);
  In<QCheckBox>(form, "RCNewCheck")->click();
  EXPECT_FALSE(In(form, "RCHighEdit")->isEnabled());
  EXPECT_TRUE(In(form, "MiscAllFramesCheck")->isEnabled());
  In<QCheckBox>(form, "MiscAllFramesCheck")->click();
  In<QCheckBox>(form, "RCNewCheck")->click();
  EXPECT_TRUE(In<QCheckBox>(form, "MiscAllFramesCheck")->isChecked());
  EXPECT_FALSE(In(form, "MiscAllFramesCheck")->isEnabled());

  // 31 in a quantiser field: the up-down's limit when the field is left.
  auto* quant = In<QLineEdit>(form, "RefQuantPEdit");
  quant->setFocus(Qt::TabFocusReason);
  quant->selectAll();
  QTest::keyClicks(quant, "31");
  In<QLineEdit>(form, "RefQuantBEdit")->setFocus(Qt::TabFocusReason);
  EXPECT_EQ(quant->text(), "30");
  CloseDialog(form);
  wizard::JobSettings& s = Settings();
  EXPECT_TRUE(s.CodecManual);
  EXPECT_EQ(s.rcPFrameRefQuant, 30);
  EXPECT_FALSE(s.UseMaxConsecutiveBFrames);
  EXPECT_EQ(s.patternAdaptivity, 3);

  // Manual values stay when the complexity changes; clearing Manual shows
  // the automatic values and keeps them.
  Find<QSlider>("EHQTrack")->setValue(8);
  EXPECT_EQ(s.rcPFrameRefQuant, 30);
  form->show();
  EXPECT_TRUE(manual->isChecked());
  EXPECT_EQ(quant->text(), "30");
  manual->click();
  EXPECT_EQ(quant->text(), "6");
  EXPECT_TRUE(In<QRadioButton>(form, "BMaxRadio")->isChecked());
  CloseDialog(form);
  EXPECT_FALSE(s.CodecManual);
  EXPECT_EQ(s.rcPFrameRefQuant, 6);
  EXPECT_TRUE(s.UseMaxConsecutiveBFrames);
  EXPECT_EQ(s.maxConsecutiveBFrames, 3);
}

TEST_F(OptionDialogTest, CurveCompressionNeedsTwoPasses) {
  EnterWith("pal_letterbox/1/1");
  Find<QSlider>("EHQTrack")->setValue(3);  // 80, single pass
  auto* form = Open<wizard::TKVNNewCodecForm>("VideoCodecButton");
  In<QCheckBox>(form, "ManualCheck")->click();
  EXPECT_FALSE(In(form, "RCNewCheck")->isEnabled());
  EXPECT_FALSE(In<QCheckBox>(form, "RCNewCheck")->isChecked());
  EXPECT_TRUE(In(form, "MiscAllFramesCheck")->isEnabled());
  // Keys other than digits are swallowed in the number fields.
  EXPECT_FALSE(In(form, "RCLowEdit")->isEnabled());
  auto* inloop = In<QLineEdit>(form, "InloopQuantEdit");
  inloop->setFocus(Qt::TabFocusReason);
  QTest::keyClicks(inloop, "x");
  EXPECT_EQ(inloop->text(), "12");
  EXPECT_EQ(sounds_.played.size(), 1u);
  inloop->clear();
  ExpectMessages(1);
  In(form, "ManualCheck")->setFocus(Qt::TabFocusReason);
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Please enter an integer between 0 and 30."});
  EXPECT_TRUE(inloop->hasFocus());
  CloseDialog(form);
  EXPECT_TRUE(Settings().CodecManual);
  EXPECT_FALSE(Settings().rcEnableCurveCompression);
  EXPECT_EQ(Settings().inloopCutOffQuant, 12) << "an empty field keeps the last value";
}

}  // namespace
}  // namespace kv_test
