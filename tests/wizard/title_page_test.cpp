// The title page in a bare frame on the offscreen platform: its tree against
// lsdvd, the preview against the decoder, the walk to the configuration page
// through the preparation thread on every sample disc, and the failures.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPixmap>
#include <QTest>
#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>

#include "decoder/video_decoder.h"
#include "tests/support/recorders.h"
#include "tests/support/sample_dvds.h"
#include "tests/support/temp_dir.h"
#include "tests/tessmar/tessmar_test_util.h"
#include "tests/wizard/analysed_disc.h"
#include "tests/wizard/test_wizard_frame.h"
#include "wizard/title_key.h"
#include "wizard/title_page.h"
#include "wizard/title_tree.h"

namespace {

namespace fs = std::filesystem;
using platform::MessageAnswer;
using wizard::TitleChoice;
using wizard::TitlePage;

// ------------------------------------------------------ the tree's rules

wizard::PgcInfo Chain(int h, int m, int s, int frames, int angles = 0) {
  wizard::PgcInfo pgc;
  pgc.Hours = static_cast<uint8_t>(h);
  pgc.Minutes = static_cast<uint8_t>(m);
  pgc.Seconds = static_cast<uint8_t>(s);
  pgc.FramesAndRate = static_cast<uint8_t>(0x40 | frames);
  pgc.Angles = angles;
  return pgc;
}

void SetChains(wizard::TitleSetTable& table, int vts, std::vector<wizard::PgcInfo> chains) {
  table[vts].PgcCount = static_cast<int>(chains.size());
  chains.insert(chains.begin(), wizard::PgcInfo());
  table[vts].Pgcs = std::move(chains);
}

TEST(TitleTree, LongestChainIsTheDefault) {
  struct Case {
    const char* what;
    std::vector<wizard::PgcInfo> vts1, vts3;
    std::vector<int> expected;
  };
  const std::vector<Case> cases = {
      {"more frames wins", {Chain(1, 30, 0, 10), Chain(1, 30, 0, 12)}, {}, {0, 1}},
      {"the first of equals wins", {Chain(1, 30, 0, 12), Chain(1, 30, 0, 12)}, {}, {0, 0}},
      {"seconds before frames", {Chain(0, 0, 9, 29)}, {Chain(0, 0, 10, 0)}, {1, 0}},
      {"its first angle",
       {Chain(0, 1, 0, 0)},
       {Chain(0, 0, 5, 0), Chain(0, 2, 0, 0, 3)},
       {1, 1, 0}},
      {"no playing time, no default", {Chain(0, 0, 0, 0)}, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    wizard::TitleSetTable table;
    SetChains(table, 1, c.vts1);
    if (!c.vts3.empty()) SetChains(table, 3, c.vts3);
    const wizard::TitleTreeModel tree = wizard::BuildTitleTree(table);
    EXPECT_EQ(tree.DefaultNode, c.expected);
  }
  wizard::TitleSetTable table;
  SetChains(table, 12, {Chain(1, 2, 3, 4), Chain(0, 0, 7, 0, 2)});
  const wizard::TitleTreeModel tree = wizard::BuildTitleTree(table);
  ASSERT_EQ(tree.Roots.size(), 1u);
  EXPECT_EQ(tree.Roots[0].Text, "VTS_12");
  EXPECT_EQ(tree.Roots[0].Children[0].Text, "PGC 1 [01:02:03]");
  EXPECT_EQ(tree.Roots[0].Children[1].Text, "PGC 2 [00:00:07]");
  EXPECT_EQ(tree.Roots[0].Children[1].Children[1].Text, "Angle 2");
  EXPECT_EQ(tree.Roots[0].Children[1].Children[1].StateImage, wizard::kAngleImage);
}

TEST(TitleTree, ChoiceFromTheNodeTexts) {
  using wizard::ChoiceFromNodeTexts;
  EXPECT_EQ(ChoiceFromNodeTexts({"VTS_02", "PGC 3 [00:01:00]"}, false), (TitleChoice{2, 3, 0}));
  EXPECT_EQ(ChoiceFromNodeTexts({"VTS_02", "PGC 3 [00:01:00]", "Angle 2"}, false),
            (TitleChoice{2, 3, 2}));
  EXPECT_EQ(ChoiceFromNodeTexts({"VTS_02", "PGC 3 [00:01:00]"}, true), std::nullopt);
  EXPECT_EQ(ChoiceFromNodeTexts({"VTS_02"}, true), std::nullopt);
  EXPECT_EQ(wizard::TitleLabelText({2, 3, 0}), " VTS_02 > PGC 3");
  EXPECT_EQ(wizard::TitleLabelText({2, 3, 2}), " VTS_02 > PGC 3 > Angle 2");
}

// --------------------------------------------------------- the page itself

// lsdvd's titles: title set, title number in it, whole seconds, angles.
struct LsdvdTitle {
  int vts, ttn, seconds, angles;
};
std::vector<LsdvdTitle> Lsdvd(const std::string& video_ts, int* longest) {
  const kv_test::CommandResult r = kv_test::RunCommand("lsdvd -x " + kv_test::Quote(video_ts));
  static const std::regex title_re(R"(^Title: \d+, Length: (\d+):(\d+):(\d+)\.)");
  static const std::regex vts_re(R"(VTS: (\d+), TTN: (\d+))");
  static const std::regex angles_re(R"(Number of Angles: (\d+))");
  static const std::regex longest_re(R"(^Longest track: (\d+))");
  std::vector<LsdvdTitle> titles;
  std::istringstream in(r.out);
  std::string line;
  std::smatch m;
  while (std::getline(in, line)) {
    if (std::regex_search(line, m, title_re)) {
      titles.push_back({0, 0, std::stoi(m[1]) * 3600 + std::stoi(m[2]) * 60 + std::stoi(m[3]), 0});
    } else if (std::regex_search(line, m, vts_re) && !titles.empty()) {
      titles.back().vts = std::stoi(m[1]);
      titles.back().ttn = std::stoi(m[2]);
    } else if (std::regex_search(line, m, angles_re) && !titles.empty()) {
      titles.back().angles = std::stoi(m[1]);
    } else if (std::regex_search(line, m, longest_re)) {
      *longest = std::stoi(m[1]) - 1;
    }
  }
  return titles;
}

std::string Hms(int seconds) {
  char text[16];
  std::snprintf(text, sizeof text, "%.2d:%.2d:%.2d", seconds / 3600, seconds / 60 % 60,
                seconds % 60);
  return text;
}

// The tree as lines "VTS_01/PGC 1 [00:00:12]/Angle 1", depth first.
std::vector<std::string> TreeLines(const QTreeWidget* tree) {
  std::vector<std::string> lines;
  std::function<void(const QTreeWidgetItem*, std::string)> walk = [&](const QTreeWidgetItem* item,
                                                                      std::string path) {
    path += (path.empty() ? "" : "/") + item->text(0).toStdString();
    lines.push_back(path);
    for (int i = 0; i < item->childCount(); ++i) walk(item->child(i), path);
  };
  for (int i = 0; i < tree->topLevelItemCount(); ++i) walk(tree->topLevelItem(i), "");
  return lines;
}

class TitlePageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::is_directory(kv_test::SampleDvdRoot())) GTEST_SKIP() << "no sample discs";
    page = new TitlePage(frame);
    frame.SetPage(wizard::kTitlePage, page);
    frame.show();
  }
  void TearDown() override {
    if (page) page->WizardClosing();
  }
  wizard::WizardState& State() { return frame.State(); }

  // The analysis page's result in a new job folder, then Next to the title
  // page.
  void AnalyseAndEnter(const std::string& disc, const std::string& video_ts = "") {
    frame.State() = wizard::WizardState();
    ASSERT_GT(kv_test::AnalyseDisc(video_ts.empty() ? kv_test::SampleVideoTs(disc) : video_ts,
                                   dir.File("job" + std::to_string(++jobs)), State()),
              0);
    frame.SelectNotebookPage(wizard::kAnalysisPage);
    frame.EnterPage(wizard::kTitlePage);
  }
  // Next, and the preparation it may start until its end has been handled.
  void Next() {
    frame.NextButtonClick();
    page->WaitForPreparation();
  }
  void Select(const QString& vts, const QString& pgc, const QString& angle = QString()) {
    for (int i = 0; i < page->TitleTree->topLevelItemCount(); ++i) {
      QTreeWidgetItem* set = page->TitleTree->topLevelItem(i);
      if (set->text(0) != vts) continue;
      for (int j = 0; j < set->childCount(); ++j) {
        QTreeWidgetItem* chain = set->child(j);
        if (!chain->text(0).startsWith(pgc + " [")) continue;
        if (angle.isEmpty()) return page->TitleTree->setCurrentItem(chain);
        for (int k = 0; k < chain->childCount(); ++k)
          if (chain->child(k)->text(0) == angle)
            return page->TitleTree->setCurrentItem(chain->child(k));
      }
    }
    ADD_FAILURE() << "no node " << vts.toStdString() << " " << pgc.toStdString();
  }
  bool NextEnabled() { return frame.NextButton()->isEnabled(); }

  kv_test::TempDir dir{"title-page"};
  kv_test::MessageBoxRecorder boxes;
  kv_test::TestWizardFrame frame;
  TitlePage* page = nullptr;
  int jobs = 0;
};

