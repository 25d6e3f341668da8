#include "tests/faults/fault_road.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "tests/queue/queued_jobs.h"
#include "tests/support/sample_dvds.h"

namespace kv_test {
namespace {

const QString kCli = QStringLiteral(KV_PROGRAM_FOLDER "/kestrevane-cli");
const std::string kEncoder = KV_PROGRAM_FOLDER "/helix/producer";
// The waits for a run's output and end have no bound of their own: a hung
// program is ended by ctest's time-out, a slow machine only takes longer.
constexpr int kNoBound = -1;

std::string Canonical(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::weakly_canonical(path, ignored).string();
}

std::string LinkOf(pid_t pid, const char* name) {
  std::error_code ignored;
  return std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/" + name, ignored)
      .string();
}

}  // namespace

CliChild::CliChild(const std::vector<std::string>& arguments,
                   const std::vector<std::string>& environment) {
  QStringList list;
  for (const std::string& a : arguments) list << QString::fromStdString(a);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const std::string& entry : environment) {
    const size_t equals = entry.find('=');
    env.insert(QString::fromStdString(entry.substr(0, equals)),
               QString::fromStdString(entry.substr(equals + 1)));
  }
  process_.setProcessEnvironment(env);
  process_.start(kCli, list);
  process_.waitForStarted();
}

CliChild::~CliChild() {
  if (process_.state() != QProcess::NotRunning) {
    process_.kill();
    process_.waitForFinished();
  }
}

std::optional<std::string> CliChild::NextLine() {
  for (;;) {
    if (process_.canReadLine()) {
      std::string line = process_.readLine().toStdString();
      out_ += line;
      while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
      return line;
    }
    if (process_.state() == QProcess::NotRunning) {
      const QByteArray rest = process_.readAllStandardOutput();
      if (rest.isEmpty()) return std::nullopt;
      out_ += rest.toStdString();
      return rest.toStdString();
    }
    process_.waitForReadyRead(kNoBound);
  }
}

void CliChild::Kill() {
  process_.kill();
  process_.waitForFinished(kNoBound);
}

int CliChild::Wait() {
  if (process_.state() != QProcess::NotRunning) process_.waitForFinished(kNoBound);
  out_ += process_.readAllStandardOutput().toStdString();
  if (process_.exitStatus() != QProcess::NormalExit) return -1;
  return process_.exitCode();
}

std::string CliChild::Err() {
  return process_.readAllStandardError().toStdString();
}

CliRun RunCli(const std::vector<std::string>& arguments,
              const std::vector<std::string>& environment) {
  CliChild child(arguments, environment);
  CliRun run;
  run.status = child.Wait();
  run.out = child.Out();
  run.err = child.Err();
  return run;
}

ListedRow ListedRowOf(const std::string& folder) {
  ListedRow row;
  const CliRun listed = RunCli({"list", "--json"});
  const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(listed.out));
  const QJsonArray rows = document.isObject() ? document["jobs"].toArray() : document.array();
  for (const QJsonValue& value : rows) {
    const QJsonObject object = value.toObject();
    if (Canonical(object["folder"].toString().toStdString()) != Canonical(folder)) continue;
    row.found = true;
    row.state = object["state"].toString().toStdString();
    row.volumes_done = object["volumesDone"].isNull() ? -1 : object["volumesDone"].toInt();
    row.problem = object["problem"].toString().toStdString();
  }
  return row;
}

std::vector<std::string> NewRoadJobArguments(const std::string& dest) {
  return {
      "new",    "--name", kRoadName, "--dest", dest, "--dvd", SampleDvdRoot() + "/pal_letterbox",
      "--size", "1x2"};
}

std::string RoadVolumePath(const std::string& folder, int volume) {
  return folder + "/" + kRoadName + " (" + std::to_string(volume) + "of" +
         std::to_string(kRoadVolumes) + ").rmvb";
}

const std::vector<std::string>& ReferenceVolumes() {
  static const std::vector<std::string> volumes = [] {
    TempDir dest("kv-fault-reference");
    std::vector<std::string> made;
    if (RunCli(NewRoadJobArguments(dest.Path())).status != 0) return made;
    const std::string folder = dest.File(kRoadName);
    if (RunCli({"encode", folder}).status != 0) return made;
    for (int k = 1; k <= kRoadVolumes; ++k) made.push_back(ReadFile(RoadVolumePath(folder, k)));
    ForgetQueuedJobs();
    return made;
  }();
  return volumes;
}

std::vector<pid_t> OrphanedEncoders() {
  std::vector<pid_t> found;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = static_cast<pid_t>(std::stol(name));
    std::FILE* stat = std::fopen(("/proc/" + name + "/stat").c_str(), "r");
    if (!stat) continue;
    char text[512] = {};
    std::fread(text, 1, sizeof text - 1, stat);
    std::fclose(stat);
    const char* close = std::strrchr(text, ')');
    int parent = 0;
    char state = 0;
    if (!close || std::sscanf(close + 1, " %c %d", &state, &parent) != 2) continue;
    if (parent == getpid() && state != 'Z' && IsEncoder(pid)) found.push_back(pid);
  }
  return found;
}

bool IsEncoder(pid_t pid) {
  return pid > 0 && LinkOf(pid, "exe") == Canonical(kEncoder);
}

void EndOrphan(pid_t pid) {
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

bool OrphanEnded(pid_t pid) {
  const pid_t got = ::waitpid(pid, nullptr, WNOHANG);
  return got == pid || (got < 0 && errno == ECHILD && ::kill(pid, 0) != 0);
}

std::vector<std::string> FaultEnvironment(const std::string& step, const std::string& fault) {
  // A sanitizer runtime accepts the shim before it.
  const char* asan = std::getenv("ASAN_OPTIONS");
  return {std::string("LD_PRELOAD=") + KV_FAULT_SHIM, "KV_FAULT_AT=" + step, "KV_FAULT=" + fault,
          std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0"};
}

}  // namespace kv_test
