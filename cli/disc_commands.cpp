#include "cli/disc_commands.h"

#include <stdlib.h>

#include <QEventLoop>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "cli/job_titles.h"
#include "cli/json_text.h"
#include "cli/terminal_messages.h"
#include "dvd/ifo_reader.h"
#include "dvd/language_table.h"
#include "platform/folders.h"
#include "platform/message_box.h"
#include "queue/folder_tree.h"
#include "queue/job_store.h"
#include "wizard/analyze_thread.h"
#include "wizard/config_texts.h"
#include "wizard/job_options.h"
#include "wizard/job_writer.h"
#include "wizard/source_rules.h"
#include "wizard/title_files.h"
#include "wizard/title_preparation.h"
#include "wizard/title_tree.h"
#include "wizard/worker_calls.h"

namespace cli {

namespace {

using wizard::JobSettings;
using wizard::TitleChoice;
using wizard::WizardState;

// Exit statuses: a failure the program reports, a bad argument.
constexpr int kFailed = 1;
constexpr int kBadArgument = 2;

int Fail(const std::string& text, int status) {
  std::fprintf(stderr, "%s\n", ErrorLine(text).c_str());
  return status;
}

// A message with its line breaks turned into blanks, for one error line.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n') c = ' ';
  }
  return text;
}

// The analysis's reports as terminal lines and a progress bar.
class TerminalAnalysis : public wizard::AnalysisEvents {
 public:
  // A scan shows only warnings and errors: its job folder is a scratch one.
  TerminalAnalysis(ProgressPrinter& progress, bool show_information)
      : progress_(progress), show_information_(show_information) {}

  void Log(wizard::LogKind kind, const std::string& text) override {
    if (kind == wizard::LogKind::Working) {
      label_ = text;
      while (!label_.empty() && label_.back() == ' ') label_.pop_back();
      Show();
      return;
    }
    if (kind == wizard::LogKind::Information && !show_information_) return;
    const char* prefix = kind == wizard::LogKind::Warning ? "warning: "
                         : kind == wizard::LogKind::Error ? "error: "
                                                          : "";
    progress_.Message(prefix + text);
  }
  void Progress(int percent) override {
    percent_ = percent;
    Show();
  }
  void RemainingSeconds(int seconds) override {
    left_ = seconds > 0 ? std::optional<int>(seconds) : std::nullopt;
    Show();
  }
  void ShowError(const std::string& message) override {
    progress_.Close();
    platform::ShowMessage(nullptr, message, platform::MessageIcon::Error);
  }
  bool AskImport() override {
    progress_.Close();
    return platform::AskYesNo(nullptr,
                              "Do you want to import the analysis data from a pending job?",
                              platform::MessageIcon::Information);
  }
  void Ended(bool success) override {
    progress_.Close();
    success_ = success;
  }

  bool Succeeded() const { return success_; }

 private:
  void Show() {
    if (!label_.empty()) progress_.Update({static_cast<double>(percent_), left_, label_});
  }

  ProgressPrinter& progress_;
  const bool show_information_;
  std::string label_;
  int percent_ = 0;
  std::optional<int> left_;
  bool success_ = false;
};

std::vector<queue::JobEntry> QueueRows(platform::RegistryAccess& registry) {
  queue::JobStore store(registry);
  store.LoadJobList();
  return store.Jobs();
}

// Runs the wizard's analysis of the state's disc on its worker thread while
// this thread serves its reports. False when it failed (reported) or was
// interrupted (the job folder is removed then).
bool AnalyseDisc(WizardState& state, std::vector<queue::JobEntry> queue_rows, bool scan,
                 ProgressPrinter& progress, const InterruptHook& interrupts) {
  wizard::WorkerCalls calls;
  TerminalAnalysis events(progress, !scan);
  bool interrupted = false;
  {
    wizard::AnalysisSetup setup{
        state.JobFolder, state.JobDataFolder, state.DvdFolder, std::move(queue_rows), {}};
    wizard::TKVNAnalyzeThread thread(std::move(setup), state.TitleSets, events, calls);
    interrupts([&] {
      interrupted = true;
      thread.Terminate();
    });
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
      if (thread.Finished()) loop.quit();
    });
    poll.start(20);
    loop.exec();
    interrupts(nullptr);
  }
  if (interrupted) {
    progress.Close();
    queue::RemoveFolderTree(state.JobFolder);
    platform::ShowMessage(nullptr, "Analysis aborted by user.", platform::MessageIcon::Error);
    return false;
  }
  return events.Succeeded();
}