// From the analysis to the configuration page on every sample disc that has
// a usable title set: the tree equals lsdvd's, the longest chain is chosen
// and previewed, Next prepares it, Back and Next again keep it, another
// chain is prepared anew.
TEST_F(TitlePageTest, WalkOnEverySampleDisc) {
  std::vector<std::string> discs;
  for (const auto& entry : fs::directory_iterator(kv_test::SampleDvdRoot()))
    if (fs::is_directory(entry.path() / "VIDEO_TS")) discs.push_back(entry.path().filename());
  std::sort(discs.begin(), discs.end());
  int walked = 0;
  for (const std::string& disc : discs) {
    SCOPED_TRACE(disc);
    frame.State() = wizard::WizardState();
    // A disc without a usable title set ends on the analysis page.
    if (kv_test::AnalyseSampleDisc(disc, dir.File(disc), State()) == 0) continue;
    ++walked;
    frame.SelectNotebookPage(wizard::kAnalysisPage);
    frame.EnterPage(wizard::kTitlePage);
    EXPECT_EQ(frame.CurrentPage(), wizard::kTitlePage);
    EXPECT_EQ(frame.header_title, "Select title");

    int longest = -1;
    const std::vector<LsdvdTitle> titles = Lsdvd(kv_test::SampleVideoTs(disc), &longest);
    ASSERT_FALSE(titles.empty());
    std::vector<std::string> expected;
    for (const LsdvdTitle& t : titles) {
      char vts[16];
      std::snprintf(vts, sizeof vts, "VTS_%.2d", t.vts);
      if (t.ttn == 1) expected.push_back(vts);
      // dvdauthor gives title n of a title set its program chain n.
      const std::string chain =
          std::string(vts) + "/PGC " + std::to_string(t.ttn) + " [" + Hms(t.seconds) + "]";
      expected.push_back(chain);
      for (int a = 1; t.angles > 1 && a <= t.angles; ++a)
        expected.push_back(chain + "/Angle " + std::to_string(a));
    }
    EXPECT_EQ(TreeLines(page->TitleTree), expected);
    const LsdvdTitle& chosen = titles.at(longest);
    // Of a chain with angles, its first.
    EXPECT_EQ(State().Selection(),
              (TitleChoice{chosen.vts, chosen.ttn, chosen.angles > 1 ? 1 : 0}));
    EXPECT_TRUE(page->PreviewImage->isVisible());
    EXPECT_FALSE(page->NoTitleImage->isVisible());
    EXPECT_TRUE(NextEnabled());

    Next();
    ASSERT_EQ(frame.CurrentPage(), wizard::kConfigPage);
    EXPECT_TRUE(State().SelectedPgc().Prepared(State().SelAngle));
    EXPECT_TRUE(State().SelectionChanged);
    EXPECT_EQ(State().TitleKey, wizard::TitleKeyFor(State().Selection()));
    EXPECT_FALSE(decoder::VideoIsOpen());
    EXPECT_TRUE(frame.isEnabled());

    // What the configuration page does when it is set up for the title.
    State().PreparedTitle = State().Selection();
    frame.BackButtonClick();
    ASSERT_EQ(frame.CurrentPage(), wizard::kTitlePage);
    EXPECT_TRUE(State().PreviewOpen);
    EXPECT_TRUE(NextEnabled());
    Next();
    EXPECT_EQ(frame.CurrentPage(), wizard::kConfigPage);
    EXPECT_FALSE(State().SelectionChanged);

    // Another chain (or angle) of a sound disc is prepared anew.
    const QTreeWidgetItem* other = nullptr;
    for (int i = 0; i < page->TitleTree->topLevelItemCount() && !other; ++i)
      for (int j = 0; j < page->TitleTree->topLevelItem(i)->childCount(); ++j) {
        const QTreeWidgetItem* chain = page->TitleTree->topLevelItem(i)->child(j);
        const QTreeWidgetItem* node = chain->childCount() > 1 ? chain->child(1) : chain;
        if (node != page->TitleTree->currentItem()) other = node;
      }
    if (!other || disc.rfind("bad_", 0) == 0) continue;
    frame.BackButtonClick();
    page->TitleTree->setCurrentItem(const_cast<QTreeWidgetItem*>(other));
    const TitleChoice another = State().Selection();
    EXPECT_NE(another, State().PreparedTitle);
    Next();
    EXPECT_EQ(frame.CurrentPage(), wizard::kConfigPage);
    EXPECT_TRUE(State().SelectionChanged);
    EXPECT_EQ(State().TitleKey, wizard::TitleKeyFor(another));
    EXPECT_TRUE(State().SelectedPgc().Prepared(another.Angle));
  }
  EXPECT_GE(walked, 6);
  EXPECT_TRUE(boxes.Messages().empty());
}

