// The title page's two waits, on the offscreen platform.
//
//   title_page_bench <sample-dvds folder> <work-folder> [moves] [rounds]
//
// 1. Slider to picture: the page in a bare frame over the letterboxed PAL
//    sample (720x576); the time from a move of PreviewBar to the new preview
//    drawn and flushed, over `moves` random moves (default 100), median and
//    worst. The peer, in the same run: the bare decoder's getRGBFrame for the
//    same frames in the same order. Ours and the peer alternate for `rounds`
//    rounds (default 3), taking turns going first, each on a freshly opened
//    title so that neither finds the other's pictures in the decoder's
//    cache.
// 2. Preparation of a two-hour title: tools/tessmar_rebuild_bench makes its
//    index files (720 copies of ntsc_multi's title set, 240 cells); the VOB
//    files are then filled with those copies for real, so that the sampled
//    frames decode. The time from Next on the title page to the
//    configuration page entered (cut of the audio maps and VobSub index,
//    frame count, border detection on the worker thread behind the wait
//    window), against the same three steps called directly.
#include <sys/stat.h>
#include <time.h>

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "decoder/border_detection.h"
#include "decoder/video_decoder.h"
#include "platform/window_dialogs.h"
#include "tests/wizard/analysed_disc.h"
#include "tests/wizard/test_wizard_frame.h"
#include "wizard/title_key.h"
#include "wizard/title_page.h"
#include "wizard/title_preparation.h"
#include "wizard/title_preview.h"