// The checks of the source page for a name, a destination and a DVD source.
// 0 when `state` holds the job's names and folders.
int AcceptSource(const std::string& name, const std::string& destination, const std::string& dvd,
                 WizardState& state) {
  const std::string location = AbsolutePath(destination);
  const std::string source = AbsolutePath(dvd);
  int last_job_length = 0;
  const wizard::JobPathResult job = wizard::BuildJobPath(name, location, last_job_length);
  if (job.warn_too_long) return Fail("--dest: " + OneLine(wizard::kJobPathTooLong), kBadArgument);
  if (!job.job_folder)
    return Fail("--dest: '" + destination + "' is not a folder path", kBadArgument);
  int last_source_length = 0;
  const wizard::SourceSyntaxResult syntax = wizard::CheckSourceSyntax(source, last_source_length);
  if (syntax.warn_too_long)
    return Fail("--dvd: " + OneLine(wizard::kSourcePathTooLong), kBadArgument);
  if (!syntax.ok) return Fail("--dvd: '" + dvd + "' is not a folder path", kBadArgument);
  if (auto error = wizard::AcceptSourceFields({name, location, source, *job.job_folder}, state)) {
    return Fail(*error, kFailed);
  }
  return 0;
}

// "--title" against the disc's information files, before anything is made.
int CheckTitleArgument(const WizardState& state, TitleArgument& title) {
  const auto ifo = wizard::OpenTitleSetInformation(state.DvdFolder, title.Vts);
  if (!ifo)
    return Fail("--title: the disc has no title set " + std::to_string(title.Vts), kBadArgument);
  if (title.Pgc > ifo->PgcCount()) {
    return Fail("--title: title set " + std::to_string(title.Vts) + " has " +
                    std::to_string(ifo->PgcCount()) + " program chains",
                kBadArgument);
  }
  const auto summary = ifo->Summary(title.Pgc - 1);
  const int angles = summary ? summary->angles : 0;
  if (angles > 1) {
    if (title.Angle == 0) title.Angle = 1;
    if (title.Angle > angles) {
      return Fail("--title: the program chain has " + std::to_string(angles) + " angles",
                  kBadArgument);
    }
  } else if (title.Angle != 0) {
    return Fail("--title: the program chain has no angles", kBadArgument);
  }
  return 0;
}

// The title page's default choice: the longest program chain (its first
// angle when it has angles).
std::optional<TitleChoice> DefaultTitle(const wizard::TitleSetTable& table) {
  const wizard::TitleTreeModel tree = wizard::BuildTitleTree(table);
  if (tree.DefaultNode.empty()) return std::nullopt;
  std::vector<std::string> texts;
  const std::vector<wizard::TitleTreeNode>* level = &tree.Roots;
  const wizard::TitleTreeNode* node = nullptr;
  for (int index : tree.DefaultNode) {
    node = &level->at(index);
    texts.push_back(node->Text);
    level = &node->Children;
  }
  return wizard::ChoiceFromNodeTexts(texts, !node->Children.empty());
}

// --- printing what a scan found ----------------------------------------------