// The preview at the bar's ends and middle is the decoder's frame
// (count - 1) x position / 128, every second pixel of every second row.
TEST_F(TitlePageTest, PreviewIsTheHalvedFrame) {
  AnalyseAndEnter("pal_letterbox");
  const QRect wide = page->PreviewImage->geometry();
  EXPECT_EQ(wide.width(), 240);
  EXPECT_EQ(wide.top(), 35);
  EXPECT_EQ(wide.height(), 135);
  const decoder::VideoInfo info = decoder::OpenVideoInfo();
  ASSERT_EQ(info.Width, 720);
  ASSERT_EQ(info.Height, 576);
  for (int position : {0, 128, 64}) {
    SCOPED_TRACE(position);
    page->PreviewBar->setValue(position);
    const uint8_t* frame_bgr = decoder::GetFrame((info.FrameCount - 1) * position / 128);
    ASSERT_NE(frame_bgr, nullptr);
    const QImage shown =
        page->PreviewImage->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), QSize(360, 288));
    int differing = 0;
    for (int y = 0; y < 288; ++y)
      for (int x = 0; x < 360; ++x) {
        const uint8_t* p = frame_bgr + (size_t(2 * y) * 720 + 2 * x) * 3;
        differing += shown.pixel(x, y) != qRgb(p[2], p[1], p[0]);
      }
    EXPECT_EQ(differing, 0);
  }
  // A 4:3 title gets the design's place.
  AnalyseAndEnter("ntsc_film");
  EXPECT_EQ(page->PreviewImage->geometry(), QRect(wide.left(), 13, 240, 180));
}

