// Draws the configuration page of the new-job wizard, sheet by sheet, and
// its filter and codec option dialogs into PNG files:
//
//   config_page_shot <out-folder>
//
// writes config-general.png, config-video.png, config-audio.png,
// config-subtitles.png, config-summary.png, filter-options.png and
// codec-options.png. Run it on a real display (or Xvfb) to get the desktop's
// fonts and style. The title is a letterboxed PAL film with two sound tracks
// and one subtitle stream, as a prepared disc would give it.
#include <QApplication>
#include <QDir>
#include <QHBoxLayout>
#include <QPixmap>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <cstdio>

#include "wizard/codec_form.h"
#include "wizard/config_page.h"
#include "wizard/filters_form.h"
#include "wizard/wizard_frame.h"

namespace {

// The wizard's button row around the page, at the wizard's notebook size.
class ShotFrame : public wizard::WizardFrame {
 public:
  ShotFrame() {
    window_.setWindowTitle(QStringLiteral("Kestrevane - New Job"));
    preview_ = new QPushButton(QStringLiteral("Preview"), &window_);
    back_ = new QPushButton(QStringLiteral("< Back"), &window_);
    next_ = new QPushButton(QStringLiteral("Next >"), &window_);
  }
  wizard::WizardState& State() override { return state_; }
  QWidget* Window() override { return &window_; }
  void SetHeader(int, const QString&, const QString&) override {}
  void SetHeaderComment(const QString&) override {}
  void SelectNotebookPage(wizard::WizardPageIndex) override {}
  QPushButton* NextButton() override { return next_; }
  QPushButton* BackButton() override { return back_; }
  QPushButton* PreviewButton() override { return preview_; }
  void NextButtonClick() override {}
  void Release() override {}

  QWidget window_;
  wizard::WizardState state_;
  QPushButton *preview_, *back_, *next_;
};

constexpr uint16_t Language(char first, char second) {
  return static_cast<uint16_t>((first << 8) | second);
}

void ChooseSampleTitle(wizard::WizardState& state) {
  wizard::TitleSetInfo& vts = state.TitleSets[1];
  vts.PictureWidth = 720;
  vts.PictureHeight = 576;
  vts.Widescreen = true;
  vts.PalVideo = true;
  vts.VideoFrameRate = 25.0f;
  vts.Progressive = true;
  vts.PgcCount = 1;
  vts.Pgcs.resize(2);
  wizard::PgcInfo& pgc = vts.Pgcs[1];
  pgc.PgcFrameCount = 25 * 60 * 104;  // 1 h 44 min
  pgc.BorderState = 1;
  pgc.DetectedRect = {72, 0, 720, 432};
  pgc.PreparedAngle = 0;
  wizard::PgcAudioEntry surround;
  surround.Format = 1;
  surround.Channels = 6;
  surround.Language = Language('e', 'n');
  wizard::PgcAudioEntry commentary = surround;
  commentary.StreamNumber = 1;
  commentary.Channels = 2;
  commentary.CodeExtension = 3;
  pgc.AudioStreams = {surround, commentary};
  pgc.SubtitleStreams = {{0, Language('e', 'n')}, {1, Language('d', 'e')}};
  state.SelVts = 1;
  state.SelPgc = 1;
  state.SelAngle = 0;
  state.SelectionChanged = true;
  state.TitleKey = "vts01_pgc01_a0";
}

bool Save(QWidget* widget, const QString& folder, const char* name) {
  QApplication::processEvents();
  const QString path = QDir(folder).filePath(QLatin1String(name));
  const bool saved = widget->grab().save(path, "PNG");
  std::printf("%s %s\n", saved ? "wrote" : "could not write", path.toUtf8().constData());
  return saved;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: config_page_shot <out-folder>\n");
    return 2;
  }
  QApplication application(argc, argv);
  const QString folder = QString::fromLocal8Bit(argv[1]);

  ShotFrame frame;
  ChooseSampleTitle(frame.state_);
  auto* page = new wizard::ConfigPage(frame, &frame.window_);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(frame.preview_);
  buttons->addStretch(1);
  buttons->addWidget(frame.back_);
  buttons->addWidget(frame.next_);
  auto* layout = new QVBoxLayout(&frame.window_);
  layout->setContentsMargins(0, 0, 0, 8);
  page->setFixedSize(460, 240);
  layout->addWidget(page);
  layout->addLayout(buttons);
  frame.window_.show();
  page->Enter();

  bool saved = true;
  auto* tabs = page->findChild<QTabWidget*>(QStringLiteral("ConfigTabs"));
  const char* const names[] = {"config-general.png", "config-video.png", "config-audio.png",
                               "config-subtitles.png", "config-summary.png"};
  for (int i = 0; i < tabs->count(); ++i) {
    tabs->setCurrentIndex(i);
    saved = Save(&frame.window_, folder, names[i]) && saved;
  }

  tabs->setCurrentIndex(1);
  page->VideoFiltersButtonClick();
  auto* filters = frame.window_.findChild<wizard::TKVNNewFiltersForm*>();
  saved = filters != nullptr && Save(filters, folder, "filter-options.png") && saved;
  if (filters) filters->close();
  page->VideoCodecButtonClick();
  auto* codec = frame.window_.findChild<wizard::TKVNNewCodecForm*>();
  saved = codec != nullptr && Save(codec, folder, "codec-options.png") && saved;
  if (codec) codec->close();
  return saved ? 0 : 1;
}
