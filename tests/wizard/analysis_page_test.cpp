// The analysis page driven through the real wizard over the sample discs:
// what it finds against libdvdread and ffprobe, the files it leaves, the
// damaged discs, the abort at several moments of a run, and the import of
// a pending job's analysis.
#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QProgressBar>
#include <QStackedWidget>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <thread>

#include "app/shell_state.h"
#include "dvd/disc_checksum.h"
#include "platform/file_system.h"
#include "queue/job_file.h"
#include "tests/support/sample_dvds.h"
#include "tests/tessmar/tessmar_test_util.h"
#include "tests/wizard/analysis_events_recorder.h"
#include "tests/wizard/wizard_fixture.h"
#include "wizard/analysis_files.h"
#include "wizard/analysis_page.h"
#include "wizard/analysis_worker.h"

namespace {

namespace fs = std::filesystem;
using platform::MessageAnswer;
using platform::MessageIcon;
using Lines = std::vector<std::string>;

int Bcd(uint8_t value) {
  return (value >> 4) * 10 + (value & 0x0F);
}

// libdvdread's audio coding as the library's format numbers.
int FormatOf(const audio_attr_t& attr) {
  switch (attr.audio_format) {
    case 0:
      return 1;  // AC-3
    case 2:
    case 3:
      return 3;  // MPEG audio
    case 4:
      return 4;  // LPCM
    case 6:
      return 2;  // DTS
  }
  return 0;
}

std::vector<int> TitleSetsOf(const std::string& video_ts) {
  std::vector<int> numbers;
  for (const std::string& name : platform::FindFiles(video_ts, "VTS_??_0.IFO"))
    numbers.push_back(std::stoi(name.substr(4, 2)));
  return numbers;
}

// Seconds from the first video picture to the start of audio stream `id`
// in the title set's VOB files, as ffprobe reads them.
double FfprobeDelayMs(const std::string& url, const std::string& id) {
  double video = NAN, audio = NAN;
  for (const std::string& s : kv_test::FfprobeStreams(url, "id,start_time")) {
    const size_t comma = s.find(',');
    if (comma == std::string::npos || s.substr(comma + 1).empty()) continue;
    if (s.substr(0, comma) == "0x1e0") video = std::stod(s.substr(comma + 1));
    if (s.substr(0, comma) == id) audio = std::stod(s.substr(comma + 1));
  }
  return (audio - video) * 1000.0;
}

std::string StreamId(int format, int stream) {
  static const int kBase[] = {0, 0x80, 0x88, 0x1c0, 0xa0};
  char id[16];
  std::snprintf(id, sizeof id, "0x%x", kBase[format] + stream);
  return id;
}

// The analysis result against libdvdread's reading of the IFO files and
// ffprobe's reading of the streams.
void CompareWithIndependentReaders(const std::string& disc, const wizard::TitleSetTable& table) {
  dvd_reader_t* reader = DVDOpen((kv_test::SampleDvdRoot() + "/" + disc).c_str());
  ASSERT_NE(reader, nullptr);
  for (int n : TitleSetsOf(kv_test::SampleVideoTs(disc))) {
    SCOPED_TRACE(disc + " title set " + std::to_string(n));
    ifo_handle_t* ifo = ifoOpen(reader, n);
    ASSERT_NE(ifo, nullptr);
    const wizard::TitleSetInfo& info = table[n];
    const vtsi_mat_t* mat = ifo->vtsi_mat;
    EXPECT_EQ(info.Widescreen, mat->vts_video_attr.display_aspect_ratio == 3);
    const std::string url = kv_test::ConcatUrl(kv_test::SampleVobs(disc, n));
    // The picture size as ffprobe reads the stream (an IFO may say otherwise).
    int width = 0, height = 0;
    for (const std::string& s : kv_test::FfprobeStreams(url, "codec_type,width,height"))
      if (s.rfind("video,", 0) == 0) std::sscanf(s.c_str(), "video,%d,%d", &width, &height);
    EXPECT_EQ(info.PictureWidth, (width + 15) / 16 * 16);
    EXPECT_EQ(info.PictureHeight, (height + 15) / 16 * 16);
    ASSERT_EQ(info.PgcCount, ifo->vts_pgcit->nr_of_pgci_srp);
    for (int i = 0; i < info.PgcCount; ++i) {
      SCOPED_TRACE("program chain " + std::to_string(i + 1));
      const pgc_t* pgc = ifo->vts_pgcit->pgci_srp[i].pgc;
      const wizard::PgcInfo& chain = info.Pgcs[static_cast<size_t>(i + 1)];
      EXPECT_EQ(chain.Hours, Bcd(pgc->playback_time.hour));
      EXPECT_EQ(chain.Minutes, Bcd(pgc->playback_time.minute));
      EXPECT_EQ(chain.Seconds, Bcd(pgc->playback_time.second));
      EXPECT_EQ(chain.Frames(), Bcd(pgc->playback_time.frame_u & 0x3F));
      EXPECT_EQ(chain.FramesAndRate >> 6, pgc->playback_time.frame_u >> 6);
      int angles = 0;
      for (int c = 0; c < pgc->nr_of_cells; ++c) {
        const int mode = pgc->cell_playback[c].block_mode;
        angles = mode == 1 ? 1 : mode >= 2 ? angles + 1 : angles;
      }
      EXPECT_EQ(chain.Angles, angles);
      EXPECT_EQ(chain.PgcFrameCount, -1);
      EXPECT_EQ(chain.BorderState, 255);

      std::vector<std::string> expected, found;
      for (int k = 0; k < mat->nr_of_vts_audio_streams; ++k) {
        if (!(pgc->audio_control[k] & 0x8000)) continue;
        const audio_attr_t& attr = mat->vts_audio_attr[k];
        expected.push_back(
            std::to_string((pgc->audio_control[k] >> 8) & 0x7F) + " " +
            std::to_string(FormatOf(attr)) + " " + std::to_string(attr.channels + 1) + " " +
            std::to_string(attr.lang_code) + " " + std::to_string(attr.code_extension));
      }
      for (const wizard::PgcAudioEntry& a : chain.AudioStreams) {
        found.push_back(std::to_string(a.StreamNumber) + " " + std::to_string(a.Format) + " " +
                        std::to_string(a.Channels) + " " + std::to_string(a.Language) + " " +
                        std::to_string(a.CodeExtension));
        const double frame_ms = 1000.0 / info.VideoFrameRate;
        EXPECT_NEAR(a.DelayMs, FfprobeDelayMs(url, StreamId(a.Format, a.StreamNumber)), frame_ms);
      }
      EXPECT_EQ(found, expected);

      expected.clear();
      found.clear();
      for (int k = 0; k < mat->nr_of_vts_subp_streams; ++k) {
        const uint32_t control = pgc->subp_control[k];
        if (!(control & 0x80000000u)) continue;
        const int stream = info.Widescreen ? (control >> 16) & 0xFF : (control >> 24) & 0x7F;
        expected.push_back(std::to_string(stream) + " " +
                           std::to_string(mat->vts_subp_attr[k].lang_code));
      }
      for (const wizard::PgcSubtitleEntry& s : chain.SubtitleStreams)
        found.push_back(std::to_string(s.StreamNumber) + " " + std::to_string(s.Language));
      EXPECT_EQ(found, expected);
    }
    ifoClose(ifo);
  }
  DVDClose(reader);
}

class AnalysisPageTest : public kv_test::WizardTest {
 protected:
  int NotebookPage() { return Find<QStackedWidget>("Notebook")->currentIndex(); }
  wizard::AnalysisPage* Page() { return Find<wizard::AnalysisPage>("Step2"); }
  std::string DataFolder() { return Jobs() + "/Job/.kvnj/"; }