// Another angle of a prepared chain is prepared for itself: its own audio
// maps exist before the job is written. (The sample chain gets two angles in
// the table; without an angle block every angle is the whole chain.)
TEST_F(TitlePageTest, AnglesArePreparedEachOnTheirOwn) {
  ASSERT_GT(kv_test::AnalyseSampleDisc("pal_letterbox", dir.File("job"), State()), 0);
  State().TitleSets[1].Pgcs[1].Angles = 2;
  frame.EnterPage(wizard::kTitlePage);
  EXPECT_EQ(page->TitleLabel->text(), " VTS_01 > PGC 1 > Angle 1");
  Next();
  EXPECT_TRUE(fs::exists(State().JobDataFolder + "vts01_pgc01_a1_at0.vfm"));
  State().PreparedTitle = State().Selection();
  frame.BackButtonClick();

  Select("VTS_01", "PGC 1");  // a chain with angles selects nothing
  EXPECT_FALSE(NextEnabled());
  EXPECT_TRUE(page->NoTitleImage->isVisible());
  EXPECT_FALSE(State().PreviewOpen);
  Select("VTS_01", "PGC 1", "Angle 2");
  EXPECT_TRUE(NextEnabled());
  EXPECT_FALSE(fs::exists(State().JobDataFolder + "vts01_pgc01_a2_at0.vfm"));  // video only
  // Enter in the tree goes on as Next does.
  QTest::keyClick(page->TitleTree, Qt::Key_Return);
  page->WaitForPreparation();
  EXPECT_EQ(frame.CurrentPage(), wizard::kConfigPage);
  EXPECT_TRUE(fs::exists(State().JobDataFolder + "vts01_pgc01_a2_at0.vfm"));
  EXPECT_TRUE(State().SelectedPgc().Prepared(2));
  EXPECT_FALSE(State().SelectedPgc().Prepared(1));
}

