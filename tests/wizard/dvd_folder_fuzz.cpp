// libFuzzer target over a DVD folder the user picks or drops, through the
// ways the program takes it: the drop's reading, the source page's checks
// on Next, the whole analysis (the disc checksum, an index run of every
// title set, the IFO files) and what the title and configuration pages read
// of the analysed disc. No input may crash or change anything outside the
// new job's folder.
//
// Input: a choice byte, the title set information file's length (two bytes,
// big-endian), its bytes, then the first VOB file's bytes. Choice bits:
// 0 the source is the folder above VIDEO_TS; 1 the file names are lower
// case; 2 a second title set with the same files; 3 the path is given with
// a trailing "/"; 4 a VIDEO_TS.IFO is there too.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "queue/dropped_folder.h"
#include "queue/folder_tree.h"
#include "tests/support/fuzz_scratch.h"
#include "tests/wizard/title_page_reading.h"
#include "wizard/analysis_worker.h"
#include "wizard/source_rules.h"

namespace {

namespace fs = std::filesystem;

struct Fixture {
  std::string disc, jobs;
};

const Fixture& TheFixture() {
  static const Fixture f = [] {
    const std::string& scratch = kv_test::FuzzScratchFolder("dvd-folder-fuzz");
    Fixture f{scratch + "/disc", scratch + "/jobs"};
    fs::create_directories(f.jobs);
    return f;
  }();
  return f;
}

std::string Name(const char* upper, bool lower) {
  std::string name = upper;
  if (lower)
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

// The DVD folder the input describes; returns the path the user gives.
std::string WriteDisc(const Fixture& f, uint8_t choice, std::string_view ifo,
                      std::string_view vob) {
  fs::remove_all(f.disc);
  const bool lower = choice & 2;
  const std::string video_ts = f.disc + "/" + Name("VIDEO_TS", lower);
  fs::create_directories(video_ts);
  kv_test::PutFuzzFile(video_ts + "/" + Name("VTS_01_0.IFO", lower), ifo);
  if (!vob.empty()) kv_test::PutFuzzFile(video_ts + "/" + Name("VTS_01_1.VOB", lower), vob);
  if (choice & 4) {
    kv_test::PutFuzzFile(video_ts + "/" + Name("VTS_02_0.IFO", lower), ifo);
    kv_test::PutFuzzFile(video_ts + "/" + Name("VTS_02_1.VOB", lower), vob.substr(vob.size() / 2));
  }
  if (choice & 16)
    kv_test::PutFuzzFile(video_ts + "/" + Name("VIDEO_TS.IFO", lower), "DVDVIDEO-VMG");
  return ((choice & 1) ? f.disc : video_ts) + ((choice & 8) ? "/" : "");
}

// Every entry of the disc, with the bytes of its files.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    std::string& bytes = files[entry.path().string()];
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return files;
}

class Events : public wizard::AnalysisEvents {
 public:
  void Log(wizard::LogKind, const std::string&) override {}
  void Progress(int percent) override {
    if (percent < 0 || percent > 100) __builtin_trap();
  }
  void RemainingSeconds(int seconds) override {
    if (seconds < 0) __builtin_trap();
  }
  void ShowError(const std::string&) override {}
  bool AskImport() override { return false; }
  void Ended(bool success) override {
    if (ended_) __builtin_trap();  // the end is told once
    ended_ = true;
    success_ = success;
  }
  bool Succeeded() const { return ended_ && success_; }

 private:
  bool ended_ = false;
  bool success_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const Fixture& f = TheFixture();
  const uint8_t choice = data[0];
  const size_t ifo_size = std::min<size_t>(size - 3, size_t{data[1]} << 8 | data[2]);
  const std::string_view ifo(reinterpret_cast<const char*>(data) + 3, ifo_size);
  const std::string_view vob(ifo.data() + ifo_size, size - 3 - ifo_size);
  const std::string source = WriteDisc(f, choice, ifo, vob);
  const std::map<std::string, std::string> disc = Snapshot(f.disc);

  // Dropped on the queue window, the folder opens New Job.
  const queue::DroppedFolder drop = queue::ReadDrop({source});
  if (drop.meaning != queue::DropMeaning::NewJob) __builtin_trap();

  wizard::SourceFields fields{"Fuzz", f.jobs, source, f.jobs + "/Fuzz"};
  wizard::WizardState state;
  if (wizard::AcceptSourceFields(fields, state)) return 0;

  wizard::AnalysisSetup setup;
  setup.JobFolder = state.JobFolder;
  setup.JobDataFolder = state.JobDataFolder;
  setup.DvdFolder = state.DvdFolder;
  wizard::AnalysisControl control;
  Events events;
  wizard::AnalysisWorker(setup, state.TitleSets, control, events).Execute();
  if (events.Succeeded() && !kv_test::ReadAnalysedDisc(state.TitleSets)) __builtin_trap();

  if (Snapshot(f.disc) != disc) __builtin_trap();  // the disc is only read
  if (kv_test::FuzzFolderEntries(f.jobs).size() > 1) __builtin_trap();
  queue::RemoveFolderTree(state.JobFolder);
  return 0;
}