  // A copy of a sample disc in the test's folder, to be damaged.
  std::string CopyOfDisc(const std::string& disc) {
    const std::string copy = dir_.File("discs/" + disc);
    fs::create_directories(copy);
    fs::copy(kv_test::SampleVideoTs(disc), copy + "/VIDEO_TS", fs::copy_options::recursive);
    return copy;
  }
};

TEST_F(AnalysisPageTest, EverySampleDiscAgreesWithLibdvdreadAndLeavesTheFilesItsLogNames) {
  OpenWizard();
  std::vector<std::string> discs;
  for (const auto& entry : fs::directory_iterator(kv_test::SampleDvdRoot()))
    if (fs::is_directory(entry.path() / "VIDEO_TS") &&
        entry.path().filename().string().rfind("bad_", 0) != 0)
      discs.push_back(entry.path().filename().string());
  EXPECT_GE(discs.size(), 4u);
  for (const std::string& disc : discs) {
    SCOPED_TRACE(disc);
    sounds_.played.clear();
    StartAnalysis(kv_test::SampleDvdRoot() + "/" + disc);
    EXPECT_EQ(NotebookPage(), 1);
    WaitForAnalysis();
    ASSERT_TRUE(WizardOpen());
    const wizard::WizardState& state = Wizard()->State();
    ASSERT_TRUE(state.AnalysisDone);
    Lines expected = {"Analysis started", "Job created"};
    for (int n : TitleSetsOf(kv_test::SampleVideoTs(disc)))
      expected.push_back("Analyzing " + wizard::TitleSetName(n));
    expected.push_back("Analysis finished");
    EXPECT_EQ(LogLines(), expected);
    EXPECT_TRUE(Button("NextButton")->isEnabled());
    EXPECT_EQ(Find<QProgressBar>("ProgressBar")->value(), 100);
    EXPECT_EQ(LabelText("HeaderComment"), "Press the \"Next\" button to continue!");
    EXPECT_EQ(sounds_.played, std::vector<platform::SystemSound>{platform::SystemSound::Default});
    CompareWithIndependentReaders(disc, state.TitleSets);

    // The log names exactly the files of the data folder, less the copies
    // made for the titles, and each title set's status block reads back.
    const auto checksum = dvd::ComputeDiscChecksum(state.DvdFolder);
    ASSERT_TRUE(checksum);
    const auto logged = wizard::MatchAnalysisLog(kv_test::ReadFile(DataFolder() + ".idxlog"),
                                                 state.DvdFolder, *checksum);
    ASSERT_TRUE(logged);
    Lines files, present;
    for (const std::string& line : *logged)
      if (!wizard::IsTitleSetLine(line)) files.push_back(line);
    for (const std::string& name : platform::FindFiles(DataFolder(), "*.*"))
      if (name != ".idxlog" && name.find("pgc00_a0") == std::string::npos) present.push_back(name);
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, present);
    for (int n = 1; n < wizard::kTitleSetTableSize; ++n) {
      const wizard::TitleSetInfo& info = state.TitleSets[n];
      if (info.PgcCount == 0) continue;
      const auto block = wizard::ReadTitleSetInfo(DataFolder() + wizard::TitleSetInfoName(n));
      ASSERT_TRUE(block) << n;
      EXPECT_EQ(block->finished, 1);
      EXPECT_EQ(block->codedWidth, info.PictureWidth);
      EXPECT_EQ(block->frameRate, info.VideoFrameRate);
      for (const wizard::PgcAudioEntry& a : info.Pgcs[1].AudioStreams)
        EXPECT_EQ(static_cast<int16_t>(block->audio[a.StreamNumber].delayMs), a.DelayMs);
      for (int k = 0; k < wizard::kMaxSubpictureStreams; ++k) {
        const std::string& copy = info.SubtitleFiles[static_cast<size_t>(k)];
        if (copy.empty()) continue;
        EXPECT_EQ(kv_test::ReadFile(DataFolder() + copy),
                  kv_test::ReadFile(DataFolder() + wizard::TitleSetBase(n) + "_st" +
                                    std::to_string(k) + ".sub"));
      }
    }

    // On to the title page, and back: the analysis is discarded.
    Click("NextButton");
    EXPECT_EQ(NotebookPage(), 2);
    EXPECT_EQ(LabelText("HeaderTitle"), "Select title");
    boxes_.Answer(MessageAnswer::Yes);
    Click("BackButton");
    EXPECT_EQ(boxes_.Messages().back().text,
              "The result of the analysis will be discarded. Are you sure you want to do this?");
    EXPECT_EQ(NotebookPage(), 0);
    EXPECT_FALSE(fs::exists(Jobs() + "/Job"));
    EXPECT_TRUE(Button("NextButton")->isEnabled());
  }
}

