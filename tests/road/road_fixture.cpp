#include "tests/road/road_fixture.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cmath>

#include "app/frameserver_install.h"
#include "app/main_form.h"
#include "app/shell_state.h"
#include "platform/folders.h"
#include "queue/encoder_controller.h"
#include "queue/job_runner.h"
#include "queue/runner_clock.h"
#include "tests/road/independent_readers.h"
#include "tests/support/sample_dvds.h"
#include "wizard/config_page.h"
#include "wizard/job_writer.h"

namespace kv_test {

namespace {

QWidget* TopLevelNamed(const char* name) {
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (widget->objectName() == QLatin1String(name) && widget->isVisible()) return widget;
  return nullptr;
}

}  // namespace

RoadTest::RoadTest() {
  app::ShellState& shell = app::Shell();
  shell.ProgramFolder = std::string(KV_PROGRAM_FOLDER) + "/";
  shell.EncoderPath = shell.ProgramFolder + "helix/producer";
  // The encoder finds the frameserver through this store, which the test's
  // environment names for its child processes too.
  app::FrameserverInstallation frameserver(registry_.Store(), platform::SystemFolder());
  EXPECT_TRUE(frameserver.InstallFrameserver(KV_PROGRAM_FOLDER));
  queue::TKVNMenuForm::SetWizardFactory(&app::CreateNewJobWizard);
  OpenWith(queue::MakeEncoderController(), queue::MakeRunnerClock());
  shell.QueueWindow = &Window();
  QApplication::setActiveWindow(&Window());
}

RoadTest::~RoadTest() {
  queue::TKVNMenuForm::SetWizardFactory({});
}

void RoadTest::NewJob() {
  ASSERT_TRUE(Enabled("NewItem"));
  Action("NewItem")->trigger();
  wizard_ = nullptr;
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (auto* form = qobject_cast<wizard::TKVNNewForm*>(widget); form && form->isVisible())
      wizard_ = form;
  ASSERT_TRUE(WizardOpen());
  EXPECT_FALSE(Window().isEnabled());
  QApplication::setActiveWindow(Wizard());
}

void RoadTest::Analyse(const std::string& disc, const std::string& name, bool import) {
  if (import) boxes_.Answer(platform::MessageAnswer::Yes);
  const size_t shown = boxes_.Messages().size();
  StartAnalysis(disc.front() == '/' ? disc : SampleDvdRoot() + "/" + disc, name);
  WaitForAnalysis();
  ASSERT_TRUE(WizardOpen());
  EXPECT_EQ(boxes_.Messages().size(), shown + (import ? 1 : 0));
  const std::vector<std::string> log = LogLines();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "Analysis finished");
  Click("NextButton");
  EXPECT_EQ(Find<QStackedWidget>("Notebook")->currentIndex(), wizard::kTitlePage);
}

void RoadTest::StartJob(const std::string& disc, const std::string& name, int vts, int pgc,
                        bool import, int angle) {
  NewJob();
  Analyse(disc, name, import);
  ChooseTitle(vts, pgc, angle);
}

void RoadTest::ChooseTitle(int vts, int pgc, int angle) {
  auto* tree = Find<QTreeWidget>("TitleTree");
  char set_text[16], chain_text[16];
  std::snprintf(set_text, sizeof set_text, "VTS_%.2d", vts);
  std::snprintf(chain_text, sizeof chain_text, "PGC %d ", pgc);
  QTreeWidgetItem* chain = nullptr;
  for (int i = 0; i < tree->topLevelItemCount(); ++i) {
    QTreeWidgetItem* set = tree->topLevelItem(i);
    if (set->text(0) != QLatin1String(set_text)) continue;
    for (int k = 0; k < set->childCount(); ++k)
      if (set->child(k)->text(0).startsWith(QLatin1String(chain_text))) chain = set->child(k);
  }
  ASSERT_NE(chain, nullptr) << set_text << " " << chain_text;
  QTreeWidgetItem* chosen = chain;
  if (angle > 0) {
    ASSERT_GE(chain->childCount(), angle) << chain_text;
    chosen = chain->child(angle - 1);
    ASSERT_EQ(chosen->text(0).toStdString(), "Angle " + std::to_string(angle));
  }
  tree->setCurrentItem(chosen);
  Click("NextButton");
  ServeEventsUntil([this] {
    return !WizardOpen() || Find<QStackedWidget>("Notebook")->currentIndex() == wizard::kConfigPage;
  });
  ASSERT_TRUE(WizardOpen());
  EXPECT_EQ(Wizard()->State().SelVts, vts);
  EXPECT_EQ(Wizard()->State().SelPgc, pgc);
  EXPECT_EQ(Wizard()->State().SelAngle, angle);
}

void RoadTest::Reveal(QWidget* control) {
  auto* tabs = Find<QTabWidget>("ConfigTabs");
  for (int i = 0; i < tabs->count(); ++i)
    if (tabs->widget(i)->isAncestorOf(control)) tabs->setCurrentIndex(i);
}

void RoadTest::ClickControl(const char* name) {
  auto* widget = Find<QWidget>(name);
  Reveal(widget);
  ASSERT_TRUE(widget->isVisible() && widget->isEnabled()) << name;
  QTest::mouseClick(widget, Qt::LeftButton, {}, QPoint(6, widget->height() / 2));
}

void RoadTest::StepUp(const char* name, int steps) {
  auto* up_down = Find<queue::UpDown>(name);
  Reveal(up_down);
  ASSERT_TRUE(up_down->isEnabled()) << name;
  for (int i = 0; i < steps; ++i) up_down->StepUp();
}

