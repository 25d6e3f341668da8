#include "wizard/analysis_worker.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "dvd/ifo_reader.h"
#include "platform/file_system.h"
#include "queue/folder_tree.h"
#include "wizard/title_files.h"

namespace wizard {

namespace {

// A DVD-Video title set has at most nine VOB files.
constexpr int kMaxTitleSetFiles = 9;

bool IsLpcmDepth(int bits) {
  return bits == 16 || bits == 20 || bits == 24 || bits == 32;
}

}  // namespace

int AnalysisProgress(float percent, int64_t title_set_bytes, int64_t bytes_done, int64_t total) {
  if (total <= 0) return 0;
  const int64_t whole_percent = static_cast<int64_t>(percent);
  return static_cast<int>((whole_percent * title_set_bytes + bytes_done * 100) / total);
}

int RemainingEstimate(int64_t elapsed, int progress) {
  if (progress <= 0 || progress >= 100) return 0;
  return static_cast<int>(elapsed * (100 - progress) / progress);
}

AnalysisWorker::AnalysisWorker(AnalysisSetup setup, TitleSetTable& table, AnalysisControl& control,
                               AnalysisEvents& events)
    : setup_(std::move(setup)), table_(table), control_(control), events_(events) {}

int64_t AnalysisWorker::NowMs() const {
  if (setup_.Clock) return setup_.Clock();
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void AnalysisWorker::Execute() {
  events_.Progress(0);
  if (!Prepare()) return;
  events_.Log(LogKind::Information, "Job created");
  if (!control_.Checkpoint()) return Abort();
  if (FindPendingAnalysis()) {
    if (ImportAnalysis()) events_.Ended(true);
    return;
  }
  if (!control_.Checkpoint()) return Abort();
  log_.Head(setup_.DvdFolder, checksum_);
  if (!AnalyseDisc()) return;
  log_.Write(setup_.JobDataFolder + kAnalysisLogName);  // a log that cannot be made is no loss
  events_.Ended(true);
}

bool AnalysisWorker::Prepare() {
  const std::optional<dvd::DiscChecksum> checksum = dvd::ComputeDiscChecksum(setup_.DvdFolder);
  bool made = false;
  if (checksum) {
    checksum_ = *checksum;
    std::error_code error;
    std::filesystem::create_directories(setup_.JobDataFolder, error);
    // The data folder is hidden by its name.
    made = !error && platform::DirectoryExists(setup_.JobDataFolder);
  }
  if (!made) ReportFatal("Job creation failed", "Error creating new job!");
  return made;
}

bool AnalysisWorker::AnalyseDisc() {
  const std::string& dvd = setup_.DvdFolder;
  total_bytes_ = 0;
  for (const std::string& name : platform::FindFiles(dvd, "VTS_??_*.VOB")) {
    const auto numbers = ParseTitleSetFileName(name, "VOB");
    if (!numbers || numbers->part == 0) continue;
    const std::optional<int64_t> size = platform::FileSize(platform::JoinPath(dvd, name));
    if (!size) {
      total_bytes_ = 0;
      break;
    }
    total_bytes_ += *size;
  }
  if (total_bytes_ <= 0) {
    ReportFatal("Invalid source", "Invalid DVD source!");
    return false;
  }

  bytes_done_ = 0;
  start_ms_ = NowMs();
  int analysed = 0;
  for (const std::string& ifo : platform::FindFiles(dvd, "VTS_??_0.IFO")) {
    if (!control_.Checkpoint()) {
      Abort();
      return false;
    }
    const auto numbers = ParseTitleSetFileName(ifo, "IFO");
    if (!numbers || numbers->part != 0 || numbers->title_set < 1 ||
        numbers->title_set >= kTitleSetTableSize)
      continue;
    const int n = numbers->title_set;
    if (!TitleSetUsable(dvd, n)) {
      events_.Log(LogKind::Warning, TitleSetName(n) + " is invalid");
      continue;
    }
    events_.Log(LogKind::Working, "Analyzing " + TitleSetName(n));
    title_set_bytes_ = 0;
    if (AnalyzeTitleSet(n, false)) {
      ++analysed;
    } else {
      table_[n] = TitleSetInfo();
      if (aborted_) return false;
    }
    bytes_done_ += title_set_bytes_;
    events_.Progress(static_cast<int>(bytes_done_ * 100 / total_bytes_));
  }
  if (analysed == 0) {
    ReportFatal("No valid title sets found",
                "Unable to find a valid title set! The DVD is probably damaged or encrypted!");
    return false;
  }
  return true;
}

bool AnalysisWorker::ListTitleSetFiles(int n, std::vector<std::string>& files) {
  files.clear();
  for (int k = 1; k <= kMaxTitleSetFiles; ++k) {
    const std::string path = FilePathNoCase(setup_.DvdFolder, TitleSetFileName(n, k, "VOB"));
    if (!platform::FileExists(path)) break;
    const std::optional<int64_t> size = platform::FileSize(path);
    if (!size) return false;
    title_set_bytes_ += *size;
    files.push_back(path);
  }
  std::atomic_ref<uint8_t>(control_.Status().scrambled).store(0);
  return !files.empty() && title_set_bytes_ > 0;
}

bool AnalysisWorker::RunIndex(int n, const std::vector<std::string>& files) {
  const int32_t result = control_.StartIndexRun(files, setup_.JobDataFolder + TitleSetBase(n));
  if (result < 0) {
    Abort();
    return false;
  }
  if (result != 0) return false;
  int64_t next_report = NowMs();
  while (control_.LibraryRunning()) {
    if (!control_.Checkpoint()) {
      Abort();
      return false;
    }
    const int64_t now = NowMs();
    if (now >= next_report) {
      const int progress =
          AnalysisProgress(control_.LibraryPercent(), title_set_bytes_, bytes_done_, total_bytes_);
      events_.Progress(progress);
      if (progress > 0)
        events_.RemainingSeconds(RemainingEstimate((now - start_ms_) / 1000, progress));
      next_report = std::max(next_report + kProgressIntervalMs, now + 1);
    }
    // The end of the run is noticed within a poll, while the progress still
    // moves once a second.
    control_.Wait(
        std::chrono::milliseconds(std::clamp<int64_t>(next_report - NowMs(), 1, kPollIntervalMs)));
  }
  return true;
}

bool AnalysisWorker::AnalyzeTitleSet(int n, bool import) {
  const std::string name = TitleSetName(n);
  std::vector<std::string> files;
  if (!import && !ListTitleSetFiles(n, files)) {
    events_.Log(LogKind::Warning, name + " is invalid");
    return false;
  }
  TessmarStatus status{};
  bool ok = false;
  std::unique_ptr<dvd::IfoFile> ifo = OpenTitleSetInformation(setup_.DvdFolder, n);
  if (ifo) {
    if (import) {
      const std::optional<TessmarStatus> stored =
          ReadTitleSetInfo(setup_.JobDataFolder + TitleSetInfoName(n));
      if (stored) {
        status = *stored;
        ok = true;
      }
    } else if (RunIndex(n, files)) {
      status = SnapshotStatus(control_.Status());
      ok = status.finished == 1 && status.scrambled == 0;
    } else if (aborted_) {
      return false;
    } else {
      status = SnapshotStatus(control_.Status());
    }
  }
  ok = ok && FillTitleSet(n, *ifo, status) && CopySubpictureFiles(n, status);
  ifo.reset();
  if (!ok) {
    table_[n] = TitleSetInfo();
    if (!import)
      events_.Log(LogKind::Warning,
                  name + (status.scrambled ? " is CSS encrypted" : " is invalid"));
    return false;
  }
  if (!import) {
    // Files that cannot be made only cost a later job its import.
    WriteTitleSetInfo(setup_.JobDataFolder + TitleSetInfoName(n), status);
    ListTitleSetInLog(n);
  }
  return true;
}

bool AnalysisWorker::FillTitleSet(int n, const dvd::IfoFile& ifo, const TessmarStatus& status) {
  if ((status.aspectCode != 2 && status.aspectCode != 3) || !(status.frameRate >= 1.0f))
    return false;
  TitleSetInfo info;
  info.PictureWidth = static_cast<int16_t>(status.codedWidth);
  info.PictureHeight = static_cast<int16_t>(status.codedHeight);
  info.Widescreen = status.aspectCode == 3;
  info.PalVideo = status.videoKind == 1;
  info.VideoFrameRate = status.frameRate;
  info.Progressive = status.mostlyProgressive != 0;
  info.ProgressiveShare = status.majorityPercent;
  info.FieldOrderTop = status.topFieldFirst != 0;
  info.FilmShare = status.filmPercent;

  const dvd::VtsAudioAttr audio = ifo.AudioAttributes();
  const dvd::VtsSubpictureAttr subpictures = ifo.SubpictureAttributes();
  const int count = ifo.PgcCount();
  if (count <= 0) return false;
  info.PgcCount = count;
  info.Pgcs.resize(static_cast<size_t>(count) + 1);
  for (int j = 1; j <= count; ++j) {
    const auto pgc = ifo.Pgc(j - 1);
    const std::optional<dvd::PgcSummary> summary = ifo.Summary(j - 1);
    if (!pgc || !summary) return false;
    PgcInfo& chain = info.Pgcs[static_cast<size_t>(j)];
    chain.Angles = summary->angles;
    chain.Hours = static_cast<uint8_t>(summary->hours);
    chain.Minutes = static_cast<uint8_t>(summary->minutes);
    chain.Seconds = static_cast<uint8_t>(summary->seconds);
    chain.FramesAndRate = summary->frames_and_rate;
    chain.PgcFrameCount = -1;
    chain.BorderState = 255;
    for (int k = 0; k < audio.count; ++k) {
      const dvd::AudioStreamControl control = dvd::PgcAudioControl(*pgc, k);
      // Stream numbers beyond the eight the library reports are not used.
      if (!control.available || control.stream >= 8) continue;
      const AudioStreamInfo& found = status.audio[control.stream];
      const bool lpcm = found.format == 4;
      if (found.format == 0 || (lpcm && !IsLpcmDepth(found.bitsPerSample))) continue;
      PgcAudioEntry entry;
      entry.StreamNumber = control.stream;
      entry.Format = found.format;
      entry.Channels = lpcm ? found.channels : audio.streams[k].channels;
      entry.DelayMs = static_cast<int16_t>(found.delayMs & 0xFFFF);
      entry.Language = audio.streams[k].language;
      entry.CodeExtension = audio.streams[k].code_extension;
      if (lpcm) {
        entry.BitsPerSample = found.bitsPerSample;
        entry.SampleRate = found.sampleRate;
      }
      chain.AudioStreams.push_back(entry);
    }
    for (int k = 0; k < subpictures.count; ++k) {
      const dvd::SubpictureStreamControl control = dvd::PgcSubpictureControl(*pgc, k);
      if (!control.available) continue;
      const int stream = info.Widescreen ? control.stream_wide : control.stream_4_3;
      if (stream < 0 || stream >= kMaxSubpictureStreams || status.subpicturePresent[stream] != 1)
        continue;
      chain.SubtitleStreams.push_back(
          {stream, subpictures.streams[static_cast<size_t>(k)].language});
    }
  }
  table_[n] = std::move(info);
  return true;
}

bool AnalysisWorker::CopySubpictureFiles(int n, const TessmarStatus& status) {
  TitleSetInfo& info = table_[n];
  const std::string base = TitleSetBase(n);
  for (int k = 0; k < kMaxSubpictureStreams; ++k) {
    if (status.subpicturePresent[k] != 1) continue;
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "_pgc00_a0_st%d.sub", k);
    info.SubtitleFiles[static_cast<size_t>(k)] = base + suffix;
    std::snprintf(suffix, sizeof suffix, "_st%d.sub", k);
    const std::string stream_file = setup_.JobDataFolder + base + suffix;
    if (platform::FileExists(stream_file) &&
        !platform::CopyFileReplacing(
            stream_file, setup_.JobDataFolder + info.SubtitleFiles[static_cast<size_t>(k)]))
      return false;
  }
  return true;
}

void AnalysisWorker::ListTitleSetInLog(int n) {
  log_.TitleSet(n);
  for (const std::string& name :
       platform::FindFiles(setup_.JobDataFolder, TitleSetBase(n) + "*.*")) {
    if (name.find("pgc00_a0") == std::string::npos) log_.File(name);
  }
}

void AnalysisWorker::Abort() {
  aborted_ = true;
  control_.StopLibrary();
}

void AnalysisWorker::ReportFatal(const std::string& title, const std::string& message) {
  // After the user's abort the abort reports, not the failure it caused.
  if (control_.StopRequested()) {
    aborted_ = true;
    return;
  }
  if (platform::DirectoryExists(setup_.JobFolder)) queue::RemoveFolderTree(setup_.JobFolder);
  events_.Log(LogKind::Error, title);
  events_.ShowError(message);
  events_.Ended(false);
}

}  // namespace wizard