// Damaged discs: the title sets that cannot be analysed are logged and
// skipped (a disc with one good and one empty title set analyses the good
// one); without any, the failure is shown, the folder removed and the wizard
// closed.
TEST_F(AnalysisPageTest, DamagedDiscsAreReported) {
  const std::string empty_ifo = CopyOfDisc("ntsc_multi");
  // Title set 2's information file and its backup, both empty.
  for (const char* name : {"VTS_02_0.IFO", "VTS_02_0.BUP"})
    ASSERT_EQ(::truncate((empty_ifo + "/VIDEO_TS/" + name).c_str(), 0), 0);
  const std::string not_an_ifo = CopyOfDisc("ntsc_film");
  kv_test::WriteFile(not_an_ifo + "/VIDEO_TS/VTS_01_0.IFO", std::string(4096, 'x'));
  const struct {
    std::string source;
    Lines log;
    const char* error;  // nullptr: the analysis succeeds
  } cases[] = {
      {empty_ifo,
       {"Analysis started", "Job created", "Analyzing VTS_01", "VTS_02 is invalid",
        "Analysis finished"},
       nullptr},
      // The title set's VOB files up to the gap, or up to the cut.
      {kv_test::SampleDvdRoot() + "/bad_missing_vob",
       {"Analysis started", "Job created", "Analyzing VTS_01", "Analysis finished"},
       nullptr},
      {kv_test::SampleDvdRoot() + "/bad_truncated_vob",
       {"Analysis started", "Job created", "Analyzing VTS_01", "Analysis finished"},
       nullptr},
      {not_an_ifo,
       {"Analysis started", "Job created", "Analyzing VTS_01", "VTS_01 is invalid",
        "No valid title sets found"},
       "Unable to find a valid title set! The DVD is probably damaged or encrypted!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    OpenWizard();
    if (c.error) boxes_.Answer(MessageAnswer::Ok);
    StartAnalysis(c.source);
    const QPointer<wizard::AnalysisPage> page = Page();
    WaitForAnalysis();
    if (!c.error) {
      ASSERT_TRUE(WizardOpen());
      EXPECT_EQ(LogLines(), c.log);
      EXPECT_TRUE(Wizard()->State().AnalysisDone);
      EXPECT_GT(Wizard()->State().TitleSets[1].PgcCount, 0);
      EXPECT_EQ(Wizard()->State().TitleSets[2].PgcCount, 0);
      boxes_.Answer(MessageAnswer::Yes);
      CloseWizard();  // the analysis is done: the close question
      continue;
    }
    EXPECT_FALSE(WizardOpen());
    EXPECT_EQ(boxes_.Messages().back().text, c.error);
    EXPECT_EQ(boxes_.Messages().back().icon, MessageIcon::Error);
    EXPECT_FALSE(fs::exists(Jobs() + "/Job"));
    EXPECT_TRUE(Window().isEnabled());
  }
}

// The fields of the analysed title sets, one line each.
Lines Dump(const wizard::TitleSetTable& table) {
  Lines lines;
  char line[256];
  for (int n = 1; n < wizard::kTitleSetTableSize; ++n) {
    const wizard::TitleSetInfo& t = table[n];
    if (t.PgcCount == 0) continue;
    std::snprintf(line, sizeof line, "%d: %dx%d w%d p%d %.3f prog%d %.2f top%d film%.2f pgcs%d", n,
                  t.PictureWidth, t.PictureHeight, t.Widescreen, t.PalVideo, t.VideoFrameRate,
                  t.Progressive, t.ProgressiveShare, t.FieldOrderTop, t.FilmShare, t.PgcCount);
    lines.push_back(line);
    for (int j = 1; j <= t.PgcCount; ++j) {
      const wizard::PgcInfo& p = t.Pgcs[static_cast<size_t>(j)];
      std::snprintf(line, sizeof line, " pgc %d: a%d %d:%d:%d f%d", j, p.Angles, p.Hours, p.Minutes,
                    p.Seconds, p.FramesAndRate);
      lines.push_back(line);
      for (const auto& a : p.AudioStreams) {
        std::snprintf(line, sizeof line, "  audio %d f%d c%d d%d l%d e%d b%d r%d", a.StreamNumber,
                      a.Format, a.Channels, a.DelayMs, a.Language, a.CodeExtension, a.BitsPerSample,
                      a.SampleRate);
        lines.push_back(line);
      }
      for (const auto& sp : p.SubtitleStreams)
        lines.push_back("  sub " + std::to_string(sp.StreamNumber) + " " +
                        std::to_string(sp.Language));
    }
    for (const std::string& file : t.SubtitleFiles)
      if (!file.empty()) lines.push_back(" " + file);
  }
  return lines;
}

// A second job of the same disc takes the first one's analysis: the library
// does not run ("Importing", never "Analyzing"), and every file is a copy.
TEST_F(AnalysisPageTest, ASecondJobOfTheSameDiscImportsThePendingOnesAnalysis) {
  const std::string first = Jobs() + "/First";
  wizard::TitleSetTable first_table;
  {
    wizard::AnalysisSetup setup;
    setup.JobFolder = first;
    setup.JobDataFolder = first + "/.kvnj/";
    setup.DvdFolder = kv_test::SampleVideoTs("ntsc_multi") + "/";
    wizard::AnalysisControl control;
    kv_test::AnalysisEventsRecorder events;
    wizard::AnalysisWorker(setup, first_table, control, events).Execute();
    ASSERT_EQ(events.ends, std::vector<bool>{true});
  }
  kv_test::WriteFile(queue::JobFilePathOf(first),
                     queue::FormatJobFileText("First", "09.12.2026 10:00", "0 / 1", "--", "--"));
  ListJob(first, "First");
  OpenWizard();
  boxes_.Answer(MessageAnswer::Yes);
  StartAnalysis(kv_test::SampleDvdRoot() + "/ntsc_multi");
  WaitForAnalysis();
  ASSERT_TRUE(WizardOpen());
  ASSERT_EQ(boxes_.Messages().size(), 1u);
  EXPECT_EQ(boxes_.Messages()[0].text,
            "Do you want to import the analysis data from a pending job?");
  EXPECT_EQ(boxes_.Messages()[0].icon, MessageIcon::Information);
  EXPECT_EQ(LogLines(), (Lines{"Analysis started", "Job created", "Importing VTS_01",
                               "Importing VTS_02", "Analysis finished"}));
  EXPECT_EQ(Dump(Wizard()->State().TitleSets), Dump(first_table));
  EXPECT_FALSE(Dump(first_table).empty());
  // Every file of the first job's analysis, byte for byte; the JobFile stays.
  int compared = 0;
  for (const std::string& name : platform::FindFiles(first + "/.kvnj", "*.*")) {
    if (name == ".kvnj") continue;
    EXPECT_EQ(kv_test::ReadFile(DataFolder() + name), kv_test::ReadFile(first + "/.kvnj/" + name))
        << name;
    ++compared;
  }
  EXPECT_GT(compared, 10);
  EXPECT_FALSE(fs::exists(DataFolder() + ".kvnj"));
}

// Abort through Back and through closing, before the first title set, while
// the library runs, and between two title sets: the question pauses the
// analysis, No lets it go on, Yes leaves no folder and no worker.
class AbortTest : public AnalysisPageTest {
 protected:
  // ntsc_multi with a first title set made long with zeros.
  std::string LongDisc() {
    if (long_disc_.empty()) {
      long_disc_ = CopyOfDisc("ntsc_multi");
      EXPECT_EQ(::truncate((long_disc_ + "/VIDEO_TS/VTS_01_1.VOB").c_str(), int64_t{128} << 20), 0);
    }
    return long_disc_;
  }
  // Serves the wizard until `file` of the job's data folder exists, then
  // stops serving: the worker stands in its next call into the wizard.
  void AwaitFile(const std::string& file) {
    kv_test::ServeEventsUntil([&] { return fs::exists(DataFolder() + file); });
  }
  void Ask(bool through_close, MessageAnswer answer) {
    const size_t before = boxes_.Messages().size();
    boxes_.Answer(answer);
    if (answer == MessageAnswer::Yes) boxes_.Answer(MessageAnswer::Ok);
    if (through_close)
      Wizard()->close();
    else
      Click("BackButton");
    ASSERT_GT(boxes_.Messages().size(), before);
    EXPECT_EQ(boxes_.Messages()[before].text, through_close
                                                  ? "Do you really want to close this wizard?"
                                                  : "Do you really want abort the analysis?");
    EXPECT_EQ(boxes_.Messages()[before].icon, MessageIcon::Warning);
  }
  std::string long_disc_;
};

TEST_F(AbortTest, AtEveryMomentThroughBackAndClose) {
  enum Moment { kBefore, kDuring, kBetween };
  for (bool through_close : {false, true}) {
    for (Moment moment : {kBefore, kDuring, kBetween}) {
      SCOPED_TRACE(std::string(through_close ? "close" : "back") + " moment " +
                   std::to_string(moment));
      OpenWizard();
      StartAnalysis(LongDisc());
      if (moment == kDuring) AwaitFile("vts01.d2v");
      if (moment == kBetween) AwaitFile("vts01.idxinfo");
      const QPointer<wizard::AnalysisPage> page = Page();
      app::Shell().ClosingInProgress = through_close;
      Ask(through_close, MessageAnswer::No);
      ASSERT_TRUE(WizardOpen());
      EXPECT_TRUE(Wizard()->State().AnalysisRunning);
      EXPECT_TRUE(page->WorkerRunning() || Wizard()->State().AnalysisDone);
      EXPECT_FALSE(app::Shell().ClosingInProgress);
      EXPECT_EQ(sleep_.Held().size(), 1u) << "the computer is kept awake";
      Ask(through_close, MessageAnswer::Yes);
      EXPECT_TRUE(sleep_.Held().empty()) << "an aborted analysis lets the computer sleep";
      EXPECT_EQ(boxes_.Messages().back().text, "Analysis aborted by user.");
      EXPECT_EQ(boxes_.Messages().back().icon, MessageIcon::Error);
      EXPECT_FALSE(fs::exists(Jobs() + "/Job"));
      if (through_close) {
        SettleDeletes();
        EXPECT_FALSE(WizardOpen());
        EXPECT_TRUE(Window().isEnabled());
      } else {
        ASSERT_TRUE(WizardOpen());
        EXPECT_FALSE(page->WorkerRunning());
        EXPECT_EQ(NotebookPage(), 0);
        EXPECT_EQ(LogLines().back(), "Analysis aborted");
        boxes_.Answer(MessageAnswer::Yes);
        CloseWizard();
      }
    }
  }
}

TEST_F(AbortTest, AnsweringNoLetsTheRunFinish) {
  OpenWizard();
  StartAnalysis(LongDisc());
  AwaitFile("vts01.d2v");
  ASSERT_EQ(sleep_.Held().size(), 1u) << "the computer is kept awake while the analysis runs";
  EXPECT_EQ(sleep_.Held()[0].rfind("Analysing the DVD folder " + LongDisc(), 0), 0u)
      << sleep_.Held()[0];
  Ask(false, MessageAnswer::No);
  WaitForAnalysis();
  EXPECT_TRUE(sleep_.Held().empty()) << "and not after it";
  ASSERT_TRUE(WizardOpen());
  EXPECT_TRUE(Wizard()->State().AnalysisDone);
  EXPECT_EQ(LogLines().back(), "Analysis finished");
  EXPECT_EQ(Wizard()->State().TitleSets[1].PgcCount, 1);
}

}  // namespace