namespace {

namespace fs = std::filesystem;

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Processor time of the whole process (all threads), in seconds.
double Cpu() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

struct Stats {
  double median_ms = 0, worst_ms = 0;
};
Stats Summarise(std::vector<double> seconds) {
  std::sort(seconds.begin(), seconds.end());
  if (seconds.empty()) return {};
  return {seconds[seconds.size() / 2] * 1000, seconds.back() * 1000};
}

// Counts the paint events of a widget.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

int SliderBench(const std::string& dvds, const std::string& work, int moves, int rounds) {
  kv_test::TestWizardFrame frame;
  auto* page = new wizard::TitlePage(frame);
  frame.SetPage(wizard::kTitlePage, page);
  if (kv_test::AnalyseDisc(dvds + "/pal_letterbox/VIDEO_TS", work + "/slider-job", frame.State()) !=
      1) {
    std::fprintf(stderr, "cannot analyse %s/pal_letterbox\n", dvds.c_str());
    return 1;
  }
  frame.show();
  frame.EnterPage(wizard::kTitlePage);
  const wizard::TitlePage::PreviewState& preview = page->Preview();
  if (!frame.State().PreviewOpen) return 1;
  const bool film = decoder::FilmFlag(frame.State().SelectedTitleSet().FilmShare);
  QApplication::processEvents();

  std::mt19937 random(20240611);
  std::vector<int> positions;
  for (int last = page->PreviewBar->value(); static_cast<int>(positions.size()) < moves;) {
    const int p = std::uniform_int_distribution<int>(0, 128)(random);
    if (p != last) positions.push_back(last = p);
  }
  std::vector<int32_t> frames;
  for (int p : positions)
    frames.push_back(wizard::PreviewFrameNumber(preview.PreviewFrameCount, p, 128));

  PaintCounter painted(page->PreviewImage);
  std::vector<double> ours, bare, ours_cpu, bare_cpu;
  // Ours: the move, the frame decoded, halved, set and painted.
  auto run_page = [&] {
    decoder::OpenVideo(preview.PreviewVideoPath, film);
    QApplication::processEvents();
    for (int p : positions) {
      const int before = painted.paints;
      const double t0 = Now(), c0 = Cpu();
      page->PreviewBar->setValue(p);
      while (painted.paints == before) QApplication::processEvents();
      ours.push_back(Now() - t0);
      ours_cpu.push_back(Cpu() - c0);
    }
    return true;
  };
  // The peer: the same frames straight from the decoder.
  auto run_bare = [&] {
    decoder::OpenVideo(preview.PreviewVideoPath, film);
    for (int32_t n : frames) {
      const double t0 = Now(), c0 = Cpu();
      if (!decoder::GetFrame(n)) return false;
      bare.push_back(Now() - t0);
      bare_cpu.push_back(Cpu() - c0);
    }
    return true;
  };
  // The two take turns going first, so that neither always meets a cold
  // or a warm machine.
  for (int round = 0; round < rounds; ++round) {
    const bool ok = round % 2 == 0 ? run_page() && run_bare() : run_bare() && run_page();
    if (!ok) return 1;
  }
  const Stats o = Summarise(ours), b = Summarise(bare);
  const Stats oc = Summarise(ours_cpu), bc = Summarise(bare_cpu);
  std::printf("slider to picture, %d moves x %d rounds on pal_letterbox %dx%d (%d frames):\n",
              moves, rounds, preview.PictureWidth, preview.PictureHeight,
              preview.PreviewFrameCount);
  std::printf(
      "  title page:    median %6.2f ms, worst %6.2f ms; processor median %6.2f, worst %6.2f\n",
      o.median_ms, o.worst_ms, oc.median_ms, oc.worst_ms);
  std::printf(
      "  bare decoder:  median %6.2f ms, worst %6.2f ms; processor median %6.2f, worst %6.2f\n",
      b.median_ms, b.worst_ms, bc.median_ms, bc.worst_ms);
  std::printf(
      "  ratio page / decoder: median %.2f, worst %.2f  (goal: median < 25 ms, worst < 80 ms)\n",
      o.median_ms / b.median_ms, o.worst_ms / b.worst_ms);
  page->WizardClosing();
  return 0;
}

// Fills the sparse VOB files of the long title set with copies of `unit`
// (they hold that many copies end to end, split into 1 GiB files).
bool FillVobs(const std::string& unit_path, const std::string& work) {
  std::ifstream unit_in(unit_path, std::ios::binary);
  const std::string unit((std::istreambuf_iterator<char>(unit_in)), {});
  if (unit.empty()) return false;
  int64_t at = 0;  // offset in the concatenation
  for (int k = 1; fs::exists(work + "/VTS_01_" + std::to_string(k) + ".VOB"); ++k) {
    const std::string vob = work + "/VTS_01_" + std::to_string(k) + ".VOB";
    const int64_t size = static_cast<int64_t>(fs::file_size(vob));
    std::FILE* f = std::fopen(vob.c_str(), "r+b");
    if (!f) return false;
    for (int64_t done = 0; done < size;) {
      const int64_t in_unit = at % static_cast<int64_t>(unit.size());
      const int64_t n = std::min<int64_t>(size - done, unit.size() - in_unit);
      if (std::fwrite(unit.data() + in_unit, 1, n, f) != static_cast<size_t>(n)) {
        std::fclose(f);
        return false;
      }
      done += n;
      at += n;
    }
    std::fclose(f);
  }
  return at > 0;
}

int PreparationBench(const std::string& dvds, const std::string& work, const char* argv0,
                     int rounds) {
  const std::string unit = dvds + "/ntsc_multi/VIDEO_TS/VTS_01_1.VOB";
  const std::string made = work + "/long";
  const std::string maker = fs::path(argv0).parent_path().string() + "/tessmar_rebuild_bench";
  // Made once per work folder (3 GiB of VOB files).
  if (!fs::exists(made + "/filled")) {
    std::printf("making the two-hour title set with %s ...\n", maker.c_str());
    std::fflush(stdout);
    if (std::system(("'" + maker + "' '" + unit + "' '" + made + "' > /dev/null").c_str()) != 0 ||
        !FillVobs(unit, made)) {
      std::fprintf(stderr, "cannot make the long title set\n");
      return 1;
    }
    std::ofstream(made + "/filled") << "yes\n";
  }

  kv_test::TestWizardFrame frame;
  auto* page = new wizard::TitlePage(frame);
  frame.SetPage(wizard::kTitlePage, page);
  wizard::WizardState& state = frame.State();
  state.JobFolder = work + "/long-job";
  state.JobDataFolder = state.JobFolder + "/.kvnj/";
  state.DvdFolder = work + "/long-dvd/";
  fs::remove_all(state.JobFolder);
  fs::create_directories(state.JobDataFolder);
  fs::create_directories(state.DvdFolder);
  fs::copy_file(made + "/long.IFO", state.DvdFolder + "VTS_01_0.IFO",
                fs::copy_options::overwrite_existing);
  for (const auto& entry : fs::directory_iterator(made)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("long", 0) == 0 && name != "long.IFO")
      fs::copy_file(entry.path(), state.JobDataFolder + "vts01" + name.substr(4));
  }
  wizard::TitleSetInfo& vts = state.TitleSets[1];
  vts.PictureWidth = 720;
  vts.PictureHeight = 480;
  vts.VideoFrameRate = 29.97f;
  vts.PgcCount = 1;
  vts.Pgcs.assign(2, wizard::PgcInfo());
  vts.Pgcs[1].Hours = 2;
  vts.Pgcs[1].FramesAndRate = 0xC0;
  state.TreeStale = true;

