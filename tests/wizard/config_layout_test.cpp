// The layout of the configuration page and its dialogs: at the desktop's
// font and at one and a half times its size, every caption is shown whole.
#include <QApplication>
#include <QTabWidget>
#include <cstdio>

#include "tests/wizard/clipped_captions.h"
#include "tests/wizard/config_page_fixture.h"
#include "wizard/codec_form.h"
#include "wizard/filters_form.h"

namespace kv_test {
namespace {

class ConfigLayout : public ::testing::TestWithParam<double> {
 protected:
  ScaledApplicationFont font_{GetParam()};
};

// The wizard's notebook page at the desktop font.
constexpr QSize kDesignPageSize(460, 240);

TEST_P(ConfigLayout, EverySheetAndDialogShowsItsCaptionsWhole) {
  ConfigPageHarness test;            // built with the font of this run
  test.EnterWith("ntsc_multi/1/1");  // every sheet is shown
  wizard::ConfigPage* page = test.page_;
  const QSize minimum = page->minimumSizeHint();
  std::printf("scale %.1f: page needs %d x %d\n", GetParam(), minimum.width(), minimum.height());
  if (GetParam() == 1.0) {
    EXPECT_LE(minimum.width(), kDesignPageSize.width());
    EXPECT_LE(minimum.height(), kDesignPageSize.height());
  }
  // The smallest page the layout allows.
  page->setFixedSize(minimum.expandedTo(GetParam() == 1.0 ? kDesignPageSize : QSize()));
  auto* tabs = page->findChild<QTabWidget*>(QStringLiteral("ConfigTabs"));
  for (int i = 0; i < tabs->count(); ++i) {
    std::printf("  %s needs %d x %d\n", tabs->tabText(i).toUtf8().constData(),
                tabs->widget(i)->minimumSizeHint().width(),
                tabs->widget(i)->minimumSizeHint().height());
    tabs->setCurrentIndex(i);
    QApplication::processEvents();
    EXPECT_EQ(ClippedCaptions(tabs->widget(i)), std::vector<std::string>{})
        << tabs->tabText(i).toStdString();
  }

  test.Click("VideoFiltersButton");
  auto* filters = page->window()->findChild<wizard::TKVNNewFiltersForm*>();
  ASSERT_NE(filters, nullptr);
  EXPECT_EQ(ClippedCaptions(filters), std::vector<std::string>{});
  filters->close();
  test.Click("VideoCodecButton");
  auto* codec = page->window()->findChild<wizard::TKVNNewCodecForm*>();
  ASSERT_NE(codec, nullptr);
  EXPECT_EQ(ClippedCaptions(codec), std::vector<std::string>{});
  codec->close();
}

INSTANTIATE_TEST_SUITE_P(FontScales, ConfigLayout, ::testing::Values(1.0, 1.5));

}  // namespace
}  // namespace kv_test