void RoadTest::TypeInto(const char* name, const std::string& text) {
  QLineEdit* edit = Edit(name);
  Reveal(edit);
  ASSERT_TRUE(edit->isEnabled()) << name;
  QApplication::setActiveWindow(Wizard());
  edit->setFocus(Qt::TabFocusReason);
  edit->selectAll();
  QTest::keyClicks(edit, QString::fromStdString(text));
  // Leaving the field checks it, as a Tab would.
  Button("CancelButton")->setFocus(Qt::TabFocusReason);
  EXPECT_EQ(edit->text().toStdString(), text) << name;
}

void RoadTest::SetCheck(const char* name, bool on) {
  if (Find<QAbstractButton>(name)->isChecked() != on) ClickControl(name);
  EXPECT_EQ(Find<QAbstractButton>(name)->isChecked(), on) << name;
}

void RoadTest::ChooseInCombo(const char* name, int index) {
  auto* combo = Find<QComboBox>(name);
  ASSERT_LT(index, combo->count()) << name;
  combo->setCurrentIndex(index);
}

void RoadTest::AverageBitrate(int kbps) {
  ClickControl("EncModeBitrateRadio");
  TypeInto("EncModeBitrateEdit", std::to_string(kbps));
}

void RoadTest::ChooseFilters(int deinterlace, int ivtc) {
  ClickControl("VideoFiltersButton");
  QWidget* form = TopLevelNamed("TKVNNewFiltersForm");
  if (!form) form = Window().findChild<QWidget*>("TKVNNewFiltersForm");
  ASSERT_NE(form, nullptr);
  ASSERT_TRUE(form->isVisible());
  auto* ivtc_combo = form->findChild<QComboBox*>("IVTCMethodCombo");
  auto* deint_combo = form->findChild<QComboBox*>("DeintMethodCombo");
  ivtc_combo->setCurrentIndex(ivtc);
  if (ivtc == 0) deint_combo->setCurrentIndex(deinterlace);
  form->close();
  EXPECT_TRUE(Wizard()->isEnabled());
}

RoadTest::Finished RoadTest::Finish() {
  Finished job;
  if (!WizardOpen()) {
    ADD_FAILURE() << "no wizard";
    return job;
  }
  job.settings = Wizard()->State().Settings;
  job.folder = Wizard()->State().JobFolder;
  job.name = Wizard()->State().JobName;
  const size_t rows = Window().Jobs().Jobs().size();
  EXPECT_EQ(Button("NextButton")->text(), "Finish");
  Click("NextButton");
  SettleDeletes();
  EXPECT_FALSE(WizardOpen());
  EXPECT_TRUE(Window().isEnabled());
  EXPECT_EQ(Window().Jobs().Jobs().size(), rows + 1);
  return job;
}

void RoadTest::EncodeRow(int row) {
  Select(row);
  Action("StartItem")->trigger();
  EXPECT_TRUE(Window().EncodingActive());
  ServeEventsUntil([this] { return !Window().EncodingActive(); });
}

void RoadTest::EncodeAll() {
  Action("StartAllItem")->trigger();
  EXPECT_TRUE(Window().EncodingActive());
  ServeEventsUntil([this] { return !Window().EncodingActive(); });
}

std::vector<std::string> RoadTest::FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

void RoadTest::ExpectEncodedJob(const Finished& job, const std::vector<std::string>& volumes,
                                int channels, int64_t max_bytes) {
  std::vector<std::string> expected = volumes;
  std::sort(expected.begin(), expected.end());
  // Only the volumes remain: the data folder and the work files are gone.
  EXPECT_EQ(FilesIn(job.folder), expected) << job.folder;
  const wizard::JobSettings& s = job.settings;
  const double frame = 1.0 / s.FrameRate;
  double total = 0;
  int frames = 0;
  for (const std::string& name : volumes) {
    const std::string file = job.folder + "/" + name;
    const ProbedVolume v = ProbeVolume(file);
    SCOPED_TRACE(name);
    EXPECT_EQ(v.video_codec, "rv20");
    EXPECT_EQ(v.width, s.OutputWidth);
    EXPECT_EQ(v.height, s.OutputHeight);
    EXPECT_NEAR(v.frame_rate, s.FrameRate, 0.01);
    EXPECT_NEAR(v.header_frame_rate, s.FrameRate, 0.01);
    EXPECT_EQ(v.audio_codec, "aac");
    EXPECT_EQ(v.channels, channels);
    EXPECT_EQ(v.decode_errors, "");
    total += v.duration;
    frames += v.decoded_frames;
    if (max_bytes > 0) {
      struct stat st {};
      ASSERT_EQ(stat(file.c_str(), &st), 0);
      EXPECT_LE(st.st_size, max_bytes);
      EXPECT_GT(st.st_size, max_bytes / 4) << "far below the chosen size";
    }
  }
  EXPECT_NEAR(total, s.Duration, frame * static_cast<double>(volumes.size()));
  EXPECT_NEAR(frames, s.FrameCount, static_cast<double>(volumes.size()));
  // The queue row says done.
  const auto& rows = Window().Jobs().Jobs();
  const auto row = std::find_if(rows.begin(), rows.end(), [&](const queue::JobEntry& e) {
    return e.Path == job.folder || e.Path == job.folder + "/";
  });
  ASSERT_NE(row, rows.end());
  EXPECT_EQ(row->State, queue::JobState::Done);
}

}  // namespace kv_test