  frame.show();
  double t0 = Now();
  frame.EnterPage(wizard::kTitlePage);  // the video-only cut and the preview
  const double preview_s = Now() - t0;
  if (!frame.State().PreviewOpen) return 1;

  std::vector<double> ours, direct, ours_cpu, direct_cpu;
  wizard::PreparationResult result;
  // Ours: Next on the page with the preview open, to the configuration
  // page; then the title unprepared again and back on the title page with
  // its preview open.
  auto run_page = [&] {
    const double t = Now(), c = Cpu();
    frame.NextButtonClick();
    page->WaitForPreparation();
    ours.push_back(Now() - t);
    ours_cpu.push_back(Cpu() - c);
    if (frame.CurrentPage() != wizard::kConfigPage) return false;
    state.TitleSets[1].Pgcs[1].PgcFrameCount = -1;
    state.TitleSets[1].Pgcs[1].PreparedAngle = -1;
    frame.BackButtonClick();
    return state.PreviewOpen;
  };
  // The peer: the preview closed as Next closes it, the three steps called
  // directly, the preview opened again.
  auto run_direct = [&] {
    decoder::CloseVideo();
    state.PreviewOpen = false;
    const double t = Now(), c = Cpu();
    result = wizard::PrepareTitle(wizard::PreparationInputFor(state));
    direct.push_back(Now() - t);
    direct_cpu.push_back(Cpu() - c);
    if (!result.Ok) return false;
    decoder::OpenVideo(page->Preview().PreviewVideoPath, false);
    state.PreviewOpen = true;
    return true;
  };
  for (int round = 0; round < rounds; ++round) {
    const bool ok = round % 2 == 0 ? run_page() && run_direct() : run_direct() && run_page();
    if (!ok) return 1;
  }
  const Stats o = Summarise(ours), d = Summarise(direct);
  const Stats oc = Summarise(ours_cpu), dc = Summarise(direct_cpu);
  std::printf("two-hour title: %d frames, borders %d %d %d %d; preview cut and open %.3f s\n",
              result.FrameCount, result.DetectedRect.Top, result.DetectedRect.Left,
              result.DetectedRect.Width, result.DetectedRect.Height, preview_s);
  std::printf(
      "  Next to the configuration page: median %.3f s, worst %.3f s; processor %.3f s"
      "  (goal < 1.5 s)\n",
      o.median_ms / 1000, o.worst_ms / 1000, oc.median_ms / 1000);
  std::printf("  the same steps called directly: median %.3f s, worst %.3f s; processor %.3f s\n",
              d.median_ms / 1000, d.worst_ms / 1000, dc.median_ms / 1000);
  std::printf("  ratio page / direct: %.2f\n", o.median_ms / d.median_ms);
  page->WizardClosing();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <sample-dvds folder> <work-folder> [moves] [rounds]\n",
                 argv[0]);
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  platform::UseWindowDialogs();
  // Absolute paths: the library's entry points take a path's first
  // character for a drive letter.
  const std::string dvds = fs::absolute(argv[1]).string(), work = fs::absolute(argv[2]).string();
  const int moves = argc > 3 ? std::atoi(argv[3]) : 100;
  const int rounds = argc > 4 ? std::atoi(argv[4]) : 3;
  fs::create_directories(work);
  setvbuf(stdout, nullptr, _IOLBF, 0);
  if (int r = SliderBench(dvds, work, moves, rounds)) return r;
  return PreparationBench(dvds, work, argv[0], rounds);
}
