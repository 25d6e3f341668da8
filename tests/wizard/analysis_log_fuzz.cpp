// libFuzzer target over the analysis's two readers: the bytes are a pending
// job's ".idxlog", then (after the first NUL) its "vts01.idxinfo". A second
// job of the same disc looks for the pending analysis and imports it. No
// input may crash, and none may touch a file outside the two job folders
// or change the pending job's. What was imported is read as the title and
// configuration pages read it.
//
// "@DISC@" in the log stands for the disc's folder and "@SUM@" for its
// checksum, so that inputs reach past the log's head.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "dvd/disc_checksum.h"
#include "queue/folder_tree.h"
#include "tests/dvd/ifo_image.h"
#include "tests/support/fuzz_scratch.h"
#include "tests/wizard/title_page_reading.h"
#include "wizard/analysis_files.h"
#include "wizard/analysis_worker.h"

namespace {

namespace fs = std::filesystem;

struct Fixture {
  std::string root, disc, pending, outside, job;
  std::string checksum;
  std::map<std::string, std::string> untouched;  // path -> content
};

void Write(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every file under the root but the new job's, with its content.
std::map<std::string, std::string> Snapshot(const Fixture& f) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(f.root)) {
    const std::string path = entry.path().string();
    if (path.rfind(f.job, 0) == 0) continue;
    files[path] = entry.is_regular_file() ? Read(path) : std::string("<folder>");
  }
  return files;
}

Fixture& TheFixture() {
  // Kept to the end of the process.
  static Fixture& f = *new Fixture([] {
    Fixture f;
    f.root = kv_test::FuzzScratchFolder("analysis-log-fuzz");
    f.disc = f.root + "/disc/VIDEO_TS/";
    f.pending = f.root + "/pending";
    f.outside = f.root + "/outside";
    f.job = f.root + "/new";
    kv_test::IfoImage ifo;
    ifo.audio_count = 1;
    ifo.subpicture_count = 1;
    ifo.subpicture_languages = {"en"};
    kv_test::PgcImage pgc;
    pgc.block_modes = {0, 1, 2, 3};
    pgc.audio_control[0] = {0x80, 0};
    pgc.subpicture_control[0] = {0x80, 0, 0, 0};
    ifo.pgcs = {pgc, pgc};
    Write(f.disc + "VIDEO_TS.IFO", "navigation");
    Write(f.disc + "VTS_01_0.IFO", ifo.BuildString());
    Write(f.disc + "VTS_01_1.VOB", std::string(2048, '\0'));
    const auto sum = dvd::ComputeDiscChecksum(f.disc);
    char hex[16];
    std::snprintf(hex, sizeof hex, "%.8x", sum.value_or(0));
    f.checksum = hex;
    for (const char* name : {"vts01.d2v", "vts01.qmci", "vts01_at0.qmai", "vts01_st0.sub"})
      Write(f.pending + "/.kvnj/" + name, std::string("index of ") + name);
    Write(f.outside + "/secret", "secret");
    Write(f.root + "/sibling.d2v", "sibling");
    return f;
  }());
  return f;
}

std::string Expand(std::string text, const Fixture& f) {
  for (const auto& [mark, value] : {std::pair<std::string, std::string>{"@DISC@", f.disc},
                                    std::pair<std::string, std::string>{"@SUM@", f.checksum}}) {
    for (size_t at; (at = text.find(mark)) != std::string::npos;)
      text.replace(at, mark.size(), value);
  }
  return text;
}

// Takes the import when offered; a normal analysis is not what is fuzzed.
class Events : public wizard::AnalysisEvents {
 public:
  explicit Events(wizard::AnalysisControl& control) : control_(control) {}
  void Log(wizard::LogKind, const std::string& text) override {
    if (text.rfind("Analyzing", 0) == 0) control_.RequestStop();
  }
  void Progress(int percent) override {
    if (percent < 0 || percent > 100) __builtin_trap();
  }
  void RemainingSeconds(int) override {}
  void ShowError(const std::string&) override {}
  bool AskImport() override { return true; }
  void Ended(bool success) override { imported_ = success; }
  bool Imported() const { return imported_; }

 private:
  wizard::AnalysisControl& control_;
  bool imported_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Fixture& f = TheFixture();
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t nul = input.find('\0');
  const std::string log = Expand(input.substr(0, nul), f);
  const std::string info = nul == std::string::npos ? std::string() : input.substr(nul + 1);
  wizard::ParseTitleSetInfo(info);
  wizard::MatchAnalysisLog(log, f.disc, static_cast<uint32_t>(std::stoul(f.checksum, nullptr, 16)));

  Write(f.pending + "/.kvnj/.idxlog", log);
  Write(f.pending + "/.kvnj/vts01.idxinfo", info);
  const std::map<std::string, std::string> before = Snapshot(f);

  wizard::AnalysisSetup setup;
  setup.JobFolder = f.job;
  setup.JobDataFolder = f.job + "/.kvnj/";
  setup.DvdFolder = f.disc;
  queue::JobEntry row;
  row.Path = f.pending;
  setup.Queue = {row};
  wizard::TitleSetTable table;
  wizard::AnalysisControl control;
  Events events(control);
  wizard::AnalysisWorker(setup, table, control, events).Execute();
  // The title and configuration pages read what was imported.
  if (events.Imported() && !kv_test::ReadAnalysedDisc(table)) __builtin_trap();

  if (Snapshot(f) != before) __builtin_trap();  // something outside the new job changed
  queue::RemoveFolderTree(f.job);
  return 0;
}