TEST_F(TitlePageTest, DamagedTitles) {
  // A chain whose cells lie in the missing VOB file cannot be previewed.
  AnalyseAndEnter("bad_missing_vob");
  boxes.Answer(MessageAnswer::Ok);
  Select("VTS_01", "PGC 2");
  ASSERT_EQ(boxes.Messages().size(), 1u);
  EXPECT_EQ(boxes.Messages()[0].text, decoder::kPreviewFailedMessage);
  EXPECT_EQ(boxes.Messages()[0].icon, platform::MessageIcon::Error);
  EXPECT_FALSE(NextEnabled());
  EXPECT_FALSE(page->PreviewBar->isEnabled());
  EXPECT_TRUE(page->NoTitleImage->isVisible());

  // Pictures damaged after the preview was made: the preparation fails, the
  // title stays unprepared and the page opens the choice again; a preview
  // frame in the damage closes the preview.
  page->WizardClosing();
  const std::string copy = kv_test::CopySampleDisc("pal_letterbox", dir.File("dvd"));
  AnalyseAndEnter("", copy);
  for (const char* name : {"VTS_01_2.VOB", "VTS_01_3.VOB"})
    kv_test::WriteFile(copy + "/" + name, std::string(fs::file_size(copy + "/" + name), '\0'));
  boxes.Answer(MessageAnswer::Ok);
  Next();
  ASSERT_EQ(boxes.Messages().size(), 2u);
  EXPECT_EQ(boxes.Messages()[1].text, decoder::kBorderDetectionFailedMessage);
  EXPECT_EQ(frame.CurrentPage(), wizard::kTitlePage);
  EXPECT_EQ(State().SelectedPgc().PgcFrameCount, -1);
  EXPECT_EQ(State().PreparedTitle, TitleChoice{});
  EXPECT_TRUE(State().PreviewOpen);
  EXPECT_TRUE(NextEnabled());
  EXPECT_TRUE(frame.isEnabled());

  boxes.Answer(MessageAnswer::Ok);
  page->PreviewBar->setValue(128);
  ASSERT_EQ(boxes.Messages().size(), 3u);
  EXPECT_EQ(boxes.Messages()[2].text, decoder::kFrameFailedMessage);
  EXPECT_FALSE(State().PreviewOpen);
  EXPECT_FALSE(decoder::VideoIsOpen());
  EXPECT_FALSE(NextEnabled());
  EXPECT_TRUE(page->TitleLabel->text().isEmpty());
  EXPECT_EQ(page->PreviewBar->value(), 64);
}

