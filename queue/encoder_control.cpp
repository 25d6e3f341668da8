#include "queue/encoder_control.h"

#include <QTimer>
#include <cstdio>

#include "platform/file_system.h"
#include "platform/stray_processes.h"
#include "queue/encoder_signal.h"

namespace queue {
namespace {

// Written by the frameserver into the working folder when it opens the
// volume's script.
constexpr char kScriptServedFile[] = "avsdebug";
constexpr char kProcessIdFile[] = "pid";
// How long an encoder left behind may take to go once it is killed.
constexpr std::chrono::milliseconds kStrayGrace{5000};

// The encoder's process id as its "pid" file holds it; none when the file
// cannot be read or holds no number.
std::optional<int> ReadProcessIdFile() {
  std::FILE* file = std::fopen(kProcessIdFile, "rb");
  if (!file) return std::nullopt;
  char text[64];
  size_t got = std::fread(text, 1, sizeof text, file);
  std::fclose(file);
  return ParseProcessIdText(std::string_view(text, got));
}

}  // namespace

TKVNEncoder::TKVNEncoder() : ui_(std::make_unique<QObject>()) {}

TKVNEncoder::~TKVNEncoder() {
  // The workers call into this object: they end before its members go.
  CConRedir::Close();
}

void TKVNEncoder::SetEvents(EncoderEvents* events) {
  events_ = events;
}

void TKVNEncoder::Close() {
  CConRedir::Close();
}

void TKVNEncoder::SetChildPriority(PriorityClass priority) {
  CConRedir::SetChildPriority(NiceValueOf(priority));
}

std::string TKVNEncoder::CommandLine(const std::string& encoder_path, const std::string& job_file) {
  // Quoted only when it has to be: a program folder with a blank in its path
  // would otherwise be cut there.
  std::string program = encoder_path;
  if (program.find_first_of(" \t\"") != std::string::npos) {
    std::string quoted = "\"";
    for (char c : program) {
      if (c == '"') quoted += '\\';
      quoted += c;
    }
    program = quoted + "\"";
  }
  return program + " -j \"" + job_file + "\" -daw -lc \"e,i\" -pid pid";
}

bool TKVNEncoder::StartVolume(const std::string& encoder_path, const std::string& job_file,
                              int volume, int volumes, PriorityClass priority) {
  // Whatever an earlier volume still has queued no longer counts.
  retired_runs_ = CurrentRunNumber();
  banner_seen_ = false;
  done_seen_ = false;
  abort_requested_ = false;
  error_seen_ = false;
  encoder_pid_ = 0;
  {
    std::lock_guard<std::mutex> lock(detail_mutex_);
    failure_detail_.clear();
  }
  volume_ = volume;
  volumes_ = volumes;

  std::optional<EncoderJobInfo> job = ReadEncoderJobInfo(job_file);
  if (!job) return false;
  PassWeights weights = WeightsOf(*job);
  two_pass_ = job->two_pass;
  encode_weight_ = weights.encode;
  first_pass_weight_ = weights.first_pass;
  last_encoding_percent_ = -1;
  last_analysis_percent_ = -1;

  // An encoder that a program ended without stopping (a crash, a kill) may
  // still run in this folder; it would write the same files.
  const std::vector<pid_t> strays = platform::StrayProcesses(encoder_path, ".", ChildProcessId());
  if (!strays.empty() && !platform::EndStrayProcesses(strays, kStrayGrace)) return false;

  if (platform::FileExists(kScriptServedFile)) {
    if (!platform::ClearFileAttributes(kScriptServedFile) ||
        !platform::DeleteFile(kScriptServedFile))
      return false;
  }
  return Open(CommandLine(encoder_path, job_file), NiceValueOf(priority), false);
}

void TKVNEncoder::RequestStop() {
  abort_requested_ = true;
  if (!IsChildRunning() || !banner_seen_) return;
  if (!PostSignalCatcherMessage(encoder_pid_, kStopFirstParameter, kStopSecondParameter)) {
    CConRedir::Close();
    return;
  }
  // An encoder that takes the message and goes on anyway is not waited for
  // forever.
  uint64_t run = CurrentRunNumber();
  QTimer::singleShot(stop_grace_, ui_.get(), [this, run] {
    if (run == CurrentRunNumber() && !IsRetired(run) && IsChildRunning()) CConRedir::Close();
  });
}

void TKVNEncoder::Post(std::function<void()> work) {
  uint64_t run = WorkerRunNumber();
  handover_.Post([this, run, work = std::move(work)] {
    if (!IsRetired(run) && events_) work();
  });
}

void TKVNEncoder::PostProgress(double percent, bool changed) {
  Post([this, percent, changed] { events_->ShowVolumeProgress(percent, changed); });
}

void TKVNEncoder::OnStdOutLine(const std::string& line) {
  if (IsRetired(WorkerRunNumber())) return;
  if (error_seen_ || abort_requested_) return;
  EncoderLine parsed = ClassifyEncoderLine(line);
  PassWeights weights{encode_weight_, first_pass_weight_};
  switch (parsed.kind) {
    case EncoderLineKind::Encoding: {
      if (!parsed.percent) return;
      int figure = *parsed.percent;
      bool changed = figure != last_encoding_percent_.exchange(figure);
      PostProgress(EncodingVolumePercent(figure, weights, two_pass_), changed);
      return;
    }
    case EncoderLineKind::Analysis: {
      if (!parsed.percent) return;
      int figure = *parsed.percent;
      bool changed = figure != last_analysis_percent_.exchange(figure);
      PostProgress(AnalysisVolumePercent(figure, weights), changed);
      return;
    }
    case EncoderLineKind::Error: {
      // The first error is the cause; the run's lines after it are ignored.
      std::string detail = line.substr(line.find("Error: ") + 7);
      while (!detail.empty() && (detail.back() == '\r' || detail.back() == ' ')) detail.pop_back();
      std::lock_guard<std::mutex> lock(detail_mutex_);
      failure_detail_ = detail;
      error_seen_ = true;
      return;
    }
    case EncoderLineKind::StartingEncode:
      if (platform::FileExists(kScriptServedFile)) {
        PostProgress(0.0, false);
      } else {
        // The frameserver never served the script: the encoder cannot work.
        error_seen_ = true;
        CConRedir::Close();
      }
      return;
    case EncoderLineKind::Done:
      done_seen_ = true;
      return;
    case EncoderLineKind::Banner: {
      std::optional<int> pid = ReadProcessIdFile();
      if (pid) encoder_pid_ = *pid;
      banner_seen_ = true;
      if (!pid) {
        // Without its process id the encoder could not be stopped.
        error_seen_ = true;
        CConRedir::Close();
      }
      return;
    }
    case EncoderLineKind::Other:
      return;
  }
}

std::string TKVNEncoder::FailureDetail() const {
  std::lock_guard<std::mutex> lock(detail_mutex_);
  return failure_detail_;
}

void TKVNEncoder::OnChildEnded() {
  Post([this] { ReportEnd(); });
}

void TKVNEncoder::ReportEnd() {
  bool banner = banner_seen_.exchange(false);
  if (abort_requested_) {
    events_->RunStopped(false, std::string());
  } else if (error_seen_) {
    events_->RunStopped(true, "Encoding failed!");
  } else if (done_seen_) {
    events_->ShowVolumeProgress(100.0, true);
    events_->VolumeFinished(volume_, volumes_);
  } else if (banner) {
    events_->RunStopped(true, "Encoder was abnormally terminated!");
  } else {
    events_->RunStopped(true, "Unable to initialize encoder!");
  }
}

}  // namespace queue