// The list's item texts end in a blank that a terminal line does not need.
std::string Trimmed(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::string LanguageCode(uint16_t language) {
  if (language == 0) return "";
  return std::string{static_cast<char>(language >> 8), static_cast<char>(language & 0xFF)};
}

std::string PlayingTime(const wizard::PgcInfo& pgc) {
  char text[16];
  std::snprintf(text, sizeof text, "%.2d:%.2d:%.2d", pgc.Hours, pgc.Minutes, pgc.Seconds);
  return text;
}

void PrintScan(const WizardState& state, const std::optional<TitleChoice>& longest, bool json) {
  const wizard::TitleSetTable& table = state.TitleSets;
  if (!json)
    std::printf("DVD folder: %s\n", state.DvdFolder.c_str());
  else
    std::printf("{\"formatVersion\": %d, \"dvdFolder\": %s, \"titleSets\": [", kJsonFormatVersion,
                JsonString(state.DvdFolder).c_str());
  bool first_set = true;
  for (int n = 1; n < wizard::kTitleSetTableSize; ++n) {
    const wizard::TitleSetInfo& vts = table[n];
    if (vts.PgcCount == 0) continue;
    if (json) {
      std::printf(
          "%s\n  {\"number\": %d, \"width\": %d, \"height\": %d, \"widescreen\": %s, "
          "\"pal\": %s, \"frameRate\": %.3f, \"progressive\": %s, \"filmShare\": %.1f, "
          "\"programChains\": [",
          first_set ? "" : ",", n, vts.PictureWidth, vts.PictureHeight,
          vts.Widescreen ? "true" : "false", vts.PalVideo ? "true" : "false", vts.VideoFrameRate,
          vts.Progressive ? "true" : "false", vts.FilmShare);
    } else {
      std::printf("\nVTS_%.2d  %dx%d %s %s, %.2f fps, %s, film %.1f %%\n", n, vts.PictureWidth,
                  vts.PictureHeight, vts.PalVideo ? "PAL" : "NTSC", vts.Widescreen ? "16:9" : "4:3",
                  vts.VideoFrameRate, vts.Progressive ? "progressive" : "interlaced",
                  vts.FilmShare);
    }
    first_set = false;
    for (int j = 1; j <= vts.PgcCount; ++j) {
      const wizard::PgcInfo& pgc = vts.Pgcs[j];
      const bool is_longest = longest && longest->Vts == n && longest->Pgc == j;
      if (json) {
        std::printf(
            "%s\n    {\"number\": %d, \"title\": \"%d:%d\", \"playingTime\": \"%s\", "
            "\"angles\": %d, \"longest\": %s, \"audio\": [",
            j > 1 ? "," : "", j, n, j, PlayingTime(pgc).c_str(), pgc.Angles,
            is_longest ? "true" : "false");
        for (size_t i = 0; i < pgc.AudioStreams.size(); ++i) {
          const wizard::PgcAudioEntry& a = pgc.AudioStreams[i];
          std::printf(
              "%s{\"number\": %zu, \"text\": %s, \"format\": %d, \"channels\": %d, "
              "\"language\": %s, \"commentary\": %s}",
              i ? ", " : "", i + 1,
              JsonString(Trimmed(wizard::AudioTrackItemText(static_cast<int>(i), a))).c_str(),
              a.Format, a.Channels, JsonString(LanguageCode(a.Language)).c_str(),
              a.CodeExtension == 3 ? "true" : "false");
        }
        std::printf("], \"subtitles\": [");
        for (size_t i = 0; i < pgc.SubtitleStreams.size(); ++i) {
          const wizard::PgcSubtitleEntry& sp = pgc.SubtitleStreams[i];
          std::printf("%s{\"number\": %zu, \"language\": %s}", i ? ", " : "", i + 1,
                      JsonString(LanguageCode(sp.Language)).c_str());
        }
        std::printf("]}");
        continue;
      }
      std::printf("  %d:%d  PGC %d [%s]", n, j, j, PlayingTime(pgc).c_str());
      if (pgc.Angles > 1) std::printf("  %d angles", pgc.Angles);
      if (is_longest) std::printf("  (longest)");
      std::printf("\n");
      for (size_t i = 0; i < pgc.AudioStreams.size(); ++i) {
        std::printf(
            "      audio     %s\n",
            Trimmed(wizard::AudioTrackItemText(static_cast<int>(i), pgc.AudioStreams[i])).c_str());
      }
      for (size_t i = 0; i < pgc.SubtitleStreams.size(); ++i) {
        std::printf(
            "      subtitles %s\n",
            Trimmed(wizard::SubtitleItemText(static_cast<int>(i), pgc.SubtitleStreams[i])).c_str());
      }
    }
    if (json) std::printf("\n  ]}");
  }
  if (json) std::printf("\n]}\n");
  std::fflush(stdout);
}

// A folder for a scan's analysis, removed with everything in it at the end.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string base = platform::CacheFolder();
    std::filesystem::create_directories(base);
    std::string pattern = base + "/scan-XXXXXX";
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~ScratchFolder() {
    if (!path_.empty()) queue::RemoveFolderTree(path_);
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

int ScanDisc(CliSession& session, const std::string& folder, bool json, ProgressPrinter& progress,
             const InterruptHook& interrupts) {
  ScratchFolder scratch;
  if (scratch.Path().empty()) return Fail("Unable to make a folder for the analysis.", kFailed);
  WizardState state;
  if (const int status = AcceptSource("scan", scratch.Path(), folder, state)) return status;
  if (!AnalyseDisc(state, QueueRows(session.Registry()), true, progress, interrupts))
    return kFailed;
  PrintScan(state, DefaultTitle(state.TitleSets), json);
  return 0;
}

namespace {

// One job of "new": the source page's checks, the analysis (or the import of
// a pending job's), the title's preparation, the options and the writer.
int MakeOneJob(CliSession& session, const NewJobArguments& arguments, const PlannedJob& job,
               ProgressPrinter& progress, const InterruptHook& interrupts) {
  WizardState state;
  if (const int status = AcceptSource(job.Name, arguments.Destination, arguments.DvdFolder, state))
    return status;
  std::optional<TitleArgument> title = job.Title;
  if (title) {
    if (const int status = CheckTitleArgument(state, *title)) return status;
  }

  if (!AnalyseDisc(state, QueueRows(session.Registry()), false, progress, interrupts))
    return kFailed;
  // From here on a failure takes the job's folder away again.
  auto give_up = [&](const std::string& text, int status) {
    queue::RemoveFolderTree(state.JobFolder);
    return Fail(text, status);
  };

  std::optional<TitleChoice> choice;
  if (title) {
    choice = TitleChoice{title->Vts, title->Pgc, title->Angle};
    if (state.TitleSets[title->Vts].PgcCount == 0) {
      return give_up("--title: title set " + std::to_string(title->Vts) + " could not be analysed",
                     kBadArgument);
    }
  } else {
    choice = DefaultTitle(state.TitleSets);
    if (!choice) return give_up("No title of the disc has a playing time.", kFailed);
  }
  state.SelVts = choice->Vts;
  state.SelPgc = choice->Pgc;
  state.SelAngle = choice->Angle;
  progress.Message("Preparing title " + wizard::TitleLabelText(*choice).substr(1));

  const wizard::PreparationResult prepared =
      wizard::PrepareTitle(wizard::PreparationInputFor(state));
  wizard::ApplyPreparation(state, *choice, prepared);
  if (!prepared.Ok) return give_up(prepared.Error, kFailed);
  if (prepared.FrameCount <= 1)
    return give_up("--title: the title has no more than one frame", kBadArgument);

  // The configuration page's proposals for the title, then the options.
  state.PreparedTitle = state.Selection();
  state.TitleKey = prepared.TitleKey;
  state.Settings.InitialiseForTitle(wizard::FactsForTitle(state.SelectedTitleSet(), state.SelPgc));
  if (const std::string refused = wizard::ApplyJobOptions(arguments, state.Settings);
      !refused.empty()) {
    return give_up(refused, kBadArgument);
  }

  const wizard::FinishResult finished = wizard::FinishJob(
      state, session.ProgramFolder(), wizard::JobDateText(), [&](const std::string& folder) {
        queue::JobStore store(session.Registry());
        store.LoadJobList();
        return store.AddJobFromFolder(folder);
      });
  if (!finished.message.empty()) platform::ShowMessage(nullptr, finished.message, finished.icon);
  if (!finished.added) return kFailed;
  const int volumes = wizard::VolumeCountOf(state.Settings);
  progress.Message("Job " + state.JobName + " is in the queue: " + state.JobFolder + " (" +
                   std::to_string(volumes) + (volumes == 1 ? " volume)" : " volumes)"));
  if (const int roll = state.Settings.RollOverSizeMB(); roll > 0) {
    progress.Message("The encoder starts a new file every " + std::to_string(roll) + " MB: " +
                     state.JobName + ".rmvb, " + state.JobName + "_2.rmvb, ... (--split off: one)");
  }
  return 0;
}

// The titles of a "new" with several of them, each checked against the
// disc's information files before anything is made. 0 when `titles` holds
// them.
int TitlesAsked(const NewJobArguments& arguments, std::vector<TitleArgument>& titles) {
  ScratchFolder scratch;
  if (scratch.Path().empty()) return Fail("Unable to make a folder for the analysis.", kFailed);
  WizardState disc;
  if (const int status = AcceptSource("probe", scratch.Path(), arguments.DvdFolder, disc))
    return status;
  titles = arguments.AllTitles
               ? ChainsOfDisc(disc.DvdFolder, arguments.MinLengthMinutes.value_or(0))
               : arguments.Titles;
  if (titles.empty()) {
    return Fail("--min-length: no program chain of the disc plays that long", kBadArgument);
  }
  for (TitleArgument& title : titles) {
    if (const int status = CheckTitleArgument(disc, title)) return status;
  }
  return 0;
}

}  // namespace

int MakeJobs(CliSession& session, const NewJobArguments& arguments, ProgressPrinter& progress,
             const InterruptHook& interrupts) {
  const bool several = arguments.AllTitles || arguments.Titles.size() > 1;
  std::vector<TitleArgument> titles = arguments.Titles;
  if (several) {
    if (const int status = TitlesAsked(arguments, titles)) return status;
  }
  std::vector<PlannedJob> jobs;
  if (const std::string error = PlanJobs(arguments.Name, titles, several, jobs); !error.empty())
    return Fail(error, kBadArgument);
  // The first job analyses the disc; each later one imports the analysis of
  // the job before it, which waits in the queue by then.
  for (size_t i = 0; i < jobs.size(); ++i) {
    if (const int status = MakeOneJob(session, arguments, jobs[i], progress, interrupts)) {
      if (i > 0) {
        progress.Message(std::to_string(i) + " of " + std::to_string(jobs.size()) +
                         " jobs are in the queue; '" + jobs[i].Name +
                         "' and those after it "
                         "were not made.");
      }
      return status;
    }
  }
  return 0;
}

}  // namespace cli