TEST_F(TitlePageTest, BackDiscardsTheAnalysisOnlyOnYes) {
  AnalyseAndEnter("ntsc_film");
  boxes.Answer(MessageAnswer::No);
  frame.BackButtonClick();
  EXPECT_EQ(frame.CurrentPage(), wizard::kTitlePage);
  EXPECT_TRUE(State().PreviewOpen);
  boxes.Answer(MessageAnswer::Yes);
  frame.BackButtonClick();
  ASSERT_EQ(boxes.Messages().size(), 2u);
  EXPECT_EQ(boxes.Messages()[1].text,
            "The result of the analysis will be discarded. Are you sure you want to do this?");
  EXPECT_EQ(boxes.Messages()[1].icon, platform::MessageIcon::Warning);
  EXPECT_EQ(frame.CurrentPage(), wizard::kSourcePage);
  EXPECT_FALSE(fs::exists(State().JobFolder));
  EXPECT_FALSE(decoder::VideoIsOpen());
}

// Back from the configuration page reopens the chosen title; when its video
// index has gone, the video-only cut is made again and the preview, label
// and picture stay as they were.
TEST_F(TitlePageTest, ReturnMakesAMissingVideoIndexAgain) {
  AnalyseAndEnter("ntsc_film");
  page->PreviewBar->setValue(10);
  Next();
  ASSERT_EQ(frame.CurrentPage(), wizard::kConfigPage);
  State().PreparedTitle = State().Selection();
  const std::string index = State().JobDataFolder + State().TitleKey + ".qmvi";
  ASSERT_TRUE(fs::remove(index));
  const QString label = page->TitleLabel->text();
  const QImage picture = page->PreviewImage->pixmap().toImage();
  frame.BackButtonClick();
  EXPECT_EQ(frame.CurrentPage(), wizard::kTitlePage);
  EXPECT_TRUE(fs::is_regular_file(index));
  EXPECT_TRUE(State().PreviewOpen);
  EXPECT_TRUE(decoder::VideoIsOpen());
  EXPECT_TRUE(NextEnabled());
  EXPECT_TRUE(page->PreviewBar->isEnabled());
  EXPECT_TRUE(page->PreviewImage->isVisible());
  EXPECT_EQ(page->PreviewBar->value(), 10);
  EXPECT_EQ(page->TitleLabel->text(), label);
  EXPECT_EQ(page->PreviewImage->pixmap().toImage(), picture);
  EXPECT_TRUE(boxes.Messages().empty());
}

// A close that arrives while the title is prepared waits for the end, which
// is handled first (the configuration page is entered), then closes.
TEST_F(TitlePageTest, CloseDuringPreparationWaitsForIt) {
  AnalyseAndEnter("ntsc_multi");
  frame.NextButtonClick();
  ASSERT_TRUE(page->PreparationRunning());
  EXPECT_FALSE(frame.isEnabled());
  const QWidget* wait = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == "TKVNNewWaitForm" && w->isVisible()) wait = w;
  ASSERT_NE(wait, nullptr);
  EXPECT_EQ(wait->windowTitle(), "Kestrevane");
  EXPECT_EQ(wait->findChild<QLabel*>("WaitLabel")->text(), "Please wait...");
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  EXPECT_TRUE(frame.close());
  EXPECT_FALSE(page->PreparationRunning());
  EXPECT_EQ(frame.CurrentPage(), wizard::kConfigPage);
  EXPECT_TRUE(State().SelectedPgc().Prepared(0));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_TRUE(frame.isEnabled());
  for (QWidget* w : QApplication::topLevelWidgets())
    EXPECT_FALSE(w->objectName() == "TKVNNewWaitForm" && w->isVisible());
}

}  // namespace
