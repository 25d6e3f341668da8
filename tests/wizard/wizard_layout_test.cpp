// The wizard's header and the labels of its pages at the page's size with
// the desktop's default font and one a quarter larger, on the road of a
// sample disc from page 1 to the configuration page; ctest runs it again at
// 1.25, 1.5 and 2 times the desktop's scale.
#include <gtest/gtest.h>

#include <QApplication>
#include <QStackedWidget>
#include <cstdio>
#include <filesystem>

#include "tests/support/sample_dvds.h"
#include "tests/wizard/clipped_captions.h"
#include "tests/wizard/wizard_fixture.h"
#include "wizard/title_page.h"

namespace {

// The desktop's font as it is, and a quarter larger (11 pt where the
// default is 9 pt): the window grows where a page needs the room.
class WizardLayout : public kv_test::WizardTest, public ::testing::WithParamInterface<double> {
 protected:
  // Every caption of the wizard's frame and its current page is whole, and
  // the header's texts stop short of the logo.
  void ExpectWhole(const char* where) {
    QApplication::processEvents();
    EXPECT_EQ(kv_test::ClippedCaptions(Wizard()), std::vector<std::string>{})
        << where << ", header comment: " << LabelText("HeaderComment").toStdString();
    const int logo = Find<QLabel>("RealLogo")->x();
    for (const char* text : {"HeaderTitle", "HeaderComment"})
      EXPECT_LE(Find<QLabel>(text)->geometry().right(), logo) << where << ", " << text;
  }

  kv_test::ScaledApplicationFont font_{GetParam()};
};

TEST_P(WizardLayout, HeaderAndLabelsShowWholeOnEveryPage) {
  const std::string disc = kv_test::SampleDvdRoot() + "/pal_letterbox";
  if (!std::filesystem::is_directory(disc)) GTEST_SKIP() << "no sample discs";
  std::printf("scale %s, font %s %.1f pt\n", qgetenv("QT_SCALE_FACTOR").constData(),
              QApplication::font().family().toUtf8().constData(),
              QApplication::font().pointSizeF());
  OpenWizard();
  ExpectWhole("page 1, empty");
  // A destination deep enough that the path line is shortened and wraps.
  const std::string jobs = Jobs() + "/Encoded films of the family/Holidays by the sea/2026";
  kv_test::MakeFolders(jobs);
  FillSourcePage("My first job", jobs, disc);
  ASSERT_TRUE(Find<QLabel>("PathLabel")->isVisible());
  ExpectWhole("page 1, filled");
  // The folder picture of the path line keeps its distance from the text.
  const QLabel* icon = Find<QLabel>("PathIcon");
  const QLabel* path = Find<QLabel>("PathLabel");
  EXPECT_GE(path->x() - (icon->x() + icon->width()), 6);
  Click("NextButton");
  ExpectWhole("page 2, analysing");
  WaitForAnalysis();
  ASSERT_TRUE(WizardOpen());
  ExpectWhole("page 2, analysed");
  Click("NextButton");
  ExpectWhole("page 3");
  Click("NextButton");
  Find<wizard::TitlePage>("Step3")->WaitForPreparation();
  ASSERT_EQ(Find<QStackedWidget>("Notebook")->currentIndex(), wizard::kConfigPage);
  ExpectWhole("page 4");
  boxes_.Answer(platform::MessageAnswer::Yes);
  CloseWizard();
}

INSTANTIATE_TEST_SUITE_P(FontScales, WizardLayout, ::testing::Values(1.0, 1.25));

}  // namespace
