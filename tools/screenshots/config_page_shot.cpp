// Draws the new-job wizard on its configuration page, sheet by sheet, and
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
#include <QPixmap>
#include <QTabWidget>
#include <cstdio>

#include "platform/window_dialogs.h"
#include "wizard/codec_form.h"
#include "wizard/config_page.h"
#include "wizard/filters_form.h"
#include "wizard/new_form.h"

namespace {

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
  platform::UseWindowDialogs();
  const QString folder = QString::fromLocal8Bit(argv[1]);

  // The wizard window on its configuration page, as page 3 leaves it.
  wizard::TKVNNewForm wizard_window(nullptr);
  wizard_window.show();
  ChooseSampleTitle(wizard_window.State());
  wizard_window.Page(wizard::kConfigPage)->Enter();
  wizard_window.BackButton()->show();
  wizard_window.BackButton()->setEnabled(true);
  auto* page = wizard_window.findChild<wizard::ConfigPage*>();
  QWidget* window = &wizard_window;

  bool saved = true;
  auto* tabs = page->findChild<QTabWidget*>(QStringLiteral("ConfigTabs"));
  const char* const names[] = {"config-general.png", "config-video.png", "config-audio.png",
                               "config-subtitles.png", "config-summary.png"};
  for (int i = 0; i < tabs->count(); ++i) {
    tabs->setCurrentIndex(i);
    saved = Save(window, folder, names[i]) && saved;
  }

  tabs->setCurrentIndex(1);
  page->VideoFiltersButtonClick();
  auto* filters = window->findChild<wizard::TKVNNewFiltersForm*>();
  saved = filters != nullptr && Save(filters, folder, "filter-options.png") && saved;
  if (filters) filters->close();
  page->VideoCodecButtonClick();
  auto* codec = window->findChild<wizard::TKVNNewCodecForm*>();
  saved = codec != nullptr && Save(codec, folder, "codec-options.png") && saved;
  if (codec) codec->close();
  return saved ? 0 : 1;
}
