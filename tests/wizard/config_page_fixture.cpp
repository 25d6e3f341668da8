#include "tests/wizard/config_page_fixture.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QTabWidget>
#include <QTest>
#include <QVBoxLayout>
#include <stdexcept>

namespace kv_test {

namespace {

// The NTSC frame rate as the analysis gives it.
constexpr float kNtscRate = 30000.0f / 1001.0f;

constexpr uint16_t Language(char first, char second) {
  return static_cast<uint16_t>((first << 8) | second);
}

wizard::TitleSetInfo TitleSet(int width, int height, bool wide, bool pal, float rate,
                              bool progressive, bool top_first, float film) {
  wizard::TitleSetInfo info;
  info.PictureWidth = static_cast<int16_t>(width);
  info.PictureHeight = static_cast<int16_t>(height);
  info.Widescreen = wide;
  info.PalVideo = pal;
  info.VideoFrameRate = rate;
  info.Progressive = progressive;
  info.FieldOrderTop = top_first;
  info.FilmShare = film;
  return info;
}

// A prepared program chain: its frames, what border detection found, its
// streams.
wizard::PgcInfo Chain(int frames, wizard::PictureRect detected, bool borders,
                      std::vector<wizard::PgcAudioEntry> audio,
                      std::vector<wizard::PgcSubtitleEntry> subtitles = {}) {
  wizard::PgcInfo pgc;
  pgc.PgcFrameCount = frames;
  pgc.DetectedRect = detected;
  pgc.BorderState = borders ? 1 : 0;
  pgc.PreparedAngle = 0;
  pgc.AudioStreams = std::move(audio);
  pgc.SubtitleStreams = std::move(subtitles);
  return pgc;
}

wizard::PgcAudioEntry Audio(int stream, int format, int channels, uint16_t language,
                            int extension = 0) {
  wizard::PgcAudioEntry entry;
  entry.StreamNumber = stream;
  entry.Format = format;
  entry.Channels = channels;
  entry.Language = language;
  entry.CodeExtension = extension;
  if (format == 4) {
    entry.BitsPerSample = 16;
    entry.SampleRate = 48000;
  }
  return entry;
}

}  // namespace

std::vector<HandTitle> HandTitles() {
  // The facts follow the generator: picture kinds, lengths, letterbox bars
  // of 72 and 88 lines, streams and languages.
  const wizard::PgcAudioEntry english_ac3 = Audio(0, 1, 2, Language('e', 'n'));
  std::vector<HandTitle> titles;

  HandTitle pal{"pal_letterbox/1/1", 1, 1,
                TitleSet(720, 576, true, true, 25.0f, true, false, 0.0f)};
  pal.title_set.PgcCount = 2;
  pal.title_set.Pgcs = {{},
                        Chain(300, {72, 0, 720, 416}, true, {english_ac3}),
                        Chain(200, {72, 0, 720, 416}, true, {english_ac3})};
  titles.push_back(pal);
  pal.name = "pal_letterbox/1/2";
  pal.pgc = 2;
  titles.push_back(pal);

  HandTitle multi{"ntsc_multi/1/1", 1, 1,
                  TitleSet(720, 480, false, false, kNtscRate, false, true, 0.0f)};
  multi.title_set.PgcCount = 1;
  multi.title_set.Pgcs = {
      {},
      Chain(300, {0, 0, 720, 480}, false,
            {Audio(0, 1, 6, Language('e', 'n')), Audio(1, 4, 2, Language('f', 'r')),
             Audio(2, 3, 2, Language('d', 'e'), 3)},
            {{0, Language('e', 'n')}})};
  multi.title_set.SubtitleFiles[0] = "vts01_pgc00_a0_st0.sub";
  titles.push_back(multi);
  HandTitle second{"ntsc_multi/2/1", 2, 1,
                   TitleSet(720, 480, false, false, kNtscRate, false, true, 0.0f)};
  second.title_set.PgcCount = 1;
  second.title_set.Pgcs = {{}, Chain(180, {0, 0, 720, 480}, false, {english_ac3})};
  titles.push_back(second);

  HandTitle film{"ntsc_film/1/1", 1, 1,
                 TitleSet(720, 480, false, false, kNtscRate, true, true, 100.0f)};
  film.title_set.PgcCount = 1;
  film.title_set.Pgcs = {{}, Chain(300, {0, 0, 720, 480}, false, {english_ac3})};
  titles.push_back(film);
  HandTitle mixed{"ntsc_mixed/1/1", 1, 1,
                  TitleSet(720, 480, false, false, kNtscRate, true, true, 50.0f)};
  mixed.title_set.PgcCount = 1;
  mixed.title_set.Pgcs = {{}, Chain(270, {0, 0, 720, 480}, false, {english_ac3})};
  titles.push_back(mixed);
  return titles;
}

const HandTitle& HandTitleNamed(const std::string& name) {
  static const std::vector<HandTitle> titles = HandTitles();
  for (const HandTitle& title : titles) {
    if (name == title.name) return title;
  }
  throw std::invalid_argument("no sample title " + name);
}

TestFrame::TestFrame() : window_(std::make_unique<QWidget>()) {
  window_->setObjectName(QStringLiteral("TestWizard"));
  preview_ = new QPushButton(QStringLiteral("Preview"), window_.get());
  preview_->setObjectName(QStringLiteral("PreviewButton"));
  back_ = new QPushButton(QStringLiteral("< Back"), window_.get());
  back_->setObjectName(QStringLiteral("BackButton"));
  next_ = new QPushButton(QStringLiteral("Next >"), window_.get());
  next_->setObjectName(QStringLiteral("NextButton"));
  state_.JobName = "Test";
  state_.JobFolder = "/jobs/Test";
  state_.JobDataFolder = "/jobs/Test/.kvnj/";
  state_.PreviewScriptPath = state_.JobDataFolder + "preview.avs";
}

TestFrame::~TestFrame() = default;

void TestFrame::SetHeader(int icon, const QString& title, const QString& comment) {
  header_icon = icon;
  header_title = title;
  header_comment = comment;
}

ConfigPageHarness::ConfigPageHarness() {
  QWidget* window = frame_.Window();
  page_ = new wizard::ConfigPage(frame_, window);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(frame_.PreviewButton());
  buttons->addStretch(1);
  buttons->addWidget(frame_.BackButton());
  buttons->addWidget(frame_.NextButton());
  auto* layout = new QVBoxLayout(window);
  layout->addWidget(page_, 1);
  layout->addLayout(buttons);
  window->show();
  window->activateWindow();
  EXPECT_TRUE(QTest::qWaitForWindowActive(window));
}

ConfigPageHarness::~ConfigPageHarness() = default;

void ConfigPageHarness::EnterWith(const std::string& name) {
  const HandTitle& title = HandTitleNamed(name);
  wizard::WizardState& state = frame_.State();
  state.TitleSets[title.vts] = title.title_set;
  state.SelVts = title.vts;
  state.SelPgc = title.pgc;
  state.SelAngle = 0;
  state.SelectionChanged = state.PreparedTitle != state.Selection();
  char key[32];
  std::snprintf(key, sizeof key, "vts%.2d_pgc%.2d_a%d", title.vts, title.pgc, 0);
  state.TitleKey = key;
  page_->Enter();
}

void ConfigPageHarness::BackAndEnter(const std::string& name) {
  ASSERT_TRUE(page_->Leave(false));
  EnterWith(name);
}

void ConfigPageHarness::Reveal(QWidget* widget) {
  // The sheet that holds the control becomes the current one.
  auto* tabs = page_->findChild<QTabWidget*>(QStringLiteral("ConfigTabs"));
  for (int i = 0; i < tabs->count(); ++i) {
    if (tabs->widget(i)->isAncestorOf(widget)) tabs->setCurrentIndex(i);
  }
}

void ConfigPageHarness::Click(const char* name) {
  QWidget* widget = Find(name);
  Reveal(widget);
  ASSERT_TRUE(widget->isEnabled()) << name;
  QTest::mouseClick(widget, Qt::LeftButton, {}, QPoint(6, widget->height() / 2));
}

void ConfigPageHarness::Focus(const char* name) {
  QWidget* widget = Find(name);
  Reveal(widget);
  widget->setFocus(Qt::TabFocusReason);
  EXPECT_TRUE(widget->hasFocus()) << name;
}

void ConfigPageHarness::Type(const char* name, const QString& keys) {
  Focus(name);
  QLineEdit* edit = Edit(name);
  edit->selectAll();
  if (keys.isEmpty()) {
    QTest::keyClick(edit, Qt::Key_Backspace);
  } else {
    QTest::keyClicks(edit, keys);
  }
}

void ConfigPageHarness::Leave(const char* name) {
  // Focus goes to a control outside the sheets, as a Tab would take it.
  ASSERT_TRUE(Find(name)->hasFocus()) << name;
  frame_.BackButton()->setFocus(Qt::TabFocusReason);
}

void ConfigPageHarness::ExpectMessages(int count) {
  for (int i = 0; i < count; ++i) messages_.Answer(platform::MessageAnswer::Ok);
}

std::vector<std::string> ConfigPageHarness::MessageTexts() const {
  std::vector<std::string> texts;
  for (const auto& shown : messages_.Messages()) texts.push_back(shown.text);
  return texts;
}

}  // namespace kv_test
